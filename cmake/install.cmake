# Installed, the programs and their data keep the layout of the build's bin/: one folder with
# the programs, resources/, help/ and "setpoint assistant/". The programs find their data
# beside their own executable, so nothing in them depends on where that folder is. On Linux
# the folder is <prefix>/lib/ktmon740 and <prefix>/bin holds symbolic links to the programs
# (the programs resolve their own path through the link); on Windows it is the prefix itself.
include(GNUInstallDirs)
if(WIN32)
    set(KT_INSTALL_APPDIR "." CACHE STRING "Folder under the prefix for the programs and their data")
else()
    set(KT_INSTALL_APPDIR "lib/ktmon740" CACHE STRING "Folder under the prefix for the programs and their data")
endif()

set(KT_INSTALLED_PROGRAMS)
foreach(program ktmon740 ktmon740-cli kt740sim)
    if(TARGET ${program})
        list(APPEND KT_INSTALLED_PROGRAMS ${program})
    endif()
endforeach()
install(TARGETS ${KT_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${KT_INSTALL_APPDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/ DESTINATION ${KT_INSTALL_APPDIR}/resources
        PATTERN CMakeLists.txt EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/setpoint_assistant/
        DESTINATION "${KT_INSTALL_APPDIR}/setpoint assistant")
if(TARGET kt_manual)
    install(FILES ${CMAKE_BINARY_DIR}/bin/help/KT-MON740-R0-I-113019.pdf DESTINATION ${KT_INSTALL_APPDIR}/help)
endif()

if(WIN32)
    return()
endif()

# The links in bin/ are relative, so the tree works wherever it is unpacked (DESTDIR, dpkg -x).
file(RELATIVE_PATH KT_APPDIR_FROM_BIN /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${KT_INSTALL_APPDIR})
foreach(program ${KT_INSTALLED_PROGRAMS})
    install(CODE "
        set(bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        file(MAKE_DIRECTORY \"\${bindir}\")
        message(STATUS \"Installing: \${bindir}/${program} -> ${KT_APPDIR_FROM_BIN}/${program}\")
        file(CREATE_LINK \"${KT_APPDIR_FROM_BIN}/${program}\" \"\${bindir}/${program}\" SYMBOLIC)")
endforeach()

# Desktop entry, icon, AppStream metadata and manual pages (compressed, as Debian keeps them).
set(KT_APP_ID example.corvane_relays.ktmon740)
set(KT_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
if(TARGET ktmon740)
    install(FILES ${KT_PACKAGING}/${KT_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${KT_PACKAGING}/${KT_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${KT_PACKAGING}/${KT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
set(KT_MAN_PAGES)
foreach(program ${KT_INSTALLED_PROGRAMS})
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(
        OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND sh -c "gzip -9n < '${KT_PACKAGING}/man/${program}.1' > '${page}'"
        DEPENDS ${KT_PACKAGING}/man/${program}.1
        VERBATIM)
    list(APPEND KT_MAN_PAGES ${page})
endforeach()
add_custom_target(kt_man_pages ALL DEPENDS ${KT_MAN_PAGES})
install(FILES ${KT_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# scripts/package.sh: cpack makes build/packages/ktmon740_4.1_amd64.deb from the rules above.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ktmon740)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvane Relays")
set(CPACK_PACKAGE_CONTACT "Corvane Relays technical support <support@corvane-relays.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor and configure KT-740 family NGR monitor relays")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "KT-MON740 monitors and configures one neutral-grounding-resistor monitor relay of
the KT-740 family at a time over a serial or USB port (Modbus RTU) or Ethernet (Modbus TCP):
live status, settings, event records, a PC data log, unit commands and the IEC 61850
configuration.

Also included: ktmon740-cli, the same functions for scripts, and kt740sim, a simulated
relay for the desk and for tests.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.corvane-relays.example/ktmon740")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's platform plugins (the window)
# and the desktop's "open" for the help documents.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, fonts-dejavu-core")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
include(CPack)
