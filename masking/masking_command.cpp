#include "masking/masking_command.h"

#include <cstring>

#include "masking/mask_document.h"
#include "masking/message_sink.h"
#include "masking/messages.h"

namespace masking {

// マスキング
const char kMaskingCommandName[kMaskingCommandNameSize] =
    "\x83\x7D\x83\x58\x83\x4C\x83\x93\x83\x4F";

bool IsMaskingCommand(const char* name) {
  return name != nullptr && std::strcmp(name, kMaskingCommandName) == 0;
}

CommandOutcome RunMaskingCommand(const char* name, std::int32_t fileCount,
                                 const char* const* filePaths) {
  if (!IsMaskingCommand(name)) return CommandOutcome::kNotOurs;
  // A host that announces documents but hands over no list has selected
  // nothing we could open.
  if (fileCount <= 0 || filePaths == nullptr) {
    ShowMessage(kSelectDocumentsText);
    return CommandOutcome::kNothingSelected;
  }
  bool anyUncovered = false;
  for (std::int32_t i = 0; i < fileCount; ++i) {
    bool uncovered = false;
    // A missing path counts as a document that failed: nothing can be
    // opened, and the run must not go on as if it had been masked.
    if (filePaths[i] == nullptr || !MaskDocument(filePaths[i], &uncovered)) {
      ShowMessage(kStoppedText);
      return CommandOutcome::kStopped;
    }
    anyUncovered = anyUncovered || uncovered;
  }
  ShowMessage(kFinishedText);
  return anyUncovered ? CommandOutcome::kFinishedUncovered : CommandOutcome::kFinished;
}

}  // namespace masking
