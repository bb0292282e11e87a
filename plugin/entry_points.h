// The functions behind the module's 14 exports. The host finds them by their
// decorated export names (velumo.def maps `_PLG_ExecuteCommand@4` onto
// PLG_ExecuteCommand and so on); every one uses the Windows API calling
// convention, so on 32-bit Windows the suffix is the size of its arguments.
// Arguments that the module never reads are unnamed.
#pragma once

#include <windows.h>

#include <cstdint>

#include "plugin/command_request.h"

extern "C" {

std::int32_t WINAPI PLG_EnumerateCommands(char* buffer, std::int32_t bufferSize,
                                          std::int32_t* requiredSize);
std::int32_t WINAPI PLG_Executable(std::uintptr_t, std::int32_t selectedCount);
HICON WINAPI PLG_GetCommandIcon(const char* commandName, std::int32_t large);
std::int32_t WINAPI PLG_ExecuteCommand(const CommandRequest* request);
std::int32_t WINAPI PLG_SetProfile(std::uintptr_t);
void* WINAPI PLG_GetNewClone(std::uintptr_t, std::uintptr_t);

// Exported as _PLG_CanSetProfile@4, _PLG_Initialize@4, _PLG_Finalize@4,
// _PLG_CanFinalize@4 and _PLG_RequireFiles@4.
std::int32_t WINAPI PLG_AnswerYes(std::uintptr_t);
// Exported as _PLG_IsParallel@4, _PLG_IsCloningCommand@4 and _PLG_ReleaseClone@4.
std::int32_t WINAPI PLG_AnswerNo(std::uintptr_t);

}  // extern "C"
