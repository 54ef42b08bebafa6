# Packages: a zip for Windows, a Debian package for Linux (`cmake --build <dir> --target package`).
set(CPACK_PACKAGE_NAME larkmoor)
set(CPACK_PACKAGE_VENDOR "Larkmoor")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Sets the PC clock to minute 54, second 30 at each closure of a parallel-port contact")
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
  # The clock helper, outside PATH; its post-install script gives it the group larkmoor and
  # cap_sys_time. The window program gets no capability.
  install(TARGETS larkmoor-set-clock RUNTIME DESTINATION libexec/larkmoor
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/60-larkmoor.rules DESTINATION lib/udev/rules.d)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/larkmoor.desktop DESTINATION share/applications)
  install(FILES ${icon} DESTINATION share/icons/hicolor/32x32/apps)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Larkmoor developers <larkmoor@localhost>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, passwd") # setcap, groupadd
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_STRIP_FILES ON)
endif()

include(CPack)
