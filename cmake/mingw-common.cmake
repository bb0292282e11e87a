# Shared part of the MinGW-w64 toolchain files: set VELUMO_MINGW_TRIPLE and
# the compilers first, then include this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_RC_COMPILER ${VELUMO_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${VELUMO_MINGW_TRIPLE}-dlltool)

# Libraries and headers come from the MinGW sysroot only; programs (python,
# wine, dlltool) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELUMO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL of the build carries the compiler's runtime inside
# (libgcc, libstdc++ and, with the posix thread model, winpthread), so that it
# needs nothing but stock Windows DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ ${VELUMO_MINGW_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ ${VELUMO_MINGW_LINK_FLAGS}")
