#include "hostsim/document_files.h"

#include "hostsim/document_json.h"
#include "hostsim/document_store.h"

namespace hostsim {
namespace {

HostResult OpenResult(FileStatus status) {
  switch (status) {
    case FileStatus::kOk:
      return kHostOk;
    case FileStatus::kNotFound:
      return kHostFileNotFound;
    case FileStatus::kAccessDenied:
      return kHostAccessDenied;
    case FileStatus::kInvalid:
      break;
  }
  return kHostBadFormat;
}

}  // namespace

FileStatus ReadDocumentFile(const std::string& path, Document& out, FileVersion& version,
                            std::string& reason) {
  std::string resolved;
  FileStatus status = ResolvePath(path, resolved, reason);
  if (status != FileStatus::kOk) return status;
  std::string text;
  status = ReadWholeFile(resolved, kMaxDocumentSize, text, version, reason);
  if (status != FileStatus::kOk) return status;
  if (!ParseDocument(text, out, reason)) {
    reason = "not a valid document: " + reason;
    return FileStatus::kInvalid;
  }
  return FileStatus::kOk;
}

HostResult LoadDocument(const char* hostPath, Document& document, DocumentOrigin& origin,
                        std::string& reason) {
  const auto path = FileSystemPath(hostPath);
  if (!path) {
    reason = "the name is not valid in the ANSI code page";
    return kHostBadName;
  }
  origin.location = *path;
  const FileStatus read = ReadDocumentFile(*path, document, origin.version, reason);
  if (read != FileStatus::kOk) return OpenResult(read);
  ResolvePath(*path, origin.location, reason);
  // Refused at the open already, as the host does for a read-only document.
  return OpenResult(CheckReplaceable(origin.location, reason));
}

HostResult StoreDocument(DocumentOrigin& origin, const Document& document, std::string& reason) {
  ReplaceRules rules;
  rules.unchangedSince = &origin.version;
  FileVersion saved;
  const bool written = ReplaceFileWith(
      origin.location, rules,
      [&document](const TextSink& sink, std::string& why) {
        return WriteDocument(document, sink, why);
      },
      &saved, reason);
  if (!written) return kHostAccessDenied;
  origin.version = saved;
  return kHostOk;
}

}  // namespace hostsim
