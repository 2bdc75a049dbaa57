# Installs the manual page beside the program and describes the Debian package that
# `cpack -G DEB` builds from the install tree.
include(GNUInstallDirs)

# Debian ships manual pages compressed; man reads either form.
set(MIC_MANPAGE ${CMAKE_CURRENT_SOURCE_DIR}/doc/mic-transcriber.1)
find_program(MIC_GZIP gzip)
if(MIC_GZIP)
  set(MIC_MANPAGE_GZ ${CMAKE_CURRENT_BINARY_DIR}/mic-transcriber.1.gz)
  # -n keeps the name and time stamp out, so the package is the same from build to build.
  add_custom_command(OUTPUT ${MIC_MANPAGE_GZ}
    COMMAND ${MIC_GZIP} -9 -n -c ${MIC_MANPAGE} > ${MIC_MANPAGE_GZ}
    DEPENDS ${MIC_MANPAGE})
  add_custom_target(mic_manpage ALL DEPENDS ${MIC_MANPAGE_GZ})
  install(FILES ${MIC_MANPAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${MIC_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# A placeholder: whoever builds a package to hand out sets their own name and address (lintian
# turns the placeholder's address down as bogus-mail-host). It signs the changelog too.
set(MIC_PACKAGE_MAINTAINER "mic-transcriber developers <mic-transcriber@localhost>"
  CACHE STRING "The Maintainer field of the Debian package: \"Name <address>\"")

# What Debian wants beside every package's files: the licence in its machine-readable form and
# the changelog, compressed as the manual page is.
set(MIC_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/mic-transcriber)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/copyright DESTINATION ${MIC_DOC_DIR})
set(MIC_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/changelog)
configure_file(packaging/changelog.in ${MIC_CHANGELOG} @ONLY)
if(MIC_GZIP)
  set(MIC_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${MIC_CHANGELOG_GZ}
    COMMAND ${MIC_GZIP} -9 -n -c ${MIC_CHANGELOG} > ${MIC_CHANGELOG_GZ}
    DEPENDS ${MIC_CHANGELOG})
  add_custom_target(mic_changelog ALL DEPENDS ${MIC_CHANGELOG_GZ})
  install(FILES ${MIC_CHANGELOG_GZ} DESTINATION ${MIC_DOC_DIR})
else()
  install(FILES ${MIC_CHANGELOG} DESTINATION ${MIC_DOC_DIR})
endif()

set(CPACK_PACKAGE_NAME mic-transcriber)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${MIC_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "transcribe the microphone on this machine into JSON lines")
# Lines of the package's long description, kept short as Debian's tools expect.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "mic-transcriber listens to the default microphone, recognizes speech with"
  "pocketsphinx entirely on this machine, and writes what it hears to standard"
  "output as JSON lines: progress, partial transcripts, then one final"
  "transcript or error. Nothing is sent over the network and nothing is stored.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

if(NOT APPLE)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The shared libraries come from dpkg-shlibdeps (package dpkg-dev); data that no library needs
  # is named here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The model, and the word list the program reads.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "pocketsphinx-en-us, wamerican")
  # libpulse alone only talks to a server; without one the program falls back to bare ALSA.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
endif()

include(CPack)
