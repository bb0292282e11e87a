#include "plugin/entry_points.h"

#include <cstring>
#include <type_traits>

#include "masking/masking_command.h"
#include "plugin/win32_ui.h"

using masking::CommandOutcome;
using masking::kMaskingCommandName;
using masking::kMaskingCommandNameSize;

// Every export's function has the prototype of its export (so the five that
// share PLG_AnswerYes must share one prototype too).
#define VELUMO_CHECK_EXPORTED_FUNCTION(name, bytes, ordinal, function) \
  static_assert(std::is_same_v<decltype(function), Plugin##name>,      \
                "_PLG_" #name "@" #bytes " and " #function " disagree");
VELUMO_PLUGIN_EXPORTS(VELUMO_CHECK_EXPORTED_FUNCTION)
#undef VELUMO_CHECK_EXPORTED_FUNCTION

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

PluginIcon WINAPI PLG_GetCommandIcon(const char* commandName, std::int32_t large) {
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
