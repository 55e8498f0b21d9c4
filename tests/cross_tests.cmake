# Read by ctest in a native build: the unit and fault tests of the Linux
# cross build that KERFLINE_TEST_CROSS_BUILD names join the suite, each run
# under qemu-user as that build registered it (the linux-ARCH-test presets
# set it).
if(DEFINED ENV{KERFLINE_TEST_CROSS_BUILD})
  subdirs("$ENV{KERFLINE_TEST_CROSS_BUILD}/tests")
endif()
