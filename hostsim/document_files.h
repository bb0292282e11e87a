// The stand-in host's documents as files: reading the file a host path names,
// and the JSON documents of hostsim/document_json.h on disk
// (hostsim/file_access.h). The stores of hostsim/document_store.h are built
// from these.
#pragma once

#include <cstddef>
#include <string>

#include "hostapi/host_api.h"
#include "hostsim/document.h"
#include "hostsim/document_store.h"
#include "hostsim/file_access.h"

namespace hostsim {

// A document file as read whole by the open call.
struct StoredFile {
  std::string path;      // the file-system path as the host named it
  std::string location;  // the file itself (symbolic links followed)
  std::string content;
  FileVersion version;  // the file as it was read
};

// Reads the file that `hostPath` (ANSI code page) names, of at most `limit`
// bytes. On failure returns the host's result code and says why in `reason`.
HostResult ReadStoredFile(const char* hostPath, std::size_t limit, StoredFile& file,
                          std::string& reason);

// The JSON document in `file`, to be masked in place: refused, as the host
// refuses a read-only document, when its file may not be replaced.
HostResult LoadJsonDocument(StoredFile&& file, Document& document, DocumentOrigin& origin,
                            std::string& reason);

// Saves a JSON document where it came from, unless someone else changed it
// there since (see StoreDocument).
HostResult StoreJsonDocument(DocumentOrigin& origin, const Document& document, std::string& reason);

// The host's result for a save that failed with `status`: the one whose
// message fits (kHostAccessDenied only for a matter of access, kHostFail for
// a full disk, a file too large or a change by someone else).
HostResult SaveResult(FileStatus status);

// Reads and parses the document file at `path` (a file-system path; symbolic
// links are followed) and gives the version it was read in and, if `text` is
// given, its bytes. `reason` says why it failed; kInvalid means it is not a
// valid document.
FileStatus ReadDocumentFile(const std::string& path, Document& out, FileVersion& version,
                            std::string& reason, std::string* text = nullptr);

}  // namespace hostsim
