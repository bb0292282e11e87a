#include "plugin/entry_points.h"

#include <cstring>

#include "masking/masking_command.h"
#include "plugin/win32_ui.h"

using masking::CommandOutcome;
using masking::kMaskingCommandName;
using masking::kMaskingCommandNameSize;

extern "C" {

std::int32_t WINAPI PLG_EnumerateCommands(char* buffer, std::int32_t bufferSize,
                                          std::int32_t* requiredSize) {
  // The size is reported whatever happens next.
  if (requiredSize != nullptr) {
    *requiredSize = kMaskingCommandNameSize;
  }
  if (bufferSize < kMaskingCommandNameSize || buffer == nullptr) {
    return 0;
  }
  std::memcpy(buffer, kMaskingCommandName, kMaskingCommandNameSize);
  return 1;
}

std::int32_t WINAPI PLG_Executable(std::uintptr_t, std::int32_t selectedCount) {
  return selectedCount >= 1 ? 1 : 0;
}

HICON WINAPI PLG_GetCommandIcon(const char* commandName, std::int32_t large) {
  if (!masking::IsMaskingCommand(commandName)) {
    return nullptr;
  }
  return LoadCommandIcon(large != 0);
}

std::int32_t WINAPI PLG_ExecuteCommand(const CommandRequest* request) {
  if (request == nullptr) {
    return 0;  // no command named, so not this module's
  }
  // The host learns only whether the command was this module's: however the
  // run ended, the user has been told.
  const CommandOutcome outcome =
      masking::RunMaskingCommand(request->commandName, request->fileCount, request->filePaths);
  return outcome == CommandOutcome::kNotOurs ? 0 : 1;
}

std::int32_t WINAPI PLG_SetProfile(std::uintptr_t) {
  ShowAboutBox();
  return 1;
}

void* WINAPI PLG_GetNewClone(std::uintptr_t, std::uintptr_t) { return nullptr; }

std::int32_t WINAPI PLG_AnswerYes(std::uintptr_t) { return 1; }

std::int32_t WINAPI PLG_AnswerNo(std::uintptr_t) { return 0; }

}  // extern "C"
