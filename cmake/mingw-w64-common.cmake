# Cross-compiles for Windows with Debian's mingw-w64, for the processor the including
# toolchain file names. The -posix compilers give std::thread and the other C++ threading
# parts; -static puts their runtime (and libstdc++) into the program, so that it needs no DLL
# beyond Windows' own.
set(CMAKE_SYSTEM_NAME Windows)

set(MORVA_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${MORVA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORVA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MORVA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MORVA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
