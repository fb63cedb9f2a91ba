# What ships beside the programs, and the Debian package: `cpack -G DEB` in a build folder
# packs what `cmake --install` puts under /usr.

# Debian installs manual pages and changelogs compressed with `gzip -9n`: no file name and no
# time stamp in the header, so every build makes the same bytes.
find_program(QEV_GZIP gzip REQUIRED)
set(qev_gzipped "")
foreach(pair "docs/qev.1;qev.1.gz" "packaging/changelog;changelog.gz")
  list(GET pair 0 source)
  list(GET pair 1 name)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
    COMMAND ${QEV_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${PROJECT_BINARY_DIR}/doc/${name}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source}
    COMMENT "Compressing ${source}" VERBATIM)
  list(APPEND qev_gzipped ${PROJECT_BINARY_DIR}/doc/${name})
endforeach()
add_custom_target(qev_docs ALL DEPENDS ${qev_gzipped})
# Building qev alone leaves everything that `cmake --install` needs.
add_dependencies(qev qev_docs)

install(FILES ${PROJECT_BINARY_DIR}/doc/qev.1.gz DESTINATION share/man/man1)
# The Debian changelog of this native package and its machine-readable copyright file
# (https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/).
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz packaging/copyright DESTINATION share/doc/qev)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qev)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drives document scanners and reports JSON events")
# Lines of the long description stay under 80 characters.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "qev lists scanners, scans pages from a flatbed or a document feeder into\n\
a folder as JPEG files, and writes test pages without a scanner. It reports\n\
everything as one JSON object per line on standard output, so that other\n\
programs can drive it.")
set(CPACK_PACKAGE_CONTACT "qev maintainers <maintainers@qev.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# dpkg-shlibdeps finds the libraries the programs link (libsane1, libcairo2,
# libjpeg62-turbo, ...); the test pages are drawn in a font that no library pulls in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
# sane-airscan reaches most network scanners and printers of today without a driver.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sane-airscan")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sane-utils, hplip")
include(CPack)
