#include "masking/masking_command.h"

#include <cstring>

#include "masking/mask_document.h"
#include "masking/message_sink.h"
#include "masking/messages.h"

// マスキング
const char kMaskingCommandName[kMaskingCommandNameSize] =
    "\x83\x7D\x83\x58\x83\x4C\x83\x93\x83\x4F";

bool IsMaskingCommand(const char* name) {
  return name != nullptr && std::strcmp(name, kMaskingCommandName) == 0;
}

std::int32_t RunMaskingCommand(const char* name, std::int32_t fileCount,
                               const char* const* filePaths) {
  if (!IsMaskingCommand(name)) return 0;
  // A host that announces documents but hands over no list has selected
  // nothing we could open.
  if (fileCount <= 0 || filePaths == nullptr) {
    ShowMessage(kSelectDocumentsText);
    return 1;
  }
  for (std::int32_t i = 0; i < fileCount; ++i) {
    // A missing path counts as a document that failed: nothing can be
    // opened, and the run must not go on as if it had been masked.
    if (filePaths[i] == nullptr || !MaskDocument(filePaths[i])) {
      ShowMessage(kStoppedText);
      return 1;
    }
  }
  ShowMessage(kFinishedText);
  return 1;
}
