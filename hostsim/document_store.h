// Where the stand-in host's documents come from and go to. Each build links
// one store: JSON files (document_files.cpp) for the runner, the tests and
// the Windows DLL; documents held in memory for the fuzz targets.
#pragma once

#include <string>

#include "hostapi/host_api.h"
#include "hostsim/document.h"
#include "hostsim/file_access.h"

namespace hostsim {

// Where an open document came from, as the store needs it to save it again.
struct DocumentOrigin {
  std::string location;  // the file itself (symbolic links followed)
  FileVersion version;   // the file as it was read or last saved
  std::string content;   // its bytes then, to tell a change that the times miss
};

// Loads the document at `hostPath` (ANSI code page, as the host API receives
// it) for changing and saving. On failure returns the host's result code and
// says why in `reason`.
HostResult LoadDocument(const char* hostPath, Document& document, DocumentOrigin& origin,
                        std::string& reason);

// Saves the document where it came from, unless someone else changed it
// there since; on success `origin` describes what is there now. On failure
// the result code is the one whose message fits: kHostAccessDenied only for
// a matter of access, kHostFail for a full disk, a file too large or a
// change by someone else.
HostResult StoreDocument(DocumentOrigin& origin, const Document& document, std::string& reason);

}  // namespace hostsim
