# Warnings for the project's own targets (not for GoogleTest or other
# third-party code): call velumo_warnings(target) on each of them.
function(velumo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion
                                           -Wshadow -Wold-style-cast -Wnon-virtual-dtor)
  if(VELUMO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
