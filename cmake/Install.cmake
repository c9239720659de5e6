# Installing and packaging. On Linux, `cmake --install` puts the app folder (<Name>.app with its executable,
# Info.plist and Resources/runtime) under the library directory, a command on the path that starts it, a desktop
# entry, AppStream metainfo and the icon in the hicolor theme; CPack makes a Debian package of the same. On
# Apple, the app bundle itself is installed with Qt's frameworks and plugins deployed into it, and CPack makes a
# disk image. The icon is drawn as SVG (packaging/lanqi-launcher.svg) and rendered to PNG at build time.
include(GNUInstallDirs)
set(LAUNCHER_PACKAGE_NAME "lanqi-launcher" CACHE STRING "Name of the package and of the command that starts the launcher")
set(LAUNCHER_VENDOR "岚栖工作室" CACHE STRING "Who makes and ships the launcher")
set(LAUNCHER_MAINTAINER "岚栖工作室 <packages@lanqi.studio>" CACHE STRING "Package maintainer, 'Name <address>'")
set(LAUNCHER_RELEASE_DATE "2026-12-07" CACHE STRING "Date of this release, YYYY-MM-DD")

if(APPLE)
  # ---- macOS: the bundle with Qt deployed into it, and a disk image ----
  set(LAUNCHER_SIGNING_IDENTITY "" CACHE STRING "codesign identity for the disk image's app (empty: unsigned)")
  set(LAUNCHER_NOTARY_PROFILE "" CACHE STRING "notarytool keychain profile (empty: signed, not notarised)")
  install(TARGETS ${LAUNCHER_BUNDLE_NAME} BUNDLE DESTINATION .)
  # Qt's frameworks and plugins go into the installed bundle (macdeployqt, through Qt's deployment script).
  if(Qt6_VERSION VERSION_GREATER_EQUAL 6.5)
    qt_generate_deploy_app_script(TARGET ${LAUNCHER_BUNDLE_NAME} OUTPUT_SCRIPT deploy_script
                                  NO_UNSUPPORTED_PLATFORM_ERROR)
  else()
    qt_generate_deploy_app_script(TARGET ${LAUNCHER_BUNDLE_NAME} FILENAME_VARIABLE deploy_script
                                  NO_UNSUPPORTED_PLATFORM_ERROR)
  endif()
  install(SCRIPT ${deploy_script})
  set(CPACK_GENERATOR DragNDrop)
  set(CPACK_DMG_VOLUME_NAME "${LAUNCHER_DISPLAY_NAME}")
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/macos/sign-staged.cmake)
  set(CPACK_LAUNCHER_SOURCE_DIR ${PROJECT_SOURCE_DIR})
  set(CPACK_LAUNCHER_SIGNING_IDENTITY ${LAUNCHER_SIGNING_IDENTITY})
  set(CPACK_LAUNCHER_NOTARY_PROFILE ${LAUNCHER_NOTARY_PROFILE})
else()
  # ---- Linux: one app folder, a command, a desktop entry, metainfo and icons ----
  set(app_dir ${CMAKE_INSTALL_LIBDIR}/${LAUNCHER_PACKAGE_NAME}/${LAUNCHER_BUNDLE_NAME}.app)
  install(TARGETS ${LAUNCHER_BUNDLE_NAME} RUNTIME DESTINATION ${app_dir}/Contents/MacOS)
  install(FILES ${bundle_plist} DESTINATION ${app_dir}/Contents)
  install(DIRECTORY ${bundle_app}/Contents/Resources DESTINATION ${app_dir}/Contents USE_SOURCE_PERMISSIONS)

  # The command on the path is a relative link: the launcher finds its bundle from its own resolved executable.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
  cmake_path(RELATIVE_PATH app_dir BASE_DIRECTORY ${CMAKE_INSTALL_BINDIR} OUTPUT_VARIABLE command_target)
  file(CREATE_LINK ${command_target}/Contents/MacOS/${LAUNCHER_BUNDLE_NAME}
       ${CMAKE_BINARY_DIR}/packaging/${LAUNCHER_PACKAGE_NAME} SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${LAUNCHER_PACKAGE_NAME} DESTINATION ${CMAKE_INSTALL_BINDIR})

  set(LAUNCHER_COMMAND ${LAUNCHER_PACKAGE_NAME})
  set(desktop_file ${CMAKE_BINARY_DIR}/packaging/${LAUNCHER_BUNDLE_IDENTIFIER}.desktop)
  set(metainfo_file ${CMAKE_BINARY_DIR}/packaging/${LAUNCHER_BUNDLE_IDENTIFIER}.metainfo.xml)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/desktop.in ${desktop_file} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/metainfo.xml.in ${metainfo_file} @ONLY)
  install(FILES ${desktop_file} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${metainfo_file} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size IN LISTS LAUNCHER_ICON_SIZES)
    install(FILES ${CMAKE_BINARY_DIR}/icons/${size}.png RENAME ${LAUNCHER_BUNDLE_IDENTIFIER}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${LAUNCHER_ICON_SVG} RENAME ${LAUNCHER_BUNDLE_IDENTIFIER}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

  # What Debian expects of every package: the copyright file, a compressed changelog and a manual page. The
  # changelog's date is the release's, not the build's: a package built twice is the same package.
  execute_process(COMMAND date -u -R -d "${LAUNCHER_RELEASE_DATE}" OUTPUT_VARIABLE LAUNCHER_RELEASE_DATE_RFC2822
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${LAUNCHER_PACKAGE_NAME})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/manual.1.in
                 ${CMAKE_BINARY_DIR}/packaging/${LAUNCHER_PACKAGE_NAME}.1 @ONLY)
  set(compressed)
  foreach(file changelog ${LAUNCHER_PACKAGE_NAME}.1)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${file}.gz
      COMMAND gzip -9 -n -c ${file} > ${file}.gz
      DEPENDS ${CMAKE_BINARY_DIR}/packaging/${file} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
    list(APPEND compressed ${CMAKE_BINARY_DIR}/packaging/${file}.gz)
  endforeach()
  add_custom_target(package_documents ALL DEPENDS ${compressed})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${doc_dir})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${LAUNCHER_PACKAGE_NAME}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/lintian-overrides RENAME ${LAUNCHER_PACKAGE_NAME}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${LAUNCHER_WEBSITE_URL})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${LAUNCHER_MAINTAINER})
  # Dependencies come from the libraries that the executable and the embedded runtime link; only what is loaded
  # at run time without being linked is named: Qt's platform plugins, and the fonts that the window asks for.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-noto-cjk")
endif()

set(CPACK_PACKAGE_NAME ${LAUNCHER_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR ${LAUNCHER_VENDOR})
set(CPACK_PACKAGE_CONTACT ${LAUNCHER_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "launcher for the local AI image and video suite")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "One small window with three buttons: check the suite's environment, install"
    "it from the packages that come with the launcher, and start the suite's web"
    "front end. Each press first brings the suite's embedded runtime up to date in"
    "the user's own folder, copying only what changed.")
set(CPACK_STRIP_FILES ON)
include(CPack)
