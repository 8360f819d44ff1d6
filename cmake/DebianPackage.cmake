# The Debian package, built by CPack from the install rules in packaging/CMakeLists.txt:
# `cpack -G DEB` in a build configured with the /usr prefix (scripts/package does it) makes
# pandrel_<version>-<revision>_amd64.deb.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pandrel)
set(CPACK_PACKAGE_VENDOR "${PANDREL_DEVELOPER}")
set(CPACK_PACKAGE_CONTACT "${PANDREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download the files of a cloud-disk share link")
# Lines of the long description stay below 80 characters, as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION
    "Pandrel is a desktop program that downloads the files published through
a cloud-disk share link. Paste the link with its extraction code: Pandrel
asks a parse service for the share's file listing, shows the files and
downloads the chosen ones through its own engine, over many connections
per file, resuming after a stop or a crash.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PANDREL_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PANDREL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PANDREL_HOMEPAGE}")
# The libraries come from dpkg-shlibdeps over every program and library in the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Chinese captions need a CJK font, and Qt's own texts (menus, dialog buttons) its Chinese
# catalogue; no library names either, so they are recommended here.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
