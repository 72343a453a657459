# A Debian package of the install rules of Install.cmake: from a Release build folder,
#   cpack -G DEB
# writes korvaconfig_<version>_<arch>.deb there.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvaconfig)
set(CPACK_PACKAGE_VENDOR "Brenlow Korva")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KorvaConfig developers <korvaconfig@brenlow.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and configuration tool for serial field bus devices")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description.txt)
# Given to the DEB generator as text: CPack 3.25 escapes the file's apostrophes for XML when it
# reads it itself ("program&apos;s" in the control file). The summary is put in front of it.
file(READ ${CPACK_PACKAGE_DESCRIPTION_FILE} CPACK_DEBIAN_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.brenlow.example/korva")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders are 0755 in the package whatever the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/normalize-permissions.cmake)

set(CPACK_DEBIAN_PACKAGE_NAME korvaconfig)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KorvaConfig developers <korvaconfig@brenlow.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and C++ runtime packages are found by dpkg-shlibdeps from the binaries' own needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# The package's changelog must name the version being built, or the package contradicts itself.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^korvaconfig \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/debian/changelog does not start with version ${PROJECT_VERSION}: add an entry")
endif()

include(CPack)
