# The Debian package, made by CPack from the install rules: `cpack -G DEB` in a Release
# build folder (scripts/package.sh does it all) gives talvo-ftp_<version>_<arch>.deb there.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvo-ftp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Talvo FTP developers")
set(CPACK_PACKAGE_CONTACT "The Talvo FTP developers <talvo-ftp@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/talvo-ftp/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small FTP client with a French two-pane window")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
Talvo FTP copies files between this computer and an FTP server. Its window,
in French, shows the local computer on the left and the server on the right,
with arrows to copy the selected files both ways and a log of the whole
conversation with the server. It creates, renames and deletes files and
directories on both sides, and stops a transfer under way.

The package also holds talvoftp-cli, a console client on the same engine,
for scripts.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from the binaries (dpkg-shlibdeps); the window's captions are laid out
# for Liberation Sans, which fontconfig also gives for "Arial".
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)
set(CPACK_STRIP_FILES ON)
include(CPack)

# scripts/test.sh names its Release build folder here, so that the tests make that folder's
# package and check it.
set(TALVO_PACKAGE_TREE "" CACHE PATH "Release build folder whose Debian package the tests make and check")
if(BUILD_TESTING AND TALVO_PACKAGE_TREE)
  add_test(NAME package COMMAND ${PROJECT_SOURCE_DIR}/tests/package/check_package.sh ${TALVO_PACKAGE_TREE})
  set_tests_properties(package PROPERTIES TIMEOUT 300)
endif()
