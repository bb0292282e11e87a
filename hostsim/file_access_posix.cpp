// File access on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hostsim/cp932.h"
#include "hostsim/file_access.h"
#include "hostsim/write_all.h"

namespace hostsim {
namespace {

SaveStep failingSaveStep = SaveStep::kNone;
void (*saveStepWatcher)(SaveStep) = nullptr;

// Begins a step: tells the test watcher, and fails it with `code` in errno
// when a test asked for that.
bool BeginStep(SaveStep step, int code) {
  if (saveStepWatcher != nullptr) saveStepWatcher(step);
  if (step != failingSaveStep) return true;
  errno = code;
  return false;
}

std::string SystemReason(int code) { return std::strerror(code); }

std::int64_t Nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileVersion VersionOf(const struct stat& info) {
  FileVersion version;
  version.device = static_cast<std::uint64_t>(info.st_dev);
  version.inode = static_cast<std::uint64_t>(info.st_ino);
  version.size = static_cast<std::uint64_t>(info.st_size);
  version.links = static_cast<std::uint64_t>(info.st_nlink);
  version.modified = Nanoseconds(info.st_mtim);
  version.changed = Nanoseconds(info.st_ctim);
  return version;
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

FileStatus StatusOf(int code) {
  return code == ENOENT || code == ENOTDIR ? FileStatus::kNotFound : FileStatus::kAccessDenied;
}

// Why an existing file may not be replaced, or nothing.
std::optional<std::string> Unreplaceable(const std::string& path, const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0) {
    return "is read-only";
  }
  if (info.st_nlink > 1) {
    return "has " + std::to_string(info.st_nlink) +
           " hard links: replacing it would leave the old content under the other names";
  }
  return std::nullopt;
}

// --- the temporary file of a replace in progress, for the signal handler ---

char pendingTemporary[PATH_MAX + 32];
volatile std::sig_atomic_t temporaryPending = 0;
struct sigaction previousActions[2];
constexpr int kCleanedSignals[2] = {SIGINT, SIGTERM};

// Removes the temporary file, then lets the signal do what it did before.
void RemoveTemporaryOnSignal(int signal) {
  if (temporaryPending != 0) ::unlink(pendingTemporary);
  temporaryPending = 0;
  for (int i = 0; i < 2; ++i) {
    if (kCleanedSignals[i] == signal) ::sigaction(signal, &previousActions[i], nullptr);
  }
  ::raise(signal);  // delivered once this handler returns
}

// While a replace is in progress the two signals first remove its temporary
// file; signals the program ignores stay ignored. Blocking them around the
// creation and the rename leaves no moment in which the file exists under a
// name the handler does not know, or in which the handler could remove the
// renamed document.
class SignalGuard {
 public:
  SignalGuard() {
    sigemptyset(&signals_);
    for (const int signal : kCleanedSignals) sigaddset(&signals_, signal);
  }
  ~SignalGuard() {
    Block();
    temporaryPending = 0;
    if (installed_) {
      for (int i = 0; i < 2; ++i) ::sigaction(kCleanedSignals[i], &previousActions[i], nullptr);
    }
    Unblock();
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

  void Block() {
    if (!blocked_) ::sigprocmask(SIG_BLOCK, &signals_, &old_);
    blocked_ = true;
  }
  void Unblock() {
    if (blocked_) ::sigprocmask(SIG_SETMASK, &old_, nullptr);
    blocked_ = false;
  }

  // Called with the signals blocked, once the temporary file exists.
  void Track(const std::string& temporary) {
    std::memcpy(pendingTemporary, temporary.c_str(), temporary.size() + 1);
    temporaryPending = 1;
    if (installed_) return;
    struct sigaction action {};
    action.sa_handler = RemoveTemporaryOnSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 2; ++i) {
      ::sigaction(kCleanedSignals[i], nullptr, &previousActions[i]);
      if (previousActions[i].sa_handler != SIG_IGN) {
        ::sigaction(kCleanedSignals[i], &action, nullptr);
      }
    }
    installed_ = true;
  }
  // Called with the signals blocked: the temporary file is gone or renamed.
  static void Forget() { temporaryPending = 0; }

 private:
  sigset_t signals_{};
  sigset_t old_{};
  bool blocked_ = false;
  bool installed_ = false;
};

// Gives the new file the owner, group and permissions of the one it replaces.
bool KeepOwnerAndMode(int fd, const struct stat& original, std::string& reason) {
  struct stat mine {};
  if (::fstat(fd, &mine) != 0) {
    reason = SystemReason(errno);
    return false;
  }
  if ((mine.st_uid != original.st_uid || mine.st_gid != original.st_gid) &&
      ::fchown(fd, original.st_uid, original.st_gid) != 0) {
    reason = "cannot keep its owner and group: " + SystemReason(errno);
    return false;
  }
  // After the owner: changing the owner clears the set-user-ID bits.
  if (::fchmod(fd, original.st_mode & 07777) != 0) {
    reason = "cannot keep its permissions: " + SystemReason(errno);
    return false;
  }
  return true;
}

bool Unsupported(int code) { return code == ENOTSUP || code == EOPNOTSUPP || code == EPERM; }

// Copies the extended attributes of the file at `path` to `fd`, as far as the
// file systems allow: names they do not support, or may not be set here,
// are skipped.
bool CopyExtendedAttributes(const std::string& path, int fd, std::string& reason) {
  std::vector<char> names;
  for (;;) {
    const ssize_t size = ::listxattr(path.c_str(), nullptr, 0);
    if (size < 0) {
      if (Unsupported(errno)) return true;
      reason = "cannot read its extended attributes: " + SystemReason(errno);
      return false;
    }
    names.resize(static_cast<std::size_t>(size));
    if (size == 0) return true;
    const ssize_t got = ::listxattr(path.c_str(), names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) {
      reason = "cannot read its extended attributes: " + SystemReason(errno);
      return false;
    }
  }
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    ssize_t size = 0;
    for (;;) {
      size = ::getxattr(path.c_str(), name, nullptr, 0);
      if (size < 0) break;
      value.resize(static_cast<std::size_t>(size) + 1);
      size = ::getxattr(path.c_str(), name, value.data(), value.size());
      if (size >= 0 || errno != ERANGE) break;
    }
    if (size < 0 && errno == ENODATA) continue;  // removed meanwhile
    if (size < 0 || ::fsetxattr(fd, name, value.data(), static_cast<std::size_t>(size), 0) != 0) {
      if (Unsupported(errno)) continue;
      reason =
          std::string("cannot keep its extended attribute ") + name + ": " + SystemReason(errno);
      return false;
    }
  }
  return true;
}

// The state of the file to replace, once its path is known.
struct Target {
  std::string path;  // the file itself, not a link to it
  bool exists = false;
  struct stat info {};
};

bool FindTarget(const std::string& path, const ReplaceRules& rules, Target& target,
                std::string& reason) {
  const auto fail = [&](const std::string& why) {
    reason = path + " " + why;
    return false;
  };
  const auto failSystem = [&](int code) {
    reason = "cannot replace " + path + ": " + SystemReason(code);
    return false;
  };
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) {
    if (errno != ENOENT) return failSystem(errno);
    if (rules.unchangedSince != nullptr) return fail("was removed since it was opened");
    if (!rules.mayCreate) return failSystem(ENOENT);
    target.path = path;
    return true;
  }
  target.path = path;
  if (S_ISLNK(link.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
      return fail("is a symbolic link that leads nowhere (" + SystemReason(errno) + ")");
    }
    target.path = resolved;
  }
  if (::stat(target.path.c_str(), &target.info) != 0) {
    if (rules.unchangedSince != nullptr) return fail("was removed since it was opened");
    return failSystem(errno);
  }
  target.exists = true;
  if (const auto why = Unreplaceable(target.path, target.info)) return fail(*why);
  const FileVersion version = VersionOf(target.info);
  if (rules.notSameFileAs != nullptr && version.SameFile(*rules.notSameFileAs)) {
    return fail("is the document itself");
  }
  if (rules.unchangedSince != nullptr && version != *rules.unchangedSince) {
    return fail("was changed by someone else since it was opened");
  }
  return true;
}

// Whether the target is still what FindTarget saw (nobody wrote, replaced or
// removed it meanwhile).
bool StillUnchanged(const Target& target, const ReplaceRules& rules, std::string& reason) {
  if (rules.unchangedSince == nullptr) return true;
  struct stat now {};
  if (::stat(target.path.c_str(), &now) != 0) {
    reason = target.path + " was removed since it was opened";
    return false;
  }
  if (VersionOf(now) != *rules.unchangedSince) {
    reason = target.path + " was changed by someone else since it was opened";
    return false;
  }
  return true;
}

// Writes, flushes and closes the temporary file; false with `reason` set.
bool FillTemporary(int fd, const Target& target, const ContentWriter& content,
                   std::string& reason) {
  std::string why;
  bool ok = true;
  if (target.exists) {
    ok = KeepOwnerAndMode(fd, target.info, why) && CopyExtendedAttributes(target.path, fd, why);
  } else {
    // mkstemp makes the file 0600; a new file gets what the umask leaves.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) {
      why = SystemReason(errno);
      ok = false;
    }
  }
  int code = 0;
  if (ok) {
    const bool writeFails = !BeginStep(SaveStep::kWriteTemporary, ENOSPC);
    const TextSink sink = [fd, writeFails, &code](std::string_view text) {
      // A disk that fills up halfway, when a test asks for it.
      if (writeFails) {
        int ignored = 0;
        WriteAll(fd, text.substr(0, text.size() / 2), ::write, ignored);
        code = ENOSPC;
        return false;
      }
      return WriteAll(fd, text, ::write, code);
    };
    ok = content(sink, why);
    if (!ok && code != 0) why = SystemReason(code);
  }
  if (ok && (!BeginStep(SaveStep::kFlushTemporary, EIO) || ::fsync(fd) != 0)) {
    why = SystemReason(errno);
    ok = false;
  }
  const bool closed = ::close(fd) == 0;
  const int closeError = errno;
  if (ok && (!BeginStep(SaveStep::kCloseTemporary, EIO) || !closed)) {
    why = SystemReason(closed ? errno : closeError);
    ok = false;
  }
  if (!ok) reason = "cannot write " + target.path + ": " + why;
  return ok;
}

}  // namespace

bool WriteAll(int fd, std::string_view text, WriteFunction write, int& error) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    if (written == 0) {
      error = EIO;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::optional<std::string> FileSystemPath(const char* hostPath) { return Cp932ToUtf8(hostPath); }

FileStatus ResolvePath(const std::string& path, std::string& resolved, std::string& reason) {
  resolved = path;
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) {
    reason = SystemReason(errno);
    return StatusOf(errno);
  }
  if (!S_ISLNK(link.st_mode)) return FileStatus::kOk;
  char target[PATH_MAX];
  if (::realpath(path.c_str(), target) == nullptr) {
    reason = "a symbolic link that leads nowhere (" + SystemReason(errno) + ")";
    return StatusOf(errno);
  }
  resolved = target;
  return FileStatus::kOk;
}

FileStatus ReadWholeFile(const std::string& path, std::size_t limit, std::string& out,
                         FileVersion& version, std::string& reason) {
  // O_NONBLOCK keeps a named pipe from blocking the open; it is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    reason = SystemReason(errno);
    return StatusOf(errno);
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    reason = "not a regular file";
    return FileStatus::kAccessDenied;
  }
  version = VersionOf(info);
  out.clear();
  out.reserve(std::min<std::size_t>(static_cast<std::size_t>(info.st_size), limit));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = SystemReason(errno);
      ::close(fd);
      return FileStatus::kAccessDenied;
    }
    if (got == 0) break;
    // Checked while reading, not from the file's size, so that a file that
    // grows (or a file system that reports no size) cannot get past it.
    if (static_cast<std::size_t>(got) > limit - out.size()) {
      ::close(fd);
      reason = "larger than " + std::to_string(limit) + " bytes";
      return FileStatus::kInvalid;
    }
    out.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return FileStatus::kOk;
}

FileStatus CheckReplaceable(const std::string& path, std::string& reason) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    reason = SystemReason(errno);
    return StatusOf(errno);
  }
  if (const auto why = Unreplaceable(path, info)) {
    reason = *why;
    return FileStatus::kAccessDenied;
  }
  return FileStatus::kOk;
}

bool ReplaceFileWith(const std::string& path, const ReplaceRules& rules,
                     const ContentWriter& content, FileVersion* version, std::string& reason) {
  Target target;
  if (!FindTarget(path, rules, target, reason)) return false;
  if (target.path.size() >= PATH_MAX) {
    reason = "cannot replace " + path + ": " + SystemReason(ENAMETOOLONG);
    return false;
  }

  // A short name of fixed length beside the file: the rename stays within one
  // folder (and file system), and works for names up to the system's limit.
  std::string temporary = Folder(target.path) + "/.velumo-XXXXXX";
  SignalGuard guard;
  guard.Block();
  int fd = -1;
  if (BeginStep(SaveStep::kCreateTemporary, EMFILE)) {
    fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  }
  if (fd < 0) {
    const int code = errno;
    guard.Unblock();
    reason = "cannot create a temporary file next to " + target.path + ": " + SystemReason(code);
    return false;
  }
  guard.Track(temporary);
  guard.Unblock();

  if (!FillTemporary(fd, target, content, reason)) {
    guard.Block();
    ::unlink(temporary.c_str());
    SignalGuard::Forget();
    return false;
  }
  guard.Block();
  const bool renameAllowed = BeginStep(SaveStep::kRename, EXDEV);
  const int refusal = errno;
  // The last look before the rename: someone may have written meanwhile.
  if (!StillUnchanged(target, rules, reason)) {
    ::unlink(temporary.c_str());
    SignalGuard::Forget();
    return false;
  }
  if (!renameAllowed || ::rename(temporary.c_str(), target.path.c_str()) != 0) {
    reason = "cannot replace " + target.path + ": " + SystemReason(renameAllowed ? errno : refusal);
    ::unlink(temporary.c_str());
    SignalGuard::Forget();
    return false;
  }
  SignalGuard::Forget();
  struct stat info {};
  if (version != nullptr && ::stat(target.path.c_str(), &info) == 0) *version = VersionOf(info);
  return true;
}

void FailSaveStepForTesting(SaveStep step) { failingSaveStep = step; }

void WatchSaveStepsForTesting(void (*watcher)(SaveStep step)) { saveStepWatcher = watcher; }

}  // namespace hostsim
