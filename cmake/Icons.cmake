# The icon, drawn as SVG (packaging/lanqi-launcher.svg) and rendered to PNG at build time, for the window and
# for the desktop; and Qt's translation of its own texts, which the bundle carries.
find_program(LAUNCHER_RSVG_CONVERT rsvg-convert REQUIRED)
set(LAUNCHER_ICON_SVG ${PROJECT_SOURCE_DIR}/packaging/lanqi-launcher.svg)
set(LAUNCHER_ICON_SIZES 16 24 32 48 64 128 256 512)
set(LAUNCHER_ICON_FILES)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/icons)
foreach(size IN LISTS LAUNCHER_ICON_SIZES)
  set(png ${CMAKE_BINARY_DIR}/icons/${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${LAUNCHER_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${LAUNCHER_ICON_SVG}
    DEPENDS ${LAUNCHER_ICON_SVG} COMMENT "Rendering the ${size} px icon" VERBATIM)
  list(APPEND LAUNCHER_ICON_FILES ${png})
endforeach()
add_custom_target(icons ALL DEPENDS ${LAUNCHER_ICON_FILES})

# Qt's own texts (menus and dialogs that Qt draws) in Chinese, from Qt's translations.
find_file(LAUNCHER_QT_TRANSLATION qtbase_zh_CN.qm
  HINTS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS} /usr/share/qt6/translations
  DOC "Qt's Chinese translation of its own texts, carried in the bundle")
if(NOT LAUNCHER_QT_TRANSLATION)
  message(WARNING "qtbase_zh_CN.qm not found (Debian: qt6-translations-l10n): the few texts that Qt itself "
                  "draws stay in English")
  set(LAUNCHER_QT_TRANSLATION "")
endif()

