// The masking pass over one document, through the host's document API.
#pragma once

#include "masking/host_api.h"

// Opens the document at `path` (ANSI code page, passed to the host as it is),
// turns the keep-frames of every page into mask annotations, saves and closes
// it. Returns false when it gave up on the document: the open failed (nothing
// to close), a later step failed (closed without saving) or the save itself
// failed (closed; its message shown). Shows the
// messages for host failures and for pages with rectangles the host refused;
// the run's closing message is the caller's.
bool MaskDocument(const char* path);

// Shows the message for a failing host result code.
void ShowHostError(HostResult code);
