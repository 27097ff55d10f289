# The Debian package (morva_<version>_amd64.deb), made by CPack from what `cmake --install`
# lays out, with the project's one version number. tools/package.sh makes it into dist/, with
# the Windows zips (tools/windows.sh: the install folder of a Windows build, zipped).
if(NOT WIN32)
  set(CPACK_PACKAGE_NAME morva)
  set(CPACK_PACKAGE_VENDOR "The Morva authors")
  set(CPACK_PACKAGE_CONTACT ${MORVA_PACKAGE_CONTACT})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "transfers data to and from the Vk350 Morva lighting controller")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_SOURCE_GENERATOR "")
  set(CPACK_GENERATOR DEB)
  # The package installs where this build was configured for (tools/package.sh: /usr).
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The run-time dependencies are read from the programs by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  # Below the summary line, CPACK_PACKAGE_DESCRIPTION_SUMMARY.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Morva moves data between a PC and the Vk350 Morva lighting controller over
an RS-232 serial port: it writes a firmware upgrade, the fixture libraries
or the user data into the controller, reads its memory back into a file,
or verifies a file against it, block by block, each block acknowledged by
the controller.

The package holds the desktop program (morva), the same transfers from a
terminal for scripts and machines without a screen (morva-cli), and a
simulated controller on a pseudo-terminal (vk350-sim).")
  include(CPack)
endif()
