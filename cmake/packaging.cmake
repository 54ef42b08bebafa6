# Packages: a zip for Windows (and, beside it, the setup program), a Debian package for Linux
# (`cmake --build <dir> --target package`).
set(CPACK_PACKAGE_NAME larkmoor)
set(CPACK_PACKAGE_VENDOR "Larkmoor")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "sets the clock to minute 54, second 30 when a parallel-port contact closes")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

if(WIN32)
  # The logon task's definition, in UTF-16 with a byte order mark and CRLF lines: schtasks /xml
  # reads it so.
  set(task_xml ${PROJECT_BINARY_DIR}/generated/larkmoor-task.xml)
  add_custom_command(OUTPUT ${task_xml}
                     COMMAND python3 ${PROJECT_SOURCE_DIR}/cmake/to-utf16.py
                             ${PROJECT_SOURCE_DIR}/resources/larkmoor-task.xml ${task_xml}
                     DEPENDS ${PROJECT_SOURCE_DIR}/resources/larkmoor-task.xml
                             ${PROJECT_SOURCE_DIR}/cmake/to-utf16.py)
  add_custom_target(larkmoor_task_xml ALL DEPENDS ${task_xml})
  # The setup program, made with NSIS beside the zip. The x86-64 build, which exists for the tests,
  # makes its own from the same script with NSIS's x86-64 stub, so that 64-bit Wine can run it.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(nsis_target amd64-unicode)
  else()
    set(nsis_target x86-unicode)
  endif()
  set(nsi ${PROJECT_SOURCE_DIR}/resources/larkmoor-setup.nsi)
  add_custom_command(OUTPUT ${LARKMOOR_SETUP}
                     COMMAND makensis -V2 -NOCD -DTITLE=${LARKMOOR_TITLE} -DVERSION=${PROJECT_VERSION}
                             -DVERSION_TEXT=${LARKMOOR_VERSION_TEXT} -DTARGET=${nsis_target}
                             -DOUTFILE=${LARKMOOR_SETUP} -DEXE=$<TARGET_FILE:larkmoor>
                             -DREADME=${PROJECT_SOURCE_DIR}/resources/readme-windows.txt
                             -DTASK_XML=${task_xml} -DICON=${PROJECT_SOURCE_DIR}/resources/larkmoor.ico
                             ${nsi}
                     DEPENDS ${nsi} larkmoor ${task_xml} ${PROJECT_SOURCE_DIR}/resources/readme-windows.txt
                     VERBATIM)
  add_custom_target(larkmoor_setup ALL DEPENDS ${LARKMOOR_SETUP})
  install(TARGETS larkmoor RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/readme-windows.txt DESTINATION . RENAME README.txt)
  install(FILES ${task_xml} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME larkmoor-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(icon ${PROJECT_BINARY_DIR}/generated/larkmoor.png)
  add_custom_command(OUTPUT ${icon}
                     COMMAND python3 ${PROJECT_SOURCE_DIR}/resources/make_icon.py ${icon}
                     DEPENDS ${PROJECT_SOURCE_DIR}/resources/make_icon.py)
  add_custom_target(larkmoor_png ALL DEPENDS ${icon})
  install(TARGETS larkmoor RUNTIME DESTINATION bin)
  # The clock helper, outside PATH. The post-install script gives its folder the group larkmoor
  # and the helper its private group and cap_sys_time; the window program gets no capability.
  install(TARGETS larkmoor-set-clock RUNTIME DESTINATION libexec/larkmoor)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/60-larkmoor.rules DESTINATION lib/udev/rules.d)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/larkmoor.desktop DESTINATION share/applications)
  install(FILES ${icon} DESTINATION share/icons/hicolor/32x32/apps)
  set(changelog ${PROJECT_BINARY_DIR}/generated/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
                     COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${changelog}
                     DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
  add_custom_target(larkmoor_changelog ALL DEPENDS ${changelog})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${changelog}
          DESTINATION share/doc/larkmoor)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # A placeholder in a domain reserved for examples: set the real address when building releases.
  set(LARKMOOR_MAINTAINER "Larkmoor developers <larkmoor@example.org>"
      CACHE STRING "The Debian package's maintainer")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${LARKMOOR_MAINTAINER})
  set(CPACK_PACKAGE_DESCRIPTION "\
A contact wired between pins 15 and 18 of the PC's first parallel port sets
the clock to minute 54, second 30 of the current hour each time it closes, for
broadcast stations that keep their PCs on the network's time. A small window
shows the time of day and what the last closure did.
.
The clock is set by a small helper that alone holds cap_sys_time; members of
the group larkmoor may run it, and it records each use in the system log.")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # setcap; groupadd; the Qt platform plugins, without which the window cannot open.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, passwd, qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst
                                         ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_STRIP_FILES ON)
endif()

include(CPack)
