# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: `cpack -G DEB` in the build folder makes framora_<version>_<arch>.deb from
# what `cmake --install` installs, under /usr, with dependencies read from the programs by
# dpkg-shlibdeps. The documentation files Debian asks of every package (copyright, a compressed
# changelog, named as a native package's is) are installed with it.
set(FRAMORA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/framora)
set(FRAMORA_CHANGELOG ${CMAKE_BINARY_DIR}/changelog)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog ${FRAMORA_CHANGELOG} @ONLY)
# gzip -n: no name or time stamp inside, so the same sources give the same package.
add_custom_command(OUTPUT ${FRAMORA_CHANGELOG}.gz
  COMMAND gzip -9nkf ${FRAMORA_CHANGELOG}
  DEPENDS ${FRAMORA_CHANGELOG})
add_custom_target(framora_changelog ALL DEPENDS ${FRAMORA_CHANGELOG}.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${FRAMORA_CHANGELOG}.gz DESTINATION ${FRAMORA_DOC_DIR})

set(FRAMORA_PACKAGE_CONTACT "The Framora developers <developers@framora.org>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_NAME framora)
set(CPACK_PACKAGE_VENDOR "The Framora developers")
set(CPACK_PACKAGE_CONTACT ${FRAMORA_PACKAGE_CONTACT})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "take still pictures out of movies")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Qt finds WebP and TIFF writers and the SVG icon reader as plugins, which no program links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk, qt6-translations-l10n")
# CPack puts the summary first and indents the rest as the control file wants it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Framora opens a movie, plays it and lets you pause, step by a chosen
unit of time and capture the picture on screen into a list of up to 32
scenes, which can be saved as BMP, PNG, JPEG, WebP or TIFF files that say
which movie and moment they come from. It reads the files FFmpeg reads and
the VOB files of DVD-Video discs, and speaks Japanese and English.

The command-line tool framora-grab writes the pictures at given times, a
picture of every scene or every few seconds, or a contact sheet of a movie.")
include(CPack)
