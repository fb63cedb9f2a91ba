# The Debian package: `cpack -G DEB` in a build folder packs what `cmake --install` puts
# under /usr (bin/qev and its manual page).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qev)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drives document scanners and reports JSON events")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "qev lists scanners, scans pages from a flatbed or a document feeder into a folder\n\
as JPEG files, and writes test pages without a scanner. It reports everything as\n\
one JSON object per line on standard output, so that other programs can drive it.")
set(CPACK_PACKAGE_CONTACT "qev maintainers <maintainers@qev.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# dpkg-shlibdeps finds the libraries qev links (libsane1, libcairo2, libjpeg62-turbo, ...);
# the test pages are drawn in a font that no library pulls in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
# sane-airscan reaches most network scanners and printers of today without a driver.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sane-airscan")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sane-utils, hplip")
include(CPack)
