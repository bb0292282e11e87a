// The masking pass over one document, through the host's document API.
#pragma once

namespace masking {

// Opens the document at `path` (ANSI code page, passed to the host as it is),
// turns the keep-frames of every page into mask annotations, saves and closes
// it. Returns false when it gave up on the document: the open failed (nothing
// to close), a later step failed (closed without saving) or the save itself
// failed (closed; its message shown). When `leftUncovered` is given, it is set
// to whether some page had rectangles that the host refused to place (each
// such page was reported). Shows the messages for host failures and for those
// pages; the run's closing message is the caller's.
[[nodiscard]] bool MaskDocument(const char* path, bool* leftUncovered = nullptr);

}  // namespace masking
