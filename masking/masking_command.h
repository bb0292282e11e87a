// Running the masking command over the documents that the user selected.
// Portable: the Windows module's command entry and the console runner both
// call it.
#pragma once

#include <cstdint>

// The command's name in code page 932, terminating zero included.
constexpr std::int32_t kMaskingCommandNameSize = 11;
extern const char kMaskingCommandName[kMaskingCommandNameSize];

// True when `name` equals the command name byte for byte (as strcmp does).
// A null name is never the command.
bool IsMaskingCommand(const char* name);

// Masks every document of `filePaths` in order, stopping at the first one
// that fails, and shows exactly one closing message. Returns 0 when `name`
// is not the masking command (nothing shown, nothing touched), else 1.
std::int32_t RunMaskingCommand(const char* name, std::int32_t fileCount,
                               const char* const* filePaths);
