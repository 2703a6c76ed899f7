# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX-thread
# flavour, which std::thread and the GoogleTest build expect):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Executables are linked statically, so they run without the compiler's DLLs
# beside them (under wine as on a bare Windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORKA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORKA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORKA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VORKA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORKA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# g++ 12 reports overlapping copies inside inlined std::string
# concatenation that cannot happen (GCC bug 105329); with -Werror that
# false alarm would stop the build.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows' usual import libraries, plus those of the platform layer: winmm
# (timeGetTime) and mpr (WNetGetUniversalNameA). Set as the cache value, since
# the platform files of CMake replace any initial value given here.
set(CMAKE_CXX_STANDARD_LIBRARIES
    "-lwinmm -lmpr -lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32 -loleaut32 -luuid -lcomdlg32 -ladvapi32"
    CACHE STRING "Libraries linked into every C++ executable")

# Test discovery and ctest run the .exe files through wine. Debian's wine64
# package keeps its loader out of the PATH.
find_program(VORKA_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(VORKA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORKA_WINE})
endif()
