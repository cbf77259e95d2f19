# The Debian package: `cpack -G DEB` in a build directory. Its contents are
# whatever the install() rules lay out, under the installation directory the
# connection manager shares.
set(CMUPDATER_INSTALL_DIR /opt/Kestrel/updater)

set(CPACK_PACKAGE_NAME cmupdater)
set(CPACK_PACKAGE_VENDOR Kestrel)
set(CPACK_PACKAGE_CONTACT "Kestrel updater maintainers <maintainers@kestrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Updater of the Kestrel connection manager and its USB 3G modem")
set(CPACK_PACKAGE_DESCRIPTION [[
Started by the connection manager, it asks the update agent for a new
version, walks the user through a small wizard, flashes the modem's firmware
and installs the connection manager's software with a backup and a roll-back.]])
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMUPDATER_INSTALL_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shell lines of the software update unpack with unzip and stop processes
# with kill; Qt's own dialog texts come translated from qt6-translations-l10n.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unzip, procps")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
# An upgrade keeps the settings the connection manager or the user wrote.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/packaging/conffiles
    CONTENT "${CMUPDATER_INSTALL_DIR}/UpdateCfg.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The boot unit that recovers an interrupted install when nothing starts the
# updater. It lies outside the installation directory, so only the package
# carries it: a plain install into another prefix leaves it out. The package
# enables it the way systemd's own packages do, with its link in the vendor
# ".wants" directory, which needs no maintainer script.
set(RECOVERY_UNIT cmupdater-recover.service)
set(SYSTEMD_UNIT_DIR /lib/systemd/system)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${RECOVERY_UNIT}.in
    ${PROJECT_BINARY_DIR}/packaging/${RECOVERY_UNIT} @ONLY)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging/wants)
file(CREATE_LINK ../${RECOVERY_UNIT} ${PROJECT_BINARY_DIR}/packaging/wants/${RECOVERY_UNIT}
    SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${RECOVERY_UNIT}
    DESTINATION ${SYSTEMD_UNIT_DIR} COMPONENT boot EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_BINARY_DIR}/packaging/wants/${RECOVERY_UNIT}
    DESTINATION ${SYSTEMD_UNIT_DIR}/multi-user.target.wants COMPONENT boot EXCLUDE_FROM_ALL)

# An installation from the package takes only signed updates: without a key it
# refuses every update until an administrator installs one. The marker says
# so; like the boot unit, only the package carries it, so a plain install of a
# source build keeps taking unsigned updates (and says so at every start).
file(WRITE ${PROJECT_BINARY_DIR}/packaging/signed-updates-only
    "Installed from a package: updates are taken only when signed by a trusted key.\n")
install(FILES ${PROJECT_BINARY_DIR}/packaging/signed-updates-only
    DESTINATION ${CMUPDATER_INSTALL_DIR} COMPONENT boot EXCLUDE_FROM_ALL)
if(NOT CMUPDATER_UPDATE_KEY)
    set(NO_KEY_WARNING "CMUPDATER_UPDATE_KEY is not set: the package holds no update key, and \
its updater refuses every update until an administrator installs update-key.pem. \
Configure with -DCMUPDATER_UPDATE_KEY=/path/to/update-key.pem to ship the publisher's key.")
    if(CMAKE_BUILD_TYPE STREQUAL "Release")
        message(WARNING "${NO_KEY_WARNING}")
    endif()
    install(CODE "message(WARNING [[${NO_KEY_WARNING}]])" COMPONENT boot EXCLUDE_FROM_ALL)
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};boot;/")

include(CPack)
