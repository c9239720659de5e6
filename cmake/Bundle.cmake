# The app bundle: <Name>.app/Contents/{MacOS/<exe>, Info.plist, Resources/runtime/...}, the same layout on
# every platform. The runtime comes from sample/ unless a packager names a payload folder.
set(LAUNCHER_PAYLOAD_DIR "" CACHE PATH
    "Runtime payload folder holding common, macos-arm64 and macos-x86_64 (default: the sample runtime)")
find_package(Python3 3.9 REQUIRED COMPONENTS Interpreter)

set(bundle_app ${CMAKE_BINARY_DIR}/${LAUNCHER_BUNDLE_NAME}.app)
set(bundle_plist ${CMAKE_BINARY_DIR}/Info.plist)
configure_file(${CMAKE_SOURCE_DIR}/cmake/Info.plist.in ${bundle_plist} @ONLY)
file(GLOB_RECURSE bundle_sample_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sample/*)
if(LAUNCHER_PAYLOAD_DIR)
  file(GLOB_RECURSE bundle_payload_files CONFIGURE_DEPENDS ${LAUNCHER_PAYLOAD_DIR}/*)
endif()
set(bundle_inputs ${bundle_sample_files} ${bundle_payload_files} ${CMAKE_SOURCE_DIR}/tools/assemble_bundle.py
                  ${CMAKE_SOURCE_DIR}/tools/payload-manifest)

# Beside the runtime the bundle carries the window's icon, Qt's own texts in Chinese and the app's Chinese name
# for the system (zh_Hans.lproj), in the same places on every platform; AppIcon.icns is the icon of the app
# in Finder and the Dock.
include(cmake/Icons.cmake)
configure_file(${CMAKE_SOURCE_DIR}/packaging/macos/InfoPlist.strings.in ${CMAKE_BINARY_DIR}/InfoPlist.strings @ONLY)
set(bundle_resources "--resource=${CMAKE_BINARY_DIR}/InfoPlist.strings=zh_Hans.lproj/InfoPlist.strings")
foreach(size IN LISTS LAUNCHER_ICON_SIZES)
  list(APPEND bundle_resources "--resource=${CMAKE_BINARY_DIR}/icons/${size}.png=icons/${size}.png"
       "--icon=${CMAKE_BINARY_DIR}/icons/${size}.png")
endforeach()
if(LAUNCHER_QT_TRANSLATION)
  list(APPEND bundle_resources "--resource=${LAUNCHER_QT_TRANSLATION}=translations/qtbase_zh_CN.qm")
endif()
list(APPEND bundle_inputs ${LAUNCHER_ICON_FILES} ${CMAKE_BINARY_DIR}/InfoPlist.strings)

if(APPLE)
  # A real app bundle for macOS 11 and later, Arm and Intel; the runtime is copied in after each build.
  set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0 CACHE STRING "" FORCE)
  set(CMAKE_OSX_ARCHITECTURES "arm64;x86_64" CACHE STRING "" FORCE)
  set_target_properties(${LAUNCHER_BUNDLE_NAME} PROPERTIES
    MACOSX_BUNDLE TRUE
    MACOSX_BUNDLE_INFO_PLIST ${bundle_plist}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  add_custom_command(TARGET ${LAUNCHER_BUNDLE_NAME} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/assemble_bundle.py --app ${bundle_app}
            --sample ${CMAKE_SOURCE_DIR}/sample "--payload=${LAUNCHER_PAYLOAD_DIR}" ${bundle_resources})
  add_dependencies(${LAUNCHER_BUNDLE_NAME} icons)
  add_custom_target(bundle DEPENDS ${LAUNCHER_BUNDLE_NAME})
else()
  set(bundle_stamp ${CMAKE_BINARY_DIR}/bundle.stamp)
  add_custom_command(OUTPUT ${bundle_stamp}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/assemble_bundle.py --app ${bundle_app}
            --executable $<TARGET_FILE:${LAUNCHER_BUNDLE_NAME}> --info-plist ${bundle_plist}
            --sample ${CMAKE_SOURCE_DIR}/sample "--payload=${LAUNCHER_PAYLOAD_DIR}" ${bundle_resources}
    COMMAND ${CMAKE_COMMAND} -E touch ${bundle_stamp}
    DEPENDS ${LAUNCHER_BUNDLE_NAME} ${bundle_plist} ${bundle_inputs}
    COMMENT "Assembling ${LAUNCHER_BUNDLE_NAME}.app")
  add_custom_target(bundle ALL DEPENDS ${bundle_stamp})
endif()
