# Cross build for x86_64 Windows with Debian's MinGW-w64 toolchain
# (g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELUMO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELUMO_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VELUMO_MINGW_TRIPLE}-g++)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
