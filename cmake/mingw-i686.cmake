# Cross-building the 32-bit Windows program on Debian with mingw-w64; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

# The -posix variants: GoogleTest needs std::mutex, which the -win32 threading model lacks.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Each test program runs under Wine through this script, so CTest waits for the program, not for whatever it
# started.
get_filename_component(WINE_TEST_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-test.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_TEST_SCRIPT})
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build with the same toolchain")
