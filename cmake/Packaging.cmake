# SPDX-License-Identifier: MIT
# A Debian package of exactly what `cmake --install` installs: the program, its menu entry,
# its icons and its AppStream description. `make package` builds it.

# The Wine fonts inside the program come with their own licence, which travels with it.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NOTICE
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tandrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tandrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tandrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compare two audio files by ear")
set(CPACK_PACKAGE_DESCRIPTION
    "Tandrel puts two audio files side by side in one small window: play either,\n"
    "click the bar to hear the same moment from each in turn, and send the one\n"
    "you do not keep to the desktop's trash. It opens whatever the installed\n"
    "GStreamer plugins can play.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tandrel developers <maintainers@${TANDREL_WEBSITE_DOMAIN}>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${TANDREL_WEBSITE_DOMAIN}/")
# The libraries the program links (Qt, GStreamer, GLib) are found by dpkg-shlibdeps; the
# plugins that playbin loads at run time are not linked, so they are named here: the
# decoders, the demuxers (plugins-bad's for 24- and 32-bit AIFF and Wave64) and the sound
# server's sink.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-ugly, "
    "gstreamer1.0-plugins-bad, gstreamer1.0-libav, gstreamer1.0-pulseaudio")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DEPENDS ${CPACK_DEBIAN_PACKAGE_DEPENDS})
# The program itself restores nothing; trash-restore brings a trashed file back.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS trash-cli)

include(CPack)
