# A second compiler for the 32-bit module: clang targeting i686 Windows with
# the MinGW-w64 headers, libraries and binutils of Debian's
# g++-mingw-w64-i686 (clang brings no C++ library of its own for this target,
# so it uses the MinGW libstdc++ of the win32 thread model, as g++ does).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELUMO_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${VELUMO_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${VELUMO_MINGW_TRIPLE})

set(VELUMO_MINGW_GCC_DIR /usr/lib/gcc/${VELUMO_MINGW_TRIPLE}/12-win32)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${VELUMO_MINGW_GCC_DIR}/include/c++
    ${VELUMO_MINGW_GCC_DIR}/include/c++/${VELUMO_MINGW_TRIPLE}
    ${VELUMO_MINGW_GCC_DIR}/include/c++/backward)
set(VELUMO_MINGW_LINK_FLAGS "-L${VELUMO_MINGW_GCC_DIR}")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
