// File access on POSIX systems (Linux: unnamed temporary files, atomic
// exchange of two names, ACLs and inode flags).
#include <acl/libacl.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/acl.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "hostsim/cp932.h"
#include "hostsim/file_access.h"
#include "hostsim/write_all.h"

namespace hostsim {
namespace {

SaveStep failingSaveStep = SaveStep::kNone;
int failingSaveError = 0;
void (*saveStepWatcher)(SaveStep) = nullptr;

// Begins a step: tells the test watcher, and fails it with errno set when a
// test asked for that (with the test's error, or `code`).
bool BeginStep(SaveStep step, int code) {
  if (saveStepWatcher != nullptr) saveStepWatcher(step);
  if (step != failingSaveStep) return true;
  errno = failingSaveError != 0 ? failingSaveError : code;
  return false;
}

std::string SystemReason(int code) { return std::strerror(code); }

// What a system error means for the caller.
FileStatus StatusOf(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      return FileStatus::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case ELOOP:
      return FileStatus::kAccessDenied;
    case EEXIST:
      return FileStatus::kExists;
    default:
      return FileStatus::kFailed;
  }
}

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

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A file descriptor, closed when it goes out of scope (also when an
// exception passes).
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Every signal that can be held back is, while the object lives: a signal
// that arrives meanwhile is delivered when it goes.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &old_);
  }
  ~HeldSignals() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t old_{};
};

// The inode flags of an open file; 0 where the file system has none.
unsigned InodeFlags(int fd) {
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return 0;
  return static_cast<unsigned>(flags);
}

constexpr unsigned kUnremovable = FS_APPEND_FL | FS_IMMUTABLE_FL;

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
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.valid() && (InodeFlags(file.get()) & kUnremovable) != 0) {
    return "is append-only or immutable";
  }
  return std::nullopt;
}

// --- what a path leads to ------------------------------------------------------

// The file at the end of `path`'s symbolic links: `resolved` is its path and
// `info` its state. A link that leads nowhere is said to; any other failure
// in the system's words.
FileStatus Follow(const std::string& path, std::string& resolved, struct stat& info,
                  std::string& reason) {
  resolved = path;
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) {
    const int code = errno;
    reason = SystemReason(code);
    return StatusOf(code);
  }
  info = link;
  if (!S_ISLNK(link.st_mode)) return FileStatus::kOk;
  if (::stat(path.c_str(), &info) != 0) {
    const int code = errno;
    reason = code == ENOENT ? "a symbolic link that leads nowhere" : SystemReason(code);
    return StatusOf(code);
  }
  // A link to something that has no path of its own (/dev/stdin from a
  // pipe) or to anything but a regular file is not followed further.
  if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
    return FileStatus::kAccessDenied;
  }
  char target[PATH_MAX];
  if (::realpath(path.c_str(), target) == nullptr) {
    const int code = errno;
    reason = SystemReason(code);
    return StatusOf(code);
  }
  resolved = target;
  return FileStatus::kOk;
}

// --- the file to replace ---------------------------------------------------------

struct Target {
  std::string path;  // the file itself, not a link to it
  std::string folder;
  std::string name;  // within the folder
  bool exists = false;
  struct stat info {};
};

void SplitPath(Target& target) {
  const std::size_t slash = target.path.rfind('/');
  if (slash == std::string::npos) {
    target.folder = ".";
    target.name = target.path;
  } else {
    target.folder = slash == 0 ? "/" : target.path.substr(0, slash);
    target.name = target.path.substr(slash + 1);
  }
}

FileStatus FindTarget(const std::string& path, const ReplaceRules& rules, Target& target,
                      std::string& reason) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0 && errno == ENOENT) {
    if (rules.unchangedSince != nullptr) {
      reason = path + " was removed since it was opened";
      return FileStatus::kChanged;
    }
    if (rules.mayCreate) {
      target.path = path;
      SplitPath(target);
      return FileStatus::kOk;
    }
  }
  std::string why;
  const FileStatus status = Follow(path, target.path, target.info, why);
  if (status != FileStatus::kOk) {
    reason = "cannot replace " + path + ": " + why;
    return status;
  }
  SplitPath(target);
  target.exists = true;
  const FileVersion version = VersionOf(target.info);
  if (rules.notSameFileAs != nullptr && version.SameFile(*rules.notSameFileAs)) {
    reason = path + " is the document itself";
    return FileStatus::kAccessDenied;
  }
  if (!rules.mayReplace) {
    reason = path + " already exists";
    return FileStatus::kExists;
  }
  if (const auto unreplaceable = Unreplaceable(target.path, target.info)) {
    reason = path + " " + *unreplaceable;
    return FileStatus::kAccessDenied;
  }
  if (rules.unchangedSince != nullptr && version != *rules.unchangedSince) {
    reason = path + " was changed by someone else since it was opened";
    return FileStatus::kChanged;
  }
  return FileStatus::kOk;
}

// --- the new file's access: exactly the original's ----------------------------

bool Unsupported(int code) { return code == ENOTSUP || code == EOPNOTSUPP; }

bool IsAclName(const char* name) {
  return std::strcmp(name, "system.posix_acl_access") == 0 ||
         std::strcmp(name, "system.posix_acl_default") == 0;
}

// The steps below return 0 or the system error, with `reason` set.
int Failure(int code, const char* what, std::string& reason) {
  reason = what + SystemReason(code);
  return code;
}

// Copies the extended attributes of the file at `path` to `fd`, as far as the
// file systems allow: names they do not support, or that may not be set
// here, are skipped. The ACL is not among them (CopyAccessAcl sets it).
int CopyExtendedAttributes(const std::string& path, int fd, std::string& reason) {
  std::vector<char> names;
  for (;;) {
    const ssize_t size = ::listxattr(path.c_str(), nullptr, 0);
    if (size < 0) {
      return Unsupported(errno) ? 0
                                : Failure(errno, "cannot read its extended attributes: ", reason);
    }
    names.resize(static_cast<std::size_t>(size));
    if (size == 0) return 0;
    const ssize_t got = ::listxattr(path.c_str(), names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return Failure(errno, "cannot read its extended attributes: ", reason);
  }
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    if (IsAclName(name)) continue;
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
      const int code = errno;
      if (Unsupported(code) || code == EPERM) continue;
      reason =
          std::string("cannot keep its extended attribute ") + name + ": " + SystemReason(code);
      return code;
    }
  }
  return 0;
}

// Gives `fd` the access ACL of the file at `path`: its named users and
// groups, or none at all when it has none. Whatever the folder's default ACL
// gave the new file is replaced by it.
int CopyAccessAcl(const std::string& path, int fd, std::string& reason) {
  acl_t acl = ::acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
  if (acl == nullptr) {
    // A file system without ACLs has no default ACL to inherit either.
    return Unsupported(errno) ? 0 : Failure(errno, "cannot read its access control list: ", reason);
  }
  const int code = ::acl_set_fd(fd, acl) == 0 ? 0 : errno;
  ::acl_free(acl);
  return code == 0 ? 0 : Failure(code, "cannot keep its access control list: ", reason);
}

// Gives the new file the owner, group, ACL, permissions and extended
// attributes of the one it replaces.
int KeepAccess(int fd, const Target& target, std::string& reason) {
  const struct stat& original = target.info;
  struct stat mine {};
  if (::fstat(fd, &mine) != 0) return Failure(errno, "", reason);
  if ((mine.st_uid != original.st_uid || mine.st_gid != original.st_gid) &&
      ::fchown(fd, original.st_uid, original.st_gid) != 0) {
    return Failure(errno, "cannot keep its owner and group: ", reason);
  }
  if (const int code = CopyAccessAcl(target.path, fd, reason)) return code;
  // After the owner, which clears the set-user-ID bits, and after the ACL,
  // which sets the permission bits alone.
  if (::fchmod(fd, original.st_mode & 07777) != 0) {
    return Failure(errno, "cannot keep its permissions: ", reason);
  }
  return CopyExtendedAttributes(target.path, fd, reason);
}

// Gives `fd` the access of the file at `from` (ReplaceRules::accessFrom):
// never more than that file allows, nor than the umask leaves.
int TakeAccessFrom(int fd, const std::string& from, std::string& reason) {
  struct stat like {};
  struct stat mine {};
  if (::stat(from.c_str(), &like) != 0 || ::fstat(fd, &mine) != 0) {
    return Failure(errno, "cannot read the access to give it: ", reason);
  }
  // The stand-in is single-threaded: nothing else creates a file meanwhile.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  mode_t mode = like.st_mode & 0666 & ~mask;
  bool groupKept =
      mine.st_gid == like.st_gid || ::fchown(fd, static_cast<uid_t>(-1), like.st_gid) == 0;
  acl_t acl = ::acl_get_file(from.c_str(), ACL_TYPE_ACCESS);
  if (acl == nullptr && !Unsupported(errno)) {
    return Failure(errno, "cannot read the access control list to give it: ", reason);
  }
  if (acl != nullptr) {
    mode_t plain = 0;
    const bool extended = ::acl_equiv_mode(acl, &plain) != 0;
    const int code = ::acl_set_fd(fd, acl) == 0 ? 0 : errno;
    ::acl_free(acl);
    if (code != 0 && !Unsupported(code)) {
      return Failure(code, "cannot give it the access control list: ", reason);
    }
    // Where the new file can have no ACL, its group permissions (the ACL's
    // mask) would grant the owning group what only named users had.
    if (code != 0 && extended) groupKept = false;
  }
  if (!groupKept) mode &= ~static_cast<mode_t>(S_IRWXG);
  // After the ACL, whose mask the group permissions then narrow.
  if (::fchmod(fd, mode) != 0) return Failure(errno, "cannot set its permissions: ", reason);
  return 0;
}

// --- writing the unnamed file ------------------------------------------------------

// Writes and flushes the content; 0, the system error, or -1 when the writer
// gave up for a reason of its own.
int WriteContent(int fd, const ContentWriter& content, std::string& reason) {
  int code = 0;
  const bool writeFails = !BeginStep(SaveStep::kWriteTemporary, ENOSPC);
  const TextSink sink = [fd, writeFails, &code](std::string_view text) {
    // A disk that fills up halfway, when a test asks for it.
    if (writeFails) {
      int ignored = 0;
      WriteAll(fd, text.substr(0, text.size() / 2), ::write, ignored);
      code = failingSaveError != 0 ? failingSaveError : ENOSPC;
      return false;
    }
    return WriteAll(fd, text, ::write, code);
  };
  std::string why;
  if (!content(sink, why)) {
    if (code != 0) return Failure(code, "", reason);
    reason = why;
    return -1;
  }
  if (!BeginStep(SaveStep::kFlushTemporary, EIO) || ::fsync(fd) != 0) {
    return Failure(errno, "", reason);
  }
  return 0;
}

// --- naming it ------------------------------------------------------------------------

// Gives the unnamed file `fd` the name `name` in `folder`; 0 or the error.
// Linking by descriptor needs a privilege that /proc/self/fd does not.
int LinkUnnamed(int fd, int folder, const char* name) {
  if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return errno;
  char proc[32];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, proc, folder, name, AT_SYMLINK_FOLLOW) == 0) return 0;
  return errno;
}

// A hidden name of fixed length: ".velumo-" and six random letters or digits.
constexpr std::size_t kHiddenNameSize = 16;
void MakeHiddenName(char (&name)[kHiddenNameSize]) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[6] = {};
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    static unsigned counter = 0;
    const auto seed = static_cast<unsigned>(::getpid()) * 2654435761u + ++counter +
                      static_cast<unsigned>(std::clock());
    for (std::size_t i = 0; i < sizeof random; ++i) {
      random[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
  }
  std::memcpy(name, ".velumo-", 8);
  for (std::size_t i = 0; i < sizeof random; ++i) {
    name[8 + i] = kLetters[random[i] % (sizeof kLetters - 1)];
  }
  name[14] = '\0';
}

// Whether the open file `fd` holds exactly `expected`, read in pieces
// without allocating.
bool HoldsExactly(int fd, const std::string& expected) {
  char buffer[65536];
  std::size_t at = 0;
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return at == expected.size();
    const auto size = static_cast<std::size_t>(got);
    if (size > expected.size() - at || std::memcmp(buffer, expected.data() + at, size) != 0) {
      return false;
    }
    at += size;
  }
}

// How the exchange ended.
enum class Exchanged {
  kDone,        // the new file has the name, the old one is gone
  kNotNamed,    // no hidden name could be made (error)
  kRefused,     // the exchange failed (error); nothing changed
  kChanged,     // the original changed: seen at the last look, or swapped out and back
  kOtherLeft,   // swapped back, but a third file came in meanwhile, left as `hidden`
  kOldLeft,     // done, but the old file could not be removed from `hidden` (error)
  kNotFlushed,  // done, but the folder could not be flushed (error)
};

// Whether two states of a file show no change: the same file, with the same
// size, link count and times.
bool Unchanged(const struct stat& now, const struct stat& then) {
  return VersionOf(now) == VersionOf(then);
}

// The exchange, with signals held back: the last look at the original, then
// the few system calls during which the new file has a hidden name, so that
// only SIGKILL or the loss of the machine right then can leave that name
// behind. Nothing here allocates. `hidden` receives the name; `error` the
// system error.
Exchanged ExchangeWithOriginal(int folder, int fd, const Target& target, const ReplaceRules& rules,
                               char (&hidden)[kHiddenNameSize], int& error) {
  const HeldSignals held;
  // The last look: still the checked file, unchanged, with the content read.
  const char* name = target.name.c_str();
  const Descriptor old(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat before {};
  bool same = old.valid() ? ::fstat(old.get(), &before) == 0
                          : ::fstatat(folder, name, &before, AT_SYMLINK_NOFOLLOW) == 0;
  same = same && Unchanged(before, target.info);
  if (same && rules.unchangedContent != nullptr) {
    same = old.valid() && HoldsExactly(old.get(), *rules.unchangedContent);
  }
  if (!same) return Exchanged::kChanged;

  int linked = EEXIST;
  for (int attempt = 0; attempt < 100 && linked == EEXIST; ++attempt) {
    MakeHiddenName(hidden);
    linked = BeginStep(SaveStep::kName, EACCES) ? LinkUnnamed(fd, folder, hidden) : errno;
  }
  if (linked != 0) {
    error = linked;
    return Exchanged::kNotNamed;
  }
  if (!BeginStep(SaveStep::kExchange, EXDEV) ||
      ::renameat2(folder, hidden, folder, name, RENAME_EXCHANGE) != 0) {
    error = errno;
    ::unlinkat(folder, hidden, 0);
    return Exchanged::kRefused;
  }
  // What came out must be the file just looked at, as it was (a save by
  // another program may have renamed a new file into place meanwhile).
  struct stat after {};
  same = ::fstatat(folder, hidden, &after, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(after, before) &&
         after.st_size == before.st_size && after.st_nlink == 1 &&
         Nanoseconds(after.st_mtim) == Nanoseconds(before.st_mtim);
  if (!same) {
    ::renameat2(folder, hidden, folder, name, RENAME_EXCHANGE);
    struct stat mine {};
    struct stat back {};
    if (::fstat(fd, &mine) != 0 || ::fstatat(folder, hidden, &back, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(back, mine)) {
      return Exchanged::kOtherLeft;  // never remove what another program put there
    }
    ::unlinkat(folder, hidden, 0);
    return Exchanged::kChanged;
  }
  if (::unlinkat(folder, hidden, 0) != 0) {
    error = errno;
    return Exchanged::kOldLeft;
  }
  if (!BeginStep(SaveStep::kFlushFolder, EIO) || ::fsync(folder) != 0) {
    error = errno;
    return Exchanged::kNotFlushed;
  }
  return Exchanged::kDone;
}

// Links a new file into place under its own name, which must still be free.
FileStatus LinkNewFile(int folder, int fd, const Target& target, const ReplaceRules& rules,
                       std::string& reason) {
  const HeldSignals held;
  const int linked =
      BeginStep(SaveStep::kName, EACCES) ? LinkUnnamed(fd, folder, target.name.c_str()) : errno;
  if (linked == EEXIST) {
    reason = target.path +
             (rules.mayReplace ? " was created by someone else meanwhile" : " already exists");
    return rules.mayReplace ? FileStatus::kChanged : FileStatus::kExists;
  }
  if (linked != 0) {
    reason = "cannot create " + target.path + ": " + SystemReason(linked);
    return StatusOf(linked);
  }
  if (!BeginStep(SaveStep::kFlushFolder, EIO) || ::fsync(folder) != 0) {
    reason =
        target.path + " was written, but its folder could not be flushed: " + SystemReason(errno);
    return FileStatus::kFailed;
  }
  return FileStatus::kOk;
}

FileStatus Unsafe(const Target& target, const char* lacking, std::string& reason) {
  reason = "cannot replace " + target.path + " safely: its file system " + lacking;
  return FileStatus::kFailed;
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
  struct stat info {};
  const FileStatus status = Follow(path, resolved, info, reason);
  if (status != FileStatus::kOk) resolved = path;
  return status == FileStatus::kOk || status == FileStatus::kNotFound ? status
                                                                      : FileStatus::kAccessDenied;
}

FileStatus ReadWholeFile(const std::string& path, std::size_t limit, std::string& out,
                         FileVersion& version, std::string& reason) {
  // O_NONBLOCK keeps a named pipe from blocking the open; it is refused below.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.valid()) {
    const int code = errno;
    reason = SystemReason(code);
    return StatusOf(code) == FileStatus::kNotFound ? FileStatus::kNotFound
                                                   : FileStatus::kAccessDenied;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    reason = "not a regular file";
    return FileStatus::kAccessDenied;
  }
  version = VersionOf(info);
  out.clear();
  out.reserve(std::min<std::size_t>(static_cast<std::size_t>(info.st_size), limit));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = SystemReason(errno);
      return FileStatus::kAccessDenied;
    }
    if (got == 0) break;
    // Checked while reading, not from the file's size, so that a file that
    // grows (or a file system that reports no size) cannot get past it.
    if (static_cast<std::size_t>(got) > limit - out.size()) {
      reason = "larger than " + std::to_string(limit) + " bytes";
      return FileStatus::kInvalid;
    }
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return FileStatus::kOk;
}

FileStatus CheckReplaceable(const std::string& path, std::string& reason) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int code = errno;
    reason = SystemReason(code);
    return StatusOf(code) == FileStatus::kNotFound ? FileStatus::kNotFound
                                                   : FileStatus::kAccessDenied;
  }
  if (const auto why = Unreplaceable(path, info)) {
    reason = *why;
    return FileStatus::kAccessDenied;
  }
  return FileStatus::kOk;
}

FileStatus CheckReplaceRules(const std::string& path, const ReplaceRules& rules,
                             std::string& reason) {
  Target target;
  return FindTarget(path, rules, target, reason);
}

FileStatus ReplaceFileWith(const std::string& path, const ReplaceRules& rules,
                           const ContentWriter& content, FileVersion* version,
                           std::string& reason) {
  Target target;
  FileStatus status = FindTarget(path, rules, target, reason);
  if (status != FileStatus::kOk) return status;

  const Descriptor folder(::open(target.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) {
    const int code = errno;
    reason = "cannot open the folder of " + target.path + ": " + SystemReason(code);
    return StatusOf(code);
  }
  // A hidden name that could not be removed again would leave a copy.
  if (target.exists && (InodeFlags(folder.get()) & kUnremovable) != 0) {
    reason = "cannot replace " + target.path +
             ": its folder is append-only or immutable, so a save would leave a copy in it";
    return FileStatus::kAccessDenied;
  }

  // Unnamed until it is whole: whatever ends the process, nothing is left.
  // A new file gets what open(2) gives it (umask or default ACL); a
  // replacement, or a file that takes another's access, starts private.
  int fd = -1;
  if (BeginStep(SaveStep::kCreateTemporary, EMFILE)) {
    fd = ::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                  target.exists || rules.accessFrom != nullptr ? S_IRUSR | S_IWUSR : 0666);
  }
  const Descriptor file(fd);
  if (!file.valid()) {
    const int code = errno;
    if (code == EOPNOTSUPP || code == EISDIR || code == EINVAL) {
      return Unsafe(target, "cannot make unnamed temporary files", reason);
    }
    reason = "cannot create a temporary file next to " + target.path + ": " + SystemReason(code);
    return StatusOf(code);
  }
  std::string why;
  const int denied = rules.accessFrom != nullptr
                         ? TakeAccessFrom(file.get(), *rules.accessFrom, why)
                     : target.exists ? KeepAccess(file.get(), target, why)
                                     : 0;
  if (denied != 0) {
    reason = (target.exists ? "cannot replace " : "cannot create ") + target.path + ": " + why;
    return StatusOf(denied);
  }
  if (const int code = WriteContent(file.get(), content, why)) {
    reason = "cannot write " + target.path + ": " + why;
    return code > 0 ? StatusOf(code) : FileStatus::kFailed;
  }

  if (!target.exists) {
    status = LinkNewFile(folder.get(), file.get(), target, rules, reason);
  } else {
    char hidden[kHiddenNameSize] = {};
    int error = 0;
    switch (ExchangeWithOriginal(folder.get(), file.get(), target, rules, hidden, error)) {
      case Exchanged::kDone:
        break;
      case Exchanged::kNotNamed:
        reason =
            "cannot create a temporary file next to " + target.path + ": " + SystemReason(error);
        return StatusOf(error);
      case Exchanged::kRefused:
        if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
          return Unsafe(target, "cannot exchange two files atomically", reason);
        }
        if (error == ENOENT) {
          reason = target.path + " was removed by someone else meanwhile";
          return FileStatus::kChanged;
        }
        reason = "cannot replace " + target.path + ": " + SystemReason(error);
        return StatusOf(error);
      case Exchanged::kChanged:
        reason = target.path + " was changed by someone else since it was opened";
        return FileStatus::kChanged;
      case Exchanged::kOtherLeft:
        reason = target.path + " was changed by someone else since it was opened; a version " +
                 "that another program wrote meanwhile was left as " + target.folder + "/" + hidden;
        return FileStatus::kChanged;
      case Exchanged::kOldLeft:
        reason = target.path + " was replaced, but its old content could not be removed from " +
                 target.folder + "/" + hidden + ": " + SystemReason(error);
        return FileStatus::kFailed;
      case Exchanged::kNotFlushed:
        reason = target.path +
                 " was replaced, but its folder could not be flushed: " + SystemReason(error);
        return FileStatus::kFailed;
    }
  }
  if (status != FileStatus::kOk) return status;
  struct stat info {};
  if (version != nullptr && ::fstat(file.get(), &info) == 0) *version = VersionOf(info);
  return FileStatus::kOk;
}

void FailSaveStepForTesting(SaveStep step, int systemError) {
  failingSaveStep = step;
  failingSaveError = systemError;
}

void WatchSaveStepsForTesting(void (*watcher)(SaveStep step)) { saveStepWatcher = watcher; }

}  // namespace hostsim
