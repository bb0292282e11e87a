// The stand-in host's access to files: reading a whole file, and replacing
// one as a whole without ever losing what it held or what someone else wrote
// into it. Each platform has its own implementation (file_access_posix.cpp,
// file_access_windows.cpp), chosen by the build.
//
// Paths here are file-system paths, used as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hostsim/text_sink.h"

namespace hostsim {

enum class FileStatus {
  kOk,
  kNotFound,      // no such file or folder
  kAccessDenied,  // exists but may not be read or replaced, or is no regular file
  kInvalid,       // read, but not what was asked for (too large, not a document)
};

// One state of one file. Two versions differ when the file was written,
// replaced, removed, linked or had its owner or permissions changed.
struct FileVersion {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::uint64_t links = 0;
  std::int64_t modified = 0;  // nanoseconds
  std::int64_t changed = 0;   // nanoseconds (status change; 0 where there is none)

  bool SameFile(const FileVersion& other) const {
    return device == other.device && inode == other.inode;
  }
  bool operator==(const FileVersion& other) const {
    return SameFile(other) && size == other.size && links == other.links &&
           modified == other.modified && changed == other.changed;
  }
  bool operator!=(const FileVersion& other) const { return !(*this == other); }
};

// The file-system path for a path the host received in the ANSI code page:
// UTF-8 on Linux (a Japanese Windows reads code page 932), the same bytes on
// Windows. Nothing when the path is not valid in that code page.
std::optional<std::string> FileSystemPath(const char* hostPath);

// The regular file that `path` names, through symbolic links. kNotFound when
// nothing is there or a link leads nowhere (`resolved` is then `path`).
FileStatus ResolvePath(const std::string& path, std::string& resolved, std::string& reason);

// Reads the whole regular file at `path`, of at most `limit` bytes (kInvalid
// beyond), and the version it was read in. `reason` says why it failed.
FileStatus ReadWholeFile(const std::string& path, std::size_t limit, std::string& out,
                         FileVersion& version, std::string& reason);

// Whether the existing file at `path` may be replaced: kOk, kNotFound or
// kAccessDenied. A file without any write permission bit counts as read-only
// even for a privileged user, like a file with the read-only attribute on
// Windows. A file with more than one hard link is refused: replacing it would
// leave its old content under its other names.
FileStatus CheckReplaceable(const std::string& path, std::string& reason);

struct ReplaceRules {
  // The file must still be in this version (else someone else changed it).
  const FileVersion* unchangedSince = nullptr;
  // The file must not be this one (a picture must never replace its document).
  const FileVersion* notSameFileAs = nullptr;
  // A missing file is created, with the permissions the umask leaves.
  bool mayCreate = false;
};

// Writes the new content of the file at `path` (or of the file its symbolic
// links lead to, which stay links) through the sink it is given; true when
// all of it was written.
using ContentWriter = std::function<bool(const TextSink& sink, std::string& reason)>;

// Replaces the file at `path` as a whole: the content goes to a new temporary
// file beside it, which takes the original's owner, group, permissions and
// extended attributes and is then renamed over it. Never replaces anything
// but a writable regular file with one link; an interrupt or termination
// signal during the writing removes the temporary file. On failure the file
// is untouched, no temporary file is left and `reason` says what went wrong
// in the system's words. On success `version`, if given, is the new file's.
bool ReplaceFileWith(const std::string& path, const ReplaceRules& rules,
                     const ContentWriter& content, FileVersion* version, std::string& reason);

// ReplaceFileWith with the content at hand.
inline bool ReplaceFileContent(const std::string& path, std::string_view content,
                               const ReplaceRules& rules, std::string& reason) {
  return ReplaceFileWith(
      path, rules, [content](const TextSink& sink, std::string&) { return sink(content); }, nullptr,
      reason);
}

// The steps of ReplaceFileWith, in the order it takes them.
enum class SaveStep {
  kNone,
  kCreateTemporary,  // making the temporary file
  kWriteTemporary,   // writing the content (an injected failure writes half of it first)
  kFlushTemporary,   // forcing the content to the disk
  kCloseTemporary,   // closing the temporary file
  kRename,           // putting the temporary file in the original's place
};

// Test hooks, process-wide like the rest of the stand-in's state: from now
// on every ReplaceFileWith fails at `step` as if the system had refused it (kNone:
// none fails), and calls `watcher` (if not null) as it begins each step.
void FailSaveStepForTesting(SaveStep step);
void WatchSaveStepsForTesting(void (*watcher)(SaveStep step));

}  // namespace hostsim
