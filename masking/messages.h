// The texts the masking command shows, as code page 932 strings.
#pragma once

#include "masking/host_api.h"

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
