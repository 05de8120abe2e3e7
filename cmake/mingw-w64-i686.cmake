# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (POSIX threads) against
# a static Qt 5.15 whose prefix is given as CMAKE_PREFIX_PATH. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# Qt's static libraries and the compiler's own; host programs (moc, uic, rcc) are
# found through Qt's CMake files.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs beside the programs: libgcc, libstdc++ and winpthread go in too;
# what nothing calls stays out (Qt is built with a section per function).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--gc-sections")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
