# Read by project() once the compiler is known and before the build types' flags are cached
# (CMAKE_USER_MAKE_RULES_OVERRIDE): the defaults a fresh build directory starts from.
#
# Release optimises at -O2, the level Debian builds its own packages at, instead of CMake's
# -O3. At -O3 GCC 12 inlines std::string's operator+ far enough to report overlapping copies
# that cannot happen (-Wrestrict, GCC bug 105329); nothing in a program that waits on a serial
# line gains from -O3. A -DCMAKE_CXX_FLAGS_RELEASE given on the command line still wins.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
endif()
