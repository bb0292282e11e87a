// Everything the masking command tells the user: the texts, as code page 932
// strings, and the messages composed from them. Each message goes through
// ShowMessage (masking/message_sink.h).
#pragma once

#include <cstdint>

#include "hostapi/host_api.h"

namespace masking {

// Closing messages of a run.
extern const char kSelectDocumentsText[];  // nothing selected
extern const char kStoppedText[];          // stopped at a failing document
extern const char kFinishedText[];         // every document done

// Host failures (see HostErrorText).
extern const char kNotInstalledText[];
extern const char kNoRightText[];
extern const char kFileNotFoundText[];
extern const char kCannotOpenText[];
extern const char kBadFormatText[];
extern const char kFileExistsText[];
extern const char kErrorText[];  // any other code, and memory running out

// Follows the page number in the message about rectangles the host refused.
extern const char kUnmaskablePageText[];

// The text for a failing host result code.
const char* HostErrorText(HostResult code);

// Shows the message for a failing host result code.
void ShowHostError(HostResult code);

// Shows "<page>ページにマスクできない部分がありました。(<path>)", the path's
// bytes copied as they are. Without memory for the whole text it still names
// the page.
void ShowUnmaskablePage(std::int32_t page, const char* path);

}  // namespace masking
