// Where the stand-in host's documents come from and go to. Each build links
// one store: JSON files (json_store.cpp) for the tests and the Windows DLL;
// JSON or PDF files, told apart by their content (any_store.cpp), for the
// console runner; documents held in memory for the fuzz targets.
#pragma once

#include <memory>
#include <string>

#include "hostapi/host_api.h"
#include "hostsim/document.h"
#include "hostsim/file_access.h"

namespace hostsim {

// A PDF file as the PDF store holds it while it is open (hostsim/pdf_store.h).
struct PdfSource;

// Where an open document came from, as the store needs it to save it again.
struct DocumentOrigin {
  std::string location;  // the file itself (symbolic links followed)
  FileVersion version;   // the file as it was read or last saved
  std::string content;   // its bytes then, to tell a change that the times miss
  // The PDF file as read, for a PDF document (whose masked copy goes to
  // another file); null for a JSON one.
  std::shared_ptr<PdfSource> pdf;
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
