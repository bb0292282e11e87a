// File access on Windows (the stand-in built as xdwapi.dll). Paths are ANSI
// code page paths, handed to the -A functions as they are.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "hostsim/file_access.h"

namespace hostsim {
namespace {

SaveStep failingSaveStep = SaveStep::kNone;
DWORD failingSaveError = 0;
void (*saveStepWatcher)(SaveStep) = nullptr;

// Begins a step: tells the test watcher, and fails it when a test asked for that.
bool BeginStep(SaveStep step) {
  if (saveStepWatcher != nullptr) saveStepWatcher(step);
  if (step != failingSaveStep) return true;
  SetLastError(failingSaveError != 0 ? failingSaveError : ERROR_WRITE_FAULT);
  return false;
}

std::string SystemReason(DWORD code) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason.empty() ? "system error " + std::to_string(code) : reason;
}

FileStatus StatusOf(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? FileStatus::kNotFound
                                                                      : FileStatus::kAccessDenied;
}

// What a system error of a save means for the caller.
FileStatus StatusOfError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileStatus::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return FileStatus::kAccessDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileStatus::kExists;
    default:
      return FileStatus::kFailed;
  }
}

// Whether the open file holds exactly `expected`, read from its start.
bool HoldsExactly(HANDLE file, const std::string& expected) {
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  char buffer[65536];
  std::size_t at = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return at == expected.size();
    if (got > expected.size() - at || std::memcmp(buffer, expected.data() + at, got) != 0) {
      return false;
    }
    at += got;
  }
}

std::int64_t Ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

bool VersionOf(HANDLE file, FileVersion& version) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return false;
  version.device = info.dwVolumeSerialNumber;
  version.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  version.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  version.links = info.nNumberOfLinks;
  version.modified = Ticks(info.ftLastWriteTime) * 100;
  version.changed = 0;
  return true;
}

// The version of the file at `path`; false if it cannot be opened.
bool VersionAt(const std::string& path, FileVersion& version) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = VersionOf(file, version);
  CloseHandle(file);
  return ok;
}

// The temporary file of a save: closed, and removed unless its name was
// cleared (it took the document's place), when it goes out of scope.
struct Temporary {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string name;

  Temporary() = default;
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    Close();
    if (!name.empty()) DeleteFileA(name.c_str());
  }
  bool Close() {
    const bool closed = file == INVALID_HANDLE_VALUE || CloseHandle(file) != 0;
    file = INVALID_HANDLE_VALUE;
    return closed;
  }
};

std::string Folder(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::optional<std::string> FileSystemPath(const char* hostPath) { return std::string(hostPath); }

// The path of the file that `file` is open on, its links followed, as a
// plain path in the ANSI code page; nothing when that code page cannot hold
// it exactly (the file would then be saved under another name).
std::optional<std::string> FinalPath(HANDLE file) {
  std::wstring wide(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, wide.data(), MAX_PATH, FILE_NAME_NORMALIZED);
  if (length >= MAX_PATH) {
    wide.resize(length + 1);
    length = GetFinalPathNameByHandleW(file, wide.data(), length + 1, FILE_NAME_NORMALIZED);
  }
  if (length == 0 || length > wide.size()) return std::nullopt;
  wide.resize(length);
  if (wide.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    wide.replace(0, 8, L"\\\\");
  } else if (wide.rfind(L"\\\\?\\", 0) == 0) {
    wide.erase(0, 4);
  }
  BOOL lossy = FALSE;
  const int size = static_cast<int>(wide.size());
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), size, nullptr,
                                        0, nullptr, &lossy);
  if (bytes <= 0 || lossy) return std::nullopt;
  std::string path(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), size, path.data(), bytes, nullptr,
                      &lossy);
  if (lossy) return std::nullopt;
  return path;
}

FileStatus ResolvePath(const std::string& path, std::string& resolved, std::string& reason) {
  resolved = path;
  // Opened as a file, through every symbolic link, so that a save replaces
  // the link's target and the link stays a link.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    reason = SystemReason(code);
    return StatusOf(code);
  }
  const std::optional<std::string> target = FinalPath(file);
  CloseHandle(file);
  if (!target) {
    reason = "the path of the file it leads to cannot be held in the ANSI code page";
    return FileStatus::kAccessDenied;
  }
  resolved = *target;
  return FileStatus::kOk;
}

FileStatus ReadWholeFile(const std::string& path, std::size_t limit, std::string& out,
                         FileVersion& version, std::string& reason) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    reason = SystemReason(code);
    return StatusOf(code);
  }
  if (GetFileType(file) != FILE_TYPE_DISK || !VersionOf(file, version)) {
    CloseHandle(file);
    reason = "not a regular file";
    return FileStatus::kAccessDenied;
  }
  out.clear();
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      reason = SystemReason(GetLastError());
      CloseHandle(file);
      return FileStatus::kAccessDenied;
    }
    if (got == 0) break;
    if (got > limit - out.size()) {
      CloseHandle(file);
      reason = "larger than " + std::to_string(limit) + " bytes";
      return FileStatus::kInvalid;
    }
    out.append(buffer, got);
  }
  CloseHandle(file);
  return FileStatus::kOk;
}

FileStatus CheckReplaceable(const std::string& path, std::string& reason) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    reason = SystemReason(GetLastError());
    return StatusOf(GetLastError());
  }
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
    reason = "is read-only or a folder";
    return FileStatus::kAccessDenied;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = SystemReason(GetLastError());
    return StatusOf(GetLastError());
  }
  FileVersion version;
  const bool known = VersionOf(file, version);
  CloseHandle(file);
  if (known && version.links > 1) {
    reason = "has " + std::to_string(version.links) +
             " hard links: replacing it would leave the old content under the other names";
    return FileStatus::kAccessDenied;
  }
  return FileStatus::kOk;
}

namespace {

// The checks before a save; `exists` tells whether a file is at `path`.
FileStatus CheckTarget(const std::string& path, const ReplaceRules& rules, bool& exists,
                       std::string& reason) {
  FileVersion current;
  exists = VersionAt(path, current);
  if (!exists) {
    const DWORD code = GetLastError();
    if (rules.unchangedSince != nullptr) {
      reason = path + " was removed since it was opened";
      return FileStatus::kChanged;
    }
    if (!rules.mayCreate) {
      reason = "cannot replace " + path + ": " + SystemReason(code);
      return StatusOfError(code);
    }
  } else {
    if (rules.notSameFileAs != nullptr && current.SameFile(*rules.notSameFileAs)) {
      reason = path + " is the document itself";
      return FileStatus::kAccessDenied;
    }
    if (!rules.mayReplace) {
      reason = path + " already exists";
      return FileStatus::kExists;
    }
    std::string why;
    if (CheckReplaceable(path, why) != FileStatus::kOk) {
      reason = path + " " + why;
      return FileStatus::kAccessDenied;
    }
    if (rules.unchangedSince != nullptr && current != *rules.unchangedSince) {
      reason = path + " was changed by someone else since it was opened";
      return FileStatus::kChanged;
    }
  }
  return FileStatus::kOk;
}

}  // namespace

FileStatus CheckReplaceRules(const std::string& path, const ReplaceRules& rules,
                             std::string& reason) {
  bool exists = false;
  return CheckTarget(path, rules, exists, reason);
}

FileStatus ReplaceFileWith(const std::string& path, const ReplaceRules& rules,
                           const ContentWriter& content, FileVersion* version,
                           std::string& reason) {
  bool exists = false;
  const FileStatus checked = CheckTarget(path, rules, exists, reason);
  if (checked != FileStatus::kOk) return checked;
  // A short name of fixed length beside the file (the system has no unnamed
  // files). CREATE_NEW never reuses a file that happens to exist. From then
  // on the file goes, whatever happens (an exception from the writer
  // included), unless it took the document's place.
  static unsigned counter = 0;
  Temporary temporary;
  for (int attempt = 0; attempt < 100 && temporary.file == INVALID_HANDLE_VALUE; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "\\.velumo-%08x",
                  static_cast<unsigned>(GetCurrentProcessId() * 7919u + ++counter));
    temporary.name = Folder(path) + name;
    if (BeginStep(SaveStep::kCreateTemporary)) {
      temporary.file = CreateFileA(temporary.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (temporary.file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (temporary.file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    temporary.name.clear();
    reason = "cannot create a temporary file next to " + path + ": " + SystemReason(code);
    return StatusOfError(code);
  }
  HANDLE file = temporary.file;

  const bool shortWrite = !BeginStep(SaveStep::kWriteTemporary);
  DWORD failure = 0;
  const TextSink sink = [file, shortWrite, &failure](std::string_view text) {
    // A disk that fills up halfway, when a test asks for it.
    if (shortWrite) text = text.substr(0, text.size() / 2);
    while (!text.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
      DWORD written = 0;
      if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) {
        failure = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
        return false;
      }
      text.remove_prefix(written);
    }
    if (shortWrite) failure = ERROR_DISK_FULL;
    return !shortWrite;
  };
  std::string why;
  bool ok = content(sink, why);
  if (!ok && failure != 0) why = SystemReason(failure);
  if (ok && (!BeginStep(SaveStep::kFlushTemporary) || !FlushFileBuffers(file))) {
    failure = GetLastError();
    why = SystemReason(failure);
    ok = false;
  }
  const bool closed = temporary.Close();
  if (ok && (!BeginStep(SaveStep::kCloseTemporary) || !closed)) {
    failure = GetLastError();
    why = SystemReason(failure);
    ok = false;
  }
  if (!ok) {
    reason = "cannot write " + path + ": " + why;
    return failure != 0 ? StatusOfError(failure) : FileStatus::kFailed;
  }

  if (!exists) {
    if (!BeginStep(SaveStep::kName) ||
        !MoveFileExA(temporary.name.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
      const DWORD code = GetLastError();
      const bool taken = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
      reason = taken ? path + (rules.mayReplace ? " was created by someone else meanwhile"
                                                : " already exists")
                     : "cannot create " + path + ": " + SystemReason(code);
      return taken ? (rules.mayReplace ? FileStatus::kChanged : FileStatus::kExists)
                   : StatusOfError(code);
    }
    temporary.name.clear();  // it is the document now
  } else {
    // The last look: writers are kept out while the version and the content
    // are compared and the new file takes the original's place, which keeps
    // its ACL and attributes.
    HANDLE original = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FileVersion now;
    const bool unchanged =
        original != INVALID_HANDLE_VALUE && VersionOf(original, now) &&
        (rules.unchangedSince == nullptr || now == *rules.unchangedSince) &&
        (rules.unchangedContent == nullptr || HoldsExactly(original, *rules.unchangedContent));
    if (!unchanged) {
      if (original != INVALID_HANDLE_VALUE) CloseHandle(original);
      reason = path + " was changed by someone else since it was opened";
      return FileStatus::kChanged;
    }
    const bool replaced =
        BeginStep(SaveStep::kExchange) &&
        ReplaceFileA(path.c_str(), temporary.name.c_str(), nullptr, 0, nullptr, nullptr);
    const DWORD code = GetLastError();
    CloseHandle(original);
    if (!replaced) {
      reason = "cannot replace " + path + ": " + SystemReason(code);
      return StatusOfError(code);
    }
    temporary.name.clear();  // it is the document now
  }
  if (version != nullptr) VersionAt(path, *version);
  return FileStatus::kOk;
}

void FailSaveStepForTesting(SaveStep step, int systemError) {
  failingSaveStep = step;
  failingSaveError = static_cast<DWORD>(systemError);
}

void WatchSaveStepsForTesting(void (*watcher)(SaveStep step)) { saveStepWatcher = watcher; }

}  // namespace hostsim
