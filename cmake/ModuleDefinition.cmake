# Module-definition (.def) lists are kept in one form: undecorated, as the
# 64-bit build reads them. On 32-bit Windows the symbol of a stdcall function
# carries the size of its arguments (Name@12), so the 32-bit form is derived
# by two rules:
#  - "Export@N = Internal @K": the internal name takes the export name's @N;
#  - "Name @K ... ; stdcall N": the name takes @N.
# A note after an entry (";" and what follows) is for this function alone:
# the linker would read it as more entries, so both forms drop it.
# Link with --disable-stdcall-fixup, so that a size that does not match the
# function's prototype is a link error rather than a silently wrong binding.
#
# velumo_module_definition(<output> <list> [<more lists>...])
# writes <output> for the architecture being built: the lines of every list in
# order (a later list holds only entries, which continue the first's EXPORTS).
function(velumo_module_definition output)
  set(content "")
  foreach(list IN LISTS ARGN)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})
    file(READ ${list} text)
    string(APPEND content "${text}")
  endforeach()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(name "[A-Za-z_][A-Za-z0-9_]*")
    string(REGEX REPLACE "(\n${name}@([0-9]+) = ${name}) " "\\1@\\2 " content "${content}")
    string(REGEX REPLACE "(\n${name})( @[0-9]+[^\n;]*; stdcall ([0-9]+))" "\\1@\\3\\2"
                         content "${content}")
  endif()
  string(REGEX REPLACE "(\n[^;\n]*[^; \t\n])[ \t]*;[^\n]*" "\\1" content "${content}")
  file(CONFIGURE OUTPUT ${output} CONTENT "${content}" @ONLY)
endfunction()
