# The Debian package, made from the release build: cpack -G DEB in build/release.

include(GNUInstallDirs)

file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog latest LIMIT_COUNT 1)
if(NOT latest MATCHES "\\(${PROJECT_VERSION}\\)")
    message(WARNING "packaging/changelog has no entry for version ${PROJECT_VERSION} at its top")
endif()

# Debian wants the changelog compressed, with no time stamp inside.
set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/roraridov)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME roraridov)
set(CPACK_PACKAGE_VENDOR "the Roraridov developers")
set(CPACK_PACKAGE_CONTACT "Roraridov developers <roraridov@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI thru router for three inputs and three outputs")
# Debian wants the lines of the long description under 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Roraridov forwards every short MIDI message from up to three inputs to the"
    "outputs each input is routed to, and can turn channel pressure into pitch"
    "bend or drop system messages per input. It works over JACK (PipeWire's JACK"
    "included) or the ALSA sequencer, with a small window or without one as a"
    "user service.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
