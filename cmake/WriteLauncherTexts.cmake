# Writes the header of the window's texts that a packager sets (the LAUNCHER_* cache variables) as C++ string
# literals that hold each text exactly, whatever it holds: quotes, backslashes, line breaks and any Unicode.
# Used by the build, and as a script by the tests: cmake -DLAUNCHER_...=... -DTEXTS_OUT=<file> -P <this file>
set(LAUNCHER_TEXTS_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/../src/app/launcher_texts.h.in)

function(launcher_write_texts output)
  foreach(name COPYRIGHT_TEXT WEBSITE_HOST WEBSITE_URL CHAT_GROUP IMAGE_MODELS VIDEO_MODELS)
    # Printable ASCII stands as it is; every other byte (quotes, backslashes, question marks that could form
    # trigraphs, control characters, each byte of a non-ASCII character) becomes a hex escape that ends its
    # own literal piece, so that no following character can extend it.
    string(HEX "${LAUNCHER_${name}}" hex)
    string(LENGTH "${hex}" length)
    set(literal "\"")
    set(at 0)
    while(at LESS length)
      string(SUBSTRING "${hex}" ${at} 2 byte)
      math(EXPR code "0x${byte}")
      if(code GREATER_EQUAL 32 AND code LESS 127 AND NOT code EQUAL 34 AND NOT code EQUAL 92 AND NOT code EQUAL 63)
        string(ASCII ${code} character)
        string(APPEND literal "${character}")
      else()
        string(APPEND literal "\\x${byte}\" \"")
      endif()
      math(EXPR at "${at} + 2")
    endwhile()
    set(LAUNCHER_${name}_LITERAL "${literal}\"")
  endforeach()
  configure_file(${LAUNCHER_TEXTS_TEMPLATE} ${output} @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  launcher_write_texts(${TEXTS_OUT})
endif()
