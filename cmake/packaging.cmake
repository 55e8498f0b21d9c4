# Installation and packages. `cmake --install` puts the program in bin/, its
# manual page in share/man/man1/ and its documents in share/doc/kerfline/; CPack makes a .deb on Linux and a .zip
# on Windows (cpack --preset deb, windows-i686 or windows-x64). The version
# everywhere, the usage text's credit line included, is project()'s.
include(GNUInstallDirs)

configure_file(doc/kerfline.1.in kerfline.1 @ONLY)

if(WIN32)
  # Flat, as the .zip is unpacked and used: kerfline.exe beside its documents.
  install(TARGETS kerfline RUNTIME DESTINATION .)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
else()
  # Laid out as Debian's policy asks, for the .deb and `cmake --install`
  # alike: the manual page and the changelog compressed with gzip -9n (no
  # name or time stamp inside, so the same sources give the same bytes), and
  # the license in Debian's machine-readable copyright file. Built with the
  # program, so that whatever built kerfline can install it.
  find_program(KERFLINE_GZIP gzip REQUIRED)
  configure_file(CHANGELOG.md changelog COPYONLY)
  add_custom_command(
    OUTPUT kerfline.1.gz changelog.gz
    COMMAND "${KERFLINE_GZIP}" -9nkf kerfline.1 changelog
    DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/kerfline.1" "${CMAKE_CURRENT_BINARY_DIR}/changelog"
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    VERBATIM)
  add_custom_target(kerfline_compressed_documents
    DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/kerfline.1.gz" "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz")
  add_dependencies(kerfline kerfline_compressed_documents)

  install(TARGETS kerfline RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/kerfline.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md doc/copyright "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz"
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(KERFLINE_PACKAGE_MAINTAINER "The kerfline developers <kerfline@example.org>"
  CACHE STRING "Maintainer named in the .deb")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_PACKAGE_VENDOR "the kerfline developers")
set(CPACK_PACKAGE_DESCRIPTION "\
kerfline reads one text file once, top to bottom, and cuts it into
consecutive sections, each written to a file of its own or skipped, as a
form of three-line records prescribes. Lines may be of any length, LF and
CR LF line ends are the same, the input's bytes are kept exactly, and the
form and the input are never overwritten.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KERFLINE_PACKAGE_MAINTAINER}")
# Depends is computed by dpkg-shlibdeps (package dpkg-dev) from the binary.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
