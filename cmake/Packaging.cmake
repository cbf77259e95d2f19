# The Debian packages: `cpack -G DEB` in a build directory makes two, the
# updater for every end user (cmupdater) and the publisher's tool
# (cmupdater-publisher). Their contents are whatever the install() rules lay
# out for their components, under the installation directory the connection
# manager shares.
set(CMUPDATER_INSTALL_DIR /opt/Kestrel/updater)

set(CPACK_PACKAGE_NAME cmupdater)
set(CPACK_PACKAGE_VENDOR Kestrel)
set(CPACK_PACKAGE_CONTACT "Kestrel updater maintainers <maintainers@kestrel.example>")
# Each package's description, its first line the synopsis (no common summary:
# CPack would put it in front of both).
set(CPACK_DEBIAN_UPDATER_DESCRIPTION [[Updater of the Kestrel connection manager and its USB 3G modem
Started by the connection manager, it asks the update agent for a new
version, walks the user through a small wizard, flashes the modem's firmware
and installs the connection manager's software with a backup and a roll-back.]])
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMUPDATER_INSTALL_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_COMPONENTS_ALL Unspecified boot publisher publisher-doc)
set(CPACK_DEBIAN_UPDATER_PACKAGE_NAME cmupdater)
set(CPACK_DEBIAN_PUBLISHER_PACKAGE_NAME cmupdater-publisher)
set(CPACK_DEBIAN_PUBLISHER_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PUBLISHER_DESCRIPTION [[Publisher's tool for updates of the Kestrel connection manager
Makes the signing key pair, describes, signs and checks a release, and makes
deltas, running the updater's own refusal rules on every package before
anything is uploaded. Only the publisher needs it, never an end user.]])
# The shell lines of the software update unpack with unzip and stop processes
# with kill; Qt's own dialog texts come translated from qt6-translations-l10n.
# The publisher's tool unpacks packages with unzip to make deltas.
set(CPACK_DEBIAN_UPDATER_PACKAGE_DEPENDS "unzip, procps")
set(CPACK_DEBIAN_UPDATER_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PUBLISHER_PACKAGE_DEPENDS unzip)
# An upgrade keeps the settings the connection manager or the user wrote: they
# live in /etc, and the installation directory links to them.
set(CMUPDATER_SETTINGS_DIR /etc/Kestrel/updater)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/packaging/conffiles
    CONTENT "${CMUPDATER_SETTINGS_DIR}/UpdateCfg.ini\n")
set(CPACK_DEBIAN_UPDATER_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
install(FILES ${PROJECT_SOURCE_DIR}/app/UpdateCfg.ini
    DESTINATION ${CMUPDATER_SETTINGS_DIR} COMPONENT boot EXCLUDE_FROM_ALL)
# Relative, so that a tree installed under another root (dpkg --root) reads its own.
file(CREATE_LINK ../../..${CMUPDATER_SETTINGS_DIR}/UpdateCfg.ini
    ${PROJECT_BINARY_DIR}/packaging/UpdateCfg.ini SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/packaging/UpdateCfg.ini
    DESTINATION ${CMUPDATER_INSTALL_DIR} COMPONENT boot EXCLUDE_FROM_ALL)

# Each package's copyright, changelog and the reasons for the lintian tags it
# keeps on purpose.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
    ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog)
foreach(package IN ITEMS cmupdater cmupdater-publisher)
    set(component boot)
    if(package STREQUAL cmupdater-publisher)
        set(component publisher-doc)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
            ${PROJECT_BINARY_DIR}/packaging/changelog.gz ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION /usr/share/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/${package}.lintian-overrides
        DESTINATION /usr/share/lintian/overrides RENAME ${package}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

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

include(CPack)
cpack_add_component_group(updater)
cpack_add_component_group(publisher)
cpack_add_component(Unspecified GROUP updater)
cpack_add_component(boot GROUP updater)
cpack_add_component(publisher GROUP publisher)
cpack_add_component(publisher-doc GROUP publisher)
