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

# That library's folder (/usr/lib/gcc/<triple>/<version>-win32 on Debian) is
# the one the MinGW g++ of the win32 thread model itself links from: ask it.
if(NOT VELUMO_MINGW_GCC_DIR)
  find_program(VELUMO_MINGW_GXX_WIN32 ${VELUMO_MINGW_TRIPLE}-g++-win32 NO_CMAKE_FIND_ROOT_PATH)
  if(VELUMO_MINGW_GXX_WIN32)
    execute_process(COMMAND ${VELUMO_MINGW_GXX_WIN32} -print-libgcc-file-name
                    OUTPUT_VARIABLE velumo_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(velumo_gcc_dir "${velumo_libgcc}" DIRECTORY)
  endif()
  if(NOT velumo_gcc_dir OR NOT IS_DIRECTORY "${velumo_gcc_dir}/include/c++/${VELUMO_MINGW_TRIPLE}")
    message(FATAL_ERROR
      "The clang build needs the C++ library of MinGW g++ (win32 thread model). Looked for "
      "${VELUMO_MINGW_TRIPLE}-g++-win32 on PATH (found: '${VELUMO_MINGW_GXX_WIN32}'), asked it "
      "for its libgcc.a (got: '${velumo_libgcc}') and looked for include/c++/${VELUMO_MINGW_TRIPLE} "
      "beside it. It comes with Debian's g++-mingw-w64-i686-win32; or pass "
      "-DVELUMO_MINGW_GCC_DIR=<folder of libgcc.a and include/c++>.")
  endif()
  set(VELUMO_MINGW_GCC_DIR "${velumo_gcc_dir}" CACHE PATH
      "Folder of MinGW g++'s libgcc.a and C++ headers (win32 thread model)")
endif()
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${VELUMO_MINGW_GCC_DIR}/include/c++
    ${VELUMO_MINGW_GCC_DIR}/include/c++/${VELUMO_MINGW_TRIPLE}
    ${VELUMO_MINGW_GCC_DIR}/include/c++/backward)
set(VELUMO_MINGW_LINK_FLAGS "-L${VELUMO_MINGW_GCC_DIR}")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
