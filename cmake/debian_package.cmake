# The Debian package that scripts/package.sh builds with `cpack -G DEB`: everything the install
# rules put under the prefix, named relaywatch_<version>_<arch>.deb.
set(RELAYWATCH_PACKAGE_MAINTAINER
    "Relaywatch maintainers <maintainers@users.noreply.c-seed-0126147c.example>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME relaywatch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${RELAYWATCH_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "HTTP tracing proxy that captures what a browser sends")
# CPack indents these lines and marks the empty one as the control file's format wants.
set(CPACK_PACKAGE_DESCRIPTION
    "Relaywatch is an HTTP proxy for one user on one machine. Point a browser at it
(127.0.0.1:8010 by default) and every request/response exchange is relayed
exactly and captured: the text of each direction, byte totals and timings.
Captured data is kept within a memory limit, shown in a window (requests,
responses, a searchable list with Copy as curl and HAR export) and written to
time-stamped log files on request or automatically. HTTPS passes through
CONNECT tunnels untouched; an upstream proxy can be chained.

Run with --headless on a machine without a display: one line per exchange on
the terminal, log files and a HAR 1.2 file.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${RELAYWATCH_PACKAGE_MAINTAINER})
# The libraries the binary links come from dpkg-shlibdeps; the window also needs Qt's platform
# plugins, which the Qt libraries only recommend.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# A browser to send traffic through the proxy, and xdg-open for the help page.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium | firefox-esr, xdg-utils")
# Directories in the package are 0755 whatever the umask of the user who builds it.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
