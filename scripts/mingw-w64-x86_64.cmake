# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64), the POSIX
# thread model (std::thread, std::jthread and std::mutex need it). Programs run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and test discovery run the programs through wine.
find_program(KT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KT_WINE)
    # Quiet: without a display wine reports its missing desktop on every start. No Mono or Gecko:
    # a fresh wine prefix would offer to fetch them.
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${KT_WINE})
endif()

# GCC 12 warns falsely about std::string copies inlined from MinGW's libstdc++ (-Wrestrict,
# GCC bug 105329); the Linux build of the same code is clean.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

# The MinGW runtime is linked in, so the programs run without its DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
