# Installation and packages. `cmake --install` puts the program in bin/, its
# manual page in share/man/man1/ and its documents in share/doc/kerfline/;
# CPack makes a .deb on Linux and a .zip on Windows (cpack --preset deb,
# windows-i686 or windows-x64). The version everywhere, the usage text's
# credit line included, is the one the build says, KERFLINE_VERSION_TEXT.
include(GNUInstallDirs)

configure_file(doc/kerfline.1.in kerfline.1 @ONLY)

set(KERFLINE_PACKAGE_MAINTAINER "The kerfline developers <kerfline@example.org>"
  CACHE STRING "Maintainer named in the .deb and its changelog")

# Sets out to the day CHANGELOG.md gives the release of project()'s version
# ("## [1.2.3] - 2026-12-08"), written as Debian's changelog writes dates.
function(kerfline_debian_changelog_date out)
  file(STRINGS "${PROJECT_SOURCE_DIR}/CHANGELOG.md" heading
    REGEX "^## \\[${PROJECT_VERSION}\\] - [0-9]+-[0-9]+-[0-9]+$")
  if(NOT heading MATCHES "([0-9]+)-([0-9]+)-([0-9]+)$")
    message(FATAL_ERROR "CHANGELOG.md has no heading \"## [${PROJECT_VERSION}] - YYYY-MM-DD\" "
      "for the version project() sets; the package's changelog takes its date from there")
  endif()
  set(year ${CMAKE_MATCH_1})
  math(EXPR month "${CMAKE_MATCH_2}")
  set(day ${CMAKE_MATCH_3})
  # Days since 1970-01-01, the year counted from March so that a leap day
  # comes last; 1970-01-01 was a Thursday.
  set(y ${year})
  set(m ${month})
  if(m LESS_EQUAL 2)
    math(EXPR y "${y} - 1")
    math(EXPR m "${m} + 12")
  endif()
  math(EXPR days "365 * ${y} + ${y} / 4 - ${y} / 100 + ${y} / 400")
  math(EXPR days "${days} + (153 * (${m} - 3) + 2) / 5 + ${day} - 719469")
  math(EXPR weekday "(${days} + 4) % 7")
  math(EXPR month "${month} - 1")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday_name)
  list(GET months ${month} month_name)
  set(${out} "${weekday_name}, ${day} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# The README links to these; they go where it finds them.
set(linked_documents CONTRIBUTING.md)
set(linked_bench_documents bench/README.md)

if(WIN32)
  # Flat, as the .zip is unpacked and used: kerfline.exe beside its documents,
  # the manual among them as text, which groff makes from the manual page.
  install(TARGETS kerfline RUNTIME DESTINATION .)
  install(FILES README.md LICENSE CHANGELOG.md ${linked_documents} DESTINATION .)
  install(FILES ${linked_bench_documents} DESTINATION bench)
  find_program(KERFLINE_GROFF groff)
  if(KERFLINE_GROFF)
    add_custom_command(
      OUTPUT kerfline-manual.txt
      COMMAND "${CMAKE_COMMAND}" -DGROFF=${KERFLINE_GROFF} -DPAGE=kerfline.1
              -DTEXT=kerfline-manual.txt -P "${PROJECT_SOURCE_DIR}/cmake/manual_text.cmake"
      DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/kerfline.1" "${PROJECT_SOURCE_DIR}/cmake/manual_text.cmake"
      WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
      VERBATIM)
    add_custom_target(kerfline_manual_text ALL DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/kerfline-manual.txt")
    install(FILES "${CMAKE_CURRENT_BINARY_DIR}/kerfline-manual.txt" DESTINATION .)
  else()
    message(WARNING "groff was not found: the .zip will hold no manual (Debian: groff-base)")
  endif()
else()
  # Laid out as Debian's policy asks, for the .deb and `cmake --install`
  # alike: the manual page and the changelogs compressed with gzip -9n (no
  # name or time stamp inside, so the same sources give the same bytes), and
  # the license in Debian's machine-readable copyright file. A package whose
  # version has no Debian revision is native, and its changelog.gz must be in
  # Debian's format: one entry for project()'s version, dated as CHANGELOG.md
  # dates its release; CHANGELOG.md goes beside it. Built with the program,
  # so that whatever built kerfline can install it.
  kerfline_debian_changelog_date(debian_date)
  if(KERFLINE_VERSION_TEXT STREQUAL PROJECT_VERSION)
    set(debian_summary "Release ${PROJECT_VERSION}.")
  else()
    set(debian_summary "Changes not yet released, after ${PROJECT_VERSION}.")
  endif()
  file(CONFIGURE OUTPUT changelog @ONLY CONTENT "\
kerfline (@KERFLINE_VERSION_TEXT@) unstable; urgency=medium

  * @debian_summary@
    What each release changed is in CHANGELOG.md.gz beside this file.

 -- @KERFLINE_PACKAGE_MAINTAINER@  @debian_date@
")
  find_program(KERFLINE_GZIP gzip REQUIRED)
  configure_file(CHANGELOG.md CHANGELOG.md COPYONLY)
  add_custom_command(
    OUTPUT kerfline.1.gz changelog.gz CHANGELOG.md.gz
    COMMAND "${KERFLINE_GZIP}" -9nkf kerfline.1 changelog CHANGELOG.md
    DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/kerfline.1" "${CMAKE_CURRENT_BINARY_DIR}/changelog"
            "${CMAKE_CURRENT_BINARY_DIR}/CHANGELOG.md"
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    VERBATIM)
  add_custom_target(kerfline_compressed_documents
    DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/kerfline.1.gz" "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz"
            "${CMAKE_CURRENT_BINARY_DIR}/CHANGELOG.md.gz")
  add_dependencies(kerfline kerfline_compressed_documents)

  install(TARGETS kerfline RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/kerfline.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md doc/copyright "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz"
    "${CMAKE_CURRENT_BINARY_DIR}/CHANGELOG.md.gz" ${linked_documents}
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${linked_bench_documents} DESTINATION ${CMAKE_INSTALL_DOCDIR}/bench)
endif()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_PACKAGE_VERSION "${KERFLINE_VERSION_TEXT}")
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
