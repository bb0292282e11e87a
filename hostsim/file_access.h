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
  kExists,        // a new file was to be made, and a file of that name is there
  kChanged,       // someone else changed, replaced or removed the file since it was read
  kFailed,        // the system could not do it: a full disk, a file too large, no
                  // memory, a file system that cannot replace a file safely
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

// The file that `path` names, through symbolic links. kNotFound when nothing
// is there or a link leads nowhere ("a symbolic link that leads nowhere"),
// kAccessDenied when a link leads to something other than a regular file;
// `resolved` is then `path`.
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

// What ReplaceFileWith may do at `path`. The three uses:
//  - saving a document that was read before: unchangedSince and
//    unchangedContent as read (mayCreate false, mayReplace true). The save
//    fails with kChanged rather than lose what another program wrote since;
//  - writing a new file beside the input, never over an existing one (a
//    picture, a masked PDF): mayCreate true, mayReplace false, notSameFileAs
//    the input. An existing file gives kExists and stays as it is;
//  - the same when the user allowed replacing (--force): mayCreate and
//    mayReplace true, notSameFileAs the input.
// A file made from a document (a masked PDF) also has accessFrom the
// document, so that it is readable by no one who may not read the document.
struct ReplaceRules {
  // The file must still be in this version (else someone else changed it).
  const FileVersion* unchangedSince = nullptr;
  // The file must still hold exactly these bytes, the content that was read
  // with unchangedSince; compared at the last look before the exchange, so
  // that a write in place that the times do not show (coarse clocks) is not
  // lost either.
  const std::string* unchangedContent = nullptr;
  // The file must not be this one (a picture must never replace its document).
  const FileVersion* notSameFileAs = nullptr;
  // A missing file is created, as open(2) would create it: with the
  // permissions the umask or the folder's default ACL leave.
  bool mayCreate = false;
  // An existing file may be replaced.
  bool mayReplace = true;
  // The file whose access the new file takes, whether it is created or
  // replaces one, instead of the access of the file it replaces or of what
  // open(2) gives: that file's group (where the process may give it; else
  // no access for the group) and ACL, and its read and write permissions
  // less the umask. The owner is the process, and no extended attribute is
  // copied. POSIX systems only (the Windows stand-in writes no such file).
  const std::string* accessFrom = nullptr;
};

// Writes the new content of the file at `path` (or of the file its symbolic
// links lead to, which stay links) through the sink it is given; true when
// all of it was written. It may throw std::bad_alloc: the file is then left
// as it was and nothing else is left behind.
using ContentWriter = std::function<bool(const TextSink& sink, std::string& reason)>;

// Replaces the file at `path` as a whole, or creates it, so that at every
// moment the name holds either the old file or the whole new one. Never
// replaces anything but a writable regular file with one link. On failure
// the file is as it was and `reason` says what went wrong, in the system's
// words where it has them; on success `version`, if given, is the new file's.
//
// On POSIX systems (Linux), whatever ends the process, no copy of either file
// is left anywhere:
//  - the content goes to an unnamed temporary file in the same folder, which
//    is flushed and takes exactly the original's access (owner, group,
//    permissions with their set-user-ID, set-group-ID and sticky bits, its
//    ACL or none, extended attributes) before it gets a name;
//  - a last look at the original (its version and, with unchangedContent,
//    its bytes); then the new file gets a short hidden name and is exchanged
//    with the original in one atomic step. What was swapped out must be the
//    file looked at, unchanged; if it is not (another program's save landed
//    in between), the two are swapped back and the save fails with kChanged.
//    The old file is then removed and the folder flushed, so that a power
//    cut cannot bring it back. Signals are held back from the last look on,
//    so that only SIGKILL within those few system calls can leave the name;
//  - a new file is linked into place under its own name, which fails if a
//    file of that name appeared meanwhile.
// A folder where a name, once made, could not be removed again (append-only,
// immutable) and a file system that cannot make unnamed files or exchange two
// names are refused (kAccessDenied, kFailed): there a save would have to fall
// back on a way that can lose another writer's change or leave a copy.
// A process that is to report a file-size limit (ulimit -f) as an error
// rather than die of it ignores SIGXFSZ; the runner does.
//
// On Windows the temporary file has a hidden name from the start (there are
// no unnamed files: a process killed while writing leaves it), and the last
// look at the original, content included, is made with writers kept out
// until ReplaceFile has put the new file in its place with the original's
// ACL and attributes.
FileStatus ReplaceFileWith(const std::string& path, const ReplaceRules& rules,
                           const ContentWriter& content, FileVersion* version, std::string& reason);

// What ReplaceFileWith checks before it writes anything, alone: kOk when it
// would begin, else its status and reason. For a caller that has much work
// to do before the save (rendering a masked copy) and should be refused
// first; ReplaceFileWith checks again.
FileStatus CheckReplaceRules(const std::string& path, const ReplaceRules& rules,
                             std::string& reason);

// ReplaceFileWith with the content at hand.
inline FileStatus ReplaceFileContent(const std::string& path, std::string_view content,
                                     const ReplaceRules& rules, std::string& reason) {
  return ReplaceFileWith(
      path, rules, [content](const TextSink& sink, std::string&) { return sink(content); }, nullptr,
      reason);
}

// The steps of ReplaceFileWith, in the order it takes them. Windows takes
// kCloseTemporary and, for a replacement, kExchange alone after the writing;
// POSIX systems every step but kCloseTemporary.
enum class SaveStep {
  kNone,
  kCreateTemporary,  // making the unnamed temporary file
  kWriteTemporary,   // writing the content (an injected failure writes half of it first)
  kFlushTemporary,   // forcing the content to the disk
  kCloseTemporary,   // closing the temporary file (Windows)
  kName,             // giving it its hidden name (or, for a new file, its own)
  kExchange,         // exchanging it with the original (Windows: replacing it)
  kFlushFolder,      // forcing the folder's new entries to the disk
};

// Test hooks, process-wide like the rest of the stand-in's state: from now
// on every ReplaceFileWith fails at `step` as if the system had refused it
// with `systemError` (0: an error typical of the step; kNone: none fails),
// and calls `watcher` (if not null) as it begins each step, right before the
// system call that makes it (at kName and kExchange with signals held back).
void FailSaveStepForTesting(SaveStep step, int systemError = 0);
void WatchSaveStepsForTesting(void (*watcher)(SaveStep step));

}  // namespace hostsim
