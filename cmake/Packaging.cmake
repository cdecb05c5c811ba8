# `cpack` in the build folder makes a Debian package of what `cmake --install` puts in place.
# Its Depends come from the libraries the programs really link (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brenvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download photo albums in batch from Chinese photo sites")
set(CPACK_PACKAGE_DESCRIPTION
  "Brenvik lists the albums of an account or page on Chinese photo, social, blog and shop\n\
sites and downloads every photo of the chosen albums into one folder per album. It has a\n\
desktop window and a command-line twin, brenvik-cli.")
set(CPACK_PACKAGE_CONTACT "Brenvik developers <brenvik@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Chinese text needs a CJK font; Qt's own dialogs speak Chinese with its translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "aria2")
set(CPACK_STRIP_FILES ON)
include(CPack)
