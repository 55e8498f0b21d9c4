# Read by ctest in the release build: the unit and fault tests of the build
# that KERFLINE_TEST_OTHER_BUILD names join the suite, each run as that build
# registered it, a cross build's under qemu-user (the linux-ARCH-test and
# sanitize-test presets set it).
if(DEFINED ENV{KERFLINE_TEST_OTHER_BUILD})
  subdirs("$ENV{KERFLINE_TEST_OTHER_BUILD}/tests")
endif()
