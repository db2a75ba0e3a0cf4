# Install rules and packages (CPack).
#
# One program per architecture, nothing to install beside it:
#   Linux   cmake --install: bin/halvard, share/man/man1/halvard.1 and share/doc/halvard/
#           (README, example-repo/, deploy-scripts/deploy.sh); packages .tar.gz and .deb.
#   Windows halvard.exe, README.md, example-repo\ and deploy-scripts\deploy.cmd side by side
#           in one .zip, halvard-VERSION-win64.zip or halvard-VERSION-win32.zip; deploy.cmd
#           finds halvard.exe one folder up.
# The packages keep the folder names of the source tree.
# The version is PROJECT_VERSION, declared by project() in the root CMakeLists.txt, which
# also hands it to the program (Version.h): the banner, the batch file and the package names
# always agree.

include(GNUInstallDirs)

# A Linux boot image may have no C++ runtime: the native release build links the program
# statically, as the Windows builds always do. (Not for sanitizer builds.)
option(HALVARD_STATIC "Link the native halvard program statically" OFF)
if(HALVARD_STATIC AND NOT WIN32)
  target_link_options(halvard PRIVATE -static)
endif()

set(HALVARD_EXAMPLE_REPO ${PROJECT_SOURCE_DIR}/example-repo)
if(WIN32)
  # A flat folder to copy into a WinPE image as it is.
  install(TARGETS halvard RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(DIRECTORY ${HALVARD_EXAMPLE_REPO}/ DESTINATION example-repo)
  # cmd.exe wants the batch script with CR LF line ends, however it was checked out.
  configure_file(deploy-scripts/deploy.cmd ${CMAKE_CURRENT_BINARY_DIR}/deploy-scripts/deploy.cmd
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deploy-scripts/deploy.cmd DESTINATION deploy-scripts)
else()
  install(TARGETS halvard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/halvard.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY ${HALVARD_EXAMPLE_REPO}/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/example-repo)
  install(PROGRAMS deploy-scripts/deploy.sh DESTINATION ${CMAKE_INSTALL_DOCDIR}/deploy-scripts)
endif()

set(CPACK_PACKAGE_NAME halvard)
set(CPACK_PACKAGE_VENDOR "Norvik")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Device Driver Search Tool: picks the driver sets for an unattended Windows deployment")
set(CPACK_PACKAGE_DESCRIPTION
  "Halvard walks a driver repository, keeps the driver sets made for the target Windows \
version and machine types, picks the most recently created one and writes a batch file of \
SET commands for the next deployment steps.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(HALVARD_PACKAGE_ARCH win64)
  else()
    set(HALVARD_PACKAGE_ARCH win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME halvard-${PROJECT_VERSION}-${HALVARD_PACKAGE_ARCH})
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" HALVARD_PACKAGE_ARCH)
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_PACKAGE_FILE_NAME halvard-${PROJECT_VERSION}-${HALVARD_PACKAGE_ARCH})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Norvik Halvard maintainers <halvard@localhost>")
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  # A dynamically linked build needs its shared libraries named as dependencies.
  find_program(HALVARD_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(HALVARD_DPKG_SHLIBDEPS AND NOT HALVARD_STATIC)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()

include(CPack)
