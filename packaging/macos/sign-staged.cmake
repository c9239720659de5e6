# CPack runs this after installing the app into its staging folder and before it makes the disk image: with a
# signing identity set, the staged app is signed, notarised and stapled (tools/sign-macos), so that the image
# holds the app as it will run on users' Macs.
if(NOT CPACK_LAUNCHER_SIGNING_IDENTITY)
  message(STATUS "No LAUNCHER_SIGNING_IDENTITY: the disk image holds an unsigned app")
  return()
endif()
file(GLOB apps "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.app" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/*.app")
foreach(app IN LISTS apps)
  execute_process(COMMAND "${CPACK_LAUNCHER_SOURCE_DIR}/tools/sign-macos" "${app}" "${CPACK_LAUNCHER_SIGNING_IDENTITY}"
                          "${CPACK_LAUNCHER_NOTARY_PROFILE}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
