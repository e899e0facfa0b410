# The Debian package of the server (scripts/package): the oapx1 program, its
# web files, documents, configuration, systemd units, backup timer and the
# steps that make the service user. The page library and its headers (the
# default install) stay out of it, so it needs no -dev package; its
# dependencies are the runtime libraries the program links (dpkg-shlibdeps).
#
# Every file here is in the component "server", left out of a plain
# `cmake --install` (which installs the library for another project).

set(oapx1_deploy ${PROJECT_SOURCE_DIR}/deploy)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/www/ DESTINATION share/oapx1/www
        COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/serve.md
        DESTINATION share/doc/oapx1 COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${oapx1_deploy}/nginx-oapx1.conf DESTINATION share/doc/oapx1/examples
        COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${oapx1_deploy}/oapx1.service ${oapx1_deploy}/oapx1-backup.service
              ${oapx1_deploy}/oapx1-backup.timer
        DESTINATION lib/systemd/system COMPONENT server EXCLUDE_FROM_ALL)
install(PROGRAMS ${oapx1_deploy}/backup.sh DESTINATION lib/oapx1 COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${oapx1_deploy}/serve.conf DESTINATION /etc/oapx1 COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${oapx1_deploy}/logrotate DESTINATION /etc/logrotate.d RENAME oapx1
        COMPONENT server EXCLUDE_FROM_ALL)

# cpack builds only what scripts/package built (the program), not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oapx1)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "oapx1 maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "workflow node settings page of the office-automation application")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "The workflow node settings page and its shared function library, served over\n"
       "HTTP by `oapx1 serve` from an SQLite or PostgreSQL database, as a systemd\n"
       "service with a nightly backup timer.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, util-linux, gzip, libcsv3")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nginx, redis-server, postgresql")
configure_file(${oapx1_deploy}/debian/postinst ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst COPYONLY)
configure_file(${oapx1_deploy}/debian/prerm ${CMAKE_CURRENT_BINARY_DIR}/debian/prerm COPYONLY)
configure_file(${oapx1_deploy}/debian/postrm ${CMAKE_CURRENT_BINARY_DIR}/debian/postrm COPYONLY)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles "/etc/oapx1/serve.conf\n/etc/logrotate.d/oapx1\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst ${CMAKE_CURRENT_BINARY_DIR}/debian/prerm
    ${CMAKE_CURRENT_BINARY_DIR}/debian/postrm ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
