// The stand-in host's documents as JSON files (hostsim/document_json.h) on
// disk (hostsim/file_access.h): the store of hostsim/document_store.h, and
// reading a document file for other uses (the runner's pictures).
#pragma once

#include <string>

#include "hostsim/document.h"
#include "hostsim/file_access.h"

namespace hostsim {

// Reads and parses the document file at `path` (a file-system path; symbolic
// links are followed) and gives the version it was read in and, if `text` is
// given, its bytes. `reason` says why it failed; kInvalid means it is not a
// valid document.
FileStatus ReadDocumentFile(const std::string& path, Document& out, FileVersion& version,
                            std::string& reason, std::string* text = nullptr);

}  // namespace hostsim
