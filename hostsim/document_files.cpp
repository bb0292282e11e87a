#include "hostsim/document_files.h"

#include <utility>

#include "hostsim/document_json.h"

namespace hostsim {
namespace {

// The host's result for an open: whatever keeps a file from being read is
// a matter of access, as the host sees it.
HostResult OpenResult(FileStatus status) {
  switch (status) {
    case FileStatus::kOk:
      return kHostOk;
    case FileStatus::kNotFound:
      return kHostFileNotFound;
    case FileStatus::kInvalid:
      return kHostBadFormat;
    case FileStatus::kAccessDenied:
    case FileStatus::kExists:
    case FileStatus::kChanged:
    case FileStatus::kFailed:
      break;
  }
  return kHostAccessDenied;
}

}  // namespace

HostResult SaveResult(FileStatus status) {
  switch (status) {
    case FileStatus::kAccessDenied:
      return kHostAccessDenied;
    case FileStatus::kNotFound:
      return kHostFileNotFound;
    case FileStatus::kExists:
      return kHostFileExists;
    case FileStatus::kOk:
    case FileStatus::kInvalid:
    case FileStatus::kChanged:
    case FileStatus::kFailed:
      break;
  }
  return kHostFail;
}

FileStatus ReadDocumentFile(const std::string& path, Document& out, FileVersion& version,
                            std::string& reason, std::string* text) {
  std::string resolved;
  FileStatus status = ResolvePath(path, resolved, reason);
  if (status != FileStatus::kOk) return status;
  std::string read;
  std::string& bytes = text != nullptr ? *text : read;
  status = ReadWholeFile(resolved, kMaxDocumentSize, bytes, version, reason);
  if (status != FileStatus::kOk) return status;
  if (!ParseDocument(bytes, out, reason)) {
    reason = "not a valid document: " + reason;
    return FileStatus::kInvalid;
  }
  return FileStatus::kOk;
}

HostResult ReadStoredFile(const char* hostPath, std::size_t limit, StoredFile& file,
                          std::string& reason) {
  const auto path = FileSystemPath(hostPath);
  if (!path) {
    reason = "the name is not valid in the ANSI code page";
    return kHostBadName;
  }
  file.path = *path;
  const FileStatus resolved = ResolvePath(file.path, file.location, reason);
  if (resolved != FileStatus::kOk) return OpenResult(resolved);
  return OpenResult(ReadWholeFile(file.location, limit, file.content, file.version, reason));
}

HostResult LoadJsonDocument(StoredFile&& file, Document& document, DocumentOrigin& origin,
                            std::string& reason) {
  if (!ParseDocument(file.content, document, reason)) {
    reason = "not a valid document: " + reason;
    return kHostBadFormat;
  }
  origin.location = std::move(file.location);
  origin.version = file.version;
  origin.content = std::move(file.content);
  // Refused at the open already, as the host does for a read-only document.
  return OpenResult(CheckReplaceable(origin.location, reason));
}

HostResult StoreJsonDocument(DocumentOrigin& origin, const Document& document,
                             std::string& reason) {
  ReplaceRules rules;
  rules.unchangedSince = &origin.version;
  rules.unchangedContent = &origin.content;
  FileVersion saved;
  // What is written is what the next save of this open document compares with.
  std::string written;
  written.reserve(origin.content.size());
  const FileStatus status = ReplaceFileWith(
      origin.location, rules,
      [&document, &written](const TextSink& sink, std::string& why) {
        return WriteDocument(
            document,
            [&sink, &written](std::string_view text) {
              written.append(text);
              return sink(text);
            },
            why);
      },
      &saved, reason);
  if (status != FileStatus::kOk) return SaveResult(status);
  origin.version = saved;
  origin.content = std::move(written);
  return kHostOk;
}

}  // namespace hostsim
