# Cross build for i686 Windows with Debian's MinGW-w64 toolchain
# (g++-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELUMO_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VELUMO_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VELUMO_MINGW_TRIPLE}-g++)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
