// Running the masking command over the documents that the user selected.
// Portable: the Windows module's command entry and the console runner both
// call it.
#pragma once

#include <cstdint>

namespace masking {

// The command's name in code page 932, terminating zero included.
constexpr std::int32_t kMaskingCommandNameSize = 11;
extern const char kMaskingCommandName[kMaskingCommandNameSize];

// True when `name` equals the command name byte for byte (as strcmp does).
// A null name is never the command.
bool IsMaskingCommand(const char* name);

// How a run of the command ended. Every outcome but kNotOurs showed exactly
// one closing message.
enum class CommandOutcome {
  kNotOurs,            // another command's name: nothing shown, nothing touched
  kNothingSelected,    // no document: the user was asked to select some
  kFinished,           // every document masked and saved, every page fully covered
  kFinishedUncovered,  // every document saved, but some page kept parts that the
                       // host refused to cover (each such page was reported)
  kStopped,            // stopped at the first document that failed
};

// Masks every document of `filePaths` in order, stopping at the first one
// that fails, and shows exactly one closing message (none when `name` is not
// the masking command).
[[nodiscard]] CommandOutcome RunMaskingCommand(const char* name, std::int32_t fileCount,
                                               const char* const* filePaths);

}  // namespace masking
