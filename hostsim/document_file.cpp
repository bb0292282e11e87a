#include "hostsim/document_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "hostapi/host_api.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace hostsim {
namespace {

using Json = nlohmann::ordered_json;

// Ordinals that a "failures" entry may name.
constexpr int kKnownOrdinals[] = {kOrdinalOpenDocument,           kOrdinalCloseDocument,
                                  kOrdinalGetDocumentInformation, kOrdinalGetPageInformation,
                                  kOrdinalSaveDocument,           kOrdinalGetAnnotationInformation,
                                  kOrdinalGetAnnotationAttribute, kOrdinalAddAnnotation,
                                  kOrdinalRemoveAnnotation,       kOrdinalSetAnnotationAttribute};

bool ToInt32(const Json& value, std::int32_t& out) {
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return false;
    out = static_cast<std::int32_t>(v);
    return true;
  }
  if (value.is_number_integer()) {
    const auto v = value.get<std::int64_t>();
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max()) {
      return false;
    }
    out = static_cast<std::int32_t>(v);
    return true;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "0x8XXXXXXX" (eight hex digits, top bit set) as a negative result code.
bool ParseHexResult(const std::string& text, std::int32_t& out) {
  if (text.size() != 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  std::uint32_t value = 0;
  for (std::size_t i = 2; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  if ((value & 0x80000000u) == 0) return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

// Walks a parsed document, filling the model and stopping at the first
// problem. `where` names the value being looked at, for the error text.
class Reader {
 public:
  explicit Reader(std::string& error) : error_(error) {}

  bool ReadDocument(const Json& root, Document& out) {
    if (!root.is_object()) return Fail("document", "is not an object");
    const auto pages = root.find("pages");
    if (pages == root.end()) return Fail("document", "has no \"pages\"");
    if (!pages->is_array()) return Fail("pages", "is not an array");
    out.pages.clear();
    out.pages.reserve(pages->size());
    for (std::size_t i = 0; i < pages->size(); ++i) {
      out.pages.emplace_back();
      if (!ReadPage((*pages)[i], "pages[" + std::to_string(i) + "]", out.pages.back())) {
        return false;
      }
    }
    out.host = HostSettings{};
    out.extra = Json::object();
    for (auto it = root.begin(); it != root.end(); ++it) {
      if (it.key() == "pages") continue;
      if (it.key() == "host" && !ReadHost(it.value(), out.host)) return false;
      out.extra[it.key()] = it.value();
    }
    return true;
  }

 private:
  bool Fail(const std::string& where, const std::string& what) {
    error_ = where + " " + what;
    return false;
  }

  bool Int32Member(const Json& object, const char* key, const std::string& where,
                   std::int32_t& out) {
    const auto it = object.find(key);
    if (it == object.end()) return Fail(where, std::string("has no \"") + key + "\"");
    if (!ToInt32(*it, out)) return Fail(where + "." + key, "is not a signed 32-bit integer");
    return true;
  }

  bool ReadPage(const Json& value, const std::string& where, Page& out) {
    if (!value.is_object()) return Fail(where, "is not an object");
    if (!Int32Member(value, "width", where, out.width)) return false;
    if (!Int32Member(value, "height", where, out.height)) return false;
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (it.key() == "width" || it.key() == "height") continue;
      if (it.key() != "annotations") {
        out.extra[it.key()] = it.value();
        continue;
      }
      const Json& list = it.value();
      if (!list.is_array()) return Fail(where + ".annotations", "is not an array");
      out.annotations.reserve(list.size());
      for (std::size_t i = 0; i < list.size(); ++i) {
        out.annotations.emplace_back();
        if (!ReadAnnotation(list[i], where + ".annotations[" + std::to_string(i) + "]",
                            out.annotations.back())) {
          return false;
        }
      }
    }
    return true;
  }

  bool ReadAnnotation(const Json& value, const std::string& where, Annotation& out) {
    if (!value.is_object()) return Fail(where, "is not an object");
    if (!Int32Member(value, "type", where, out.type) || !Int32Member(value, "x", where, out.x) ||
        !Int32Member(value, "y", where, out.y) || !Int32Member(value, "width", where, out.width) ||
        !Int32Member(value, "height", where, out.height)) {
      return false;
    }
    for (auto it = value.begin(); it != value.end(); ++it) {
      const std::string& key = it.key();
      if (key == "type" || key == "x" || key == "y" || key == "width" || key == "height") continue;
      if (key != "attributes") {
        out.extra[key] = it.value();
        continue;
      }
      const Json& attributes = it.value();
      if (!attributes.is_object()) return Fail(where + ".attributes", "is not an object");
      for (auto attr = attributes.begin(); attr != attributes.end(); ++attr) {
        std::int32_t number = 0;
        if (!ToInt32(attr.value(), number)) {
          return Fail(where + ".attributes[\"" + attr.key() + "\"]",
                      "is not a signed 32-bit integer");
        }
        out.SetAttribute(attr.key(), number);
      }
    }
    return true;
  }

  bool ReadHost(const Json& value, HostSettings& out) {
    if (!value.is_object()) return Fail("host", "is not an object");
    if (const auto it = value.find("minAnnotationSize"); it != value.end()) {
      if (!ToInt32(*it, out.minAnnotationSize)) {
        return Fail("host.minAnnotationSize", "is not a signed 32-bit integer");
      }
    }
    if (const auto it = value.find("refuseOffPage"); it != value.end()) {
      if (!it->is_boolean()) return Fail("host.refuseOffPage", "is not true or false");
      out.refuseOffPage = it->get<bool>();
    }
    if (const auto it = value.find("failures"); it != value.end()) {
      if (!it->is_array()) return Fail("host.failures", "is not an array");
      for (std::size_t i = 0; i < it->size(); ++i) {
        FailureRule rule;
        if (!ReadFailure((*it)[i], "host.failures[" + std::to_string(i) + "]", rule)) return false;
        out.failures.push_back(rule);
      }
    }
    return true;
  }

  bool ReadFailure(const Json& value, const std::string& where, FailureRule& out) {
    if (!value.is_object()) return Fail(where, "is not an object");
    std::int32_t ordinal = 0;
    if (!Int32Member(value, "ordinal", where, ordinal)) return false;
    if (std::find(std::begin(kKnownOrdinals), std::end(kKnownOrdinals), ordinal) ==
        std::end(kKnownOrdinals)) {
      return Fail(where + ".ordinal", "is not an ordinal of the host API");
    }
    out.ordinal = ordinal;
    if (!Int32Member(value, "call", where, out.call)) return false;
    if (out.call < 1) return Fail(where + ".call", "is not 1 or more");
    const auto result = value.find("result");
    if (result == value.end()) return Fail(where, "has no \"result\"");
    if (result->is_string()) {
      if (!ParseHexResult(result->get<std::string>(), out.result)) {
        return Fail(where + ".result", "is not a string \"0x8XXXXXXX\"");
      }
    } else if (!ToInt32(*result, out.result) || out.result >= 0) {
      return Fail(where + ".result", "is not a negative 32-bit integer");
    }
    return true;
  }

  std::string& error_;
};

// The step of WriteFileAtomically that tests make fail, if any.
SaveStep failingSaveStep = SaveStep::kNone;

bool InjectedFailure(SaveStep step) { return step == failingSaveStep; }

std::string TooLargeText() { return "larger than " + std::to_string(kMaxDocumentSize) + " bytes"; }

// Checks the nesting depth and the member counts of JSON text without parsing
// it. Only brackets, braces and commas outside strings count; for valid JSON
// that is exactly the structure the parser will build, and for anything else
// the parser gives the error.
bool CheckStructure(std::string_view text, std::string& error) {
  struct Level {
    bool object;
    std::size_t commas;
  };
  Level levels[kMaxNestingDepth] = {};
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '{':
      case '[':
        if (depth == kMaxNestingDepth) {
          error = "nested deeper than " + std::to_string(kMaxNestingDepth) + " levels";
          return false;
        }
        levels[depth++] = Level{c == '{', 0};
        break;
      case '}':
      case ']':
        if (depth > 0) --depth;
        break;
      case ',':
        if (depth > 0 && levels[depth - 1].object &&
            ++levels[depth - 1].commas >= kMaxObjectMembers) {
          error = "has an object with more than " + std::to_string(kMaxObjectMembers) + " members";
          return false;
        }
        break;
      default:
        break;
    }
  }
  return true;
}

Json AnnotationToJson(const Annotation& annotation) {
  Json out = Json::object();
  out["type"] = annotation.type;
  out["x"] = annotation.x;
  out["y"] = annotation.y;
  out["width"] = annotation.width;
  out["height"] = annotation.height;
  Json attributes = Json::object();
  for (const auto& [name, value] : annotation.attributes) attributes[name] = value;
  out["attributes"] = std::move(attributes);
  for (auto it = annotation.extra.begin(); it != annotation.extra.end(); ++it) {
    out[it.key()] = it.value();
  }
  return out;
}

Json PageToJson(const Page& page) {
  Json out = Json::object();
  out["width"] = page.width;
  out["height"] = page.height;
  Json annotations = Json::array();
  for (const Annotation& annotation : page.annotations) {
    annotations.push_back(AnnotationToJson(annotation));
  }
  out["annotations"] = std::move(annotations);
  for (auto it = page.extra.begin(); it != page.extra.end(); ++it) out[it.key()] = it.value();
  return out;
}

#ifdef _WIN32

// Runs the system call of one save step, or fails it when a test asked for
// that step to fail.
template <typename Call>
bool Step(SaveStep step, Call&& call) {
  if (InjectedFailure(step)) {
    SetLastError(ERROR_WRITE_FAULT);
    return false;
  }
  return call();
}

FileStatus StatusFromLastError() {
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return FileStatus::kNotFound;
  return FileStatus::kAccessDenied;
}

FileStatus ReadWholeFile(const std::string& path, std::string& out, std::string& error) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const FileStatus status = StatusFromLastError();
    error = status == FileStatus::kNotFound ? "no such file" : "cannot open the file";
    return status;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    error = "not a regular file";
    return FileStatus::kAccessDenied;
  }
  out.clear();
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      CloseHandle(file);
      error = "cannot read the file";
      return FileStatus::kAccessDenied;
    }
    if (got == 0) break;
    if (got > kMaxDocumentSize - out.size()) {
      CloseHandle(file);
      error = TooLargeText();
      return FileStatus::kInvalid;
    }
    out.append(buffer, got);
  }
  CloseHandle(file);
  return FileStatus::kOk;
}

#else

FileStatus ReadWholeFile(const std::string& path, std::string& out, std::string& error) {
  // O_NONBLOCK keeps a named pipe from blocking the open; it is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int code = errno;
    error = std::strerror(code);
    return code == ENOENT || code == ENOTDIR ? FileStatus::kNotFound : FileStatus::kAccessDenied;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    error = "not a regular file";
    return FileStatus::kAccessDenied;
  }
  out.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      ::close(fd);
      return FileStatus::kAccessDenied;
    }
    if (got == 0) break;
    // Checked while reading, not from the file's size, so that a file that
    // grows (or a file system that reports no size) cannot get past it.
    if (static_cast<std::size_t>(got) > kMaxDocumentSize - out.size()) {
      ::close(fd);
      error = TooLargeText();
      return FileStatus::kInvalid;
    }
    out.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return FileStatus::kOk;
}

// Runs the system call of one save step, or fails it with `code` in errno when
// a test asked for that step to fail.
template <typename Call>
bool Step(SaveStep step, int code, Call&& call) {
  if (InjectedFailure(step)) {
    errno = code;
    return false;
  }
  return call();
}

bool WriteAll(int fd, std::string_view content) {
  if (InjectedFailure(SaveStep::kWriteTemporary)) {
    // A disk that fills up halfway: part of the content reaches the file.
    content = content.substr(0, content.size() / 2);
    while (!content.empty()) {
      const ssize_t written = ::write(fd, content.data(), content.size());
      if (written <= 0) break;
      content.remove_prefix(static_cast<std::size_t>(written));
    }
    errno = ENOSPC;
    return false;
  }
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

#endif

}  // namespace

std::optional<std::int32_t> Annotation::Attribute(std::string_view name) const {
  for (const auto& [key, value] : attributes) {
    if (key == name) return value;
  }
  return std::nullopt;
}

void Annotation::SetAttribute(std::string_view name, std::int32_t value) {
  for (auto& [key, current] : attributes) {
    if (key == name) {
      current = value;
      return;
    }
  }
  attributes.emplace_back(std::string(name), value);
}

bool ParseDocument(std::string_view text, Document& out, std::string& error) {
  if (text.size() > kMaxDocumentSize) {
    error = TooLargeText();
    return false;
  }
  // The limits are checked on the text before it is parsed: the parser itself
  // works without recursion, but the code that walks and copies the tree (and
  // its destructor) recurses, and objects with very many members are slow to
  // build. (The parser's own callback could stop deep nesting too, but it
  // makes every array of objects take quadratic time.)
  if (!CheckStructure(text, error)) return false;
  const Json root = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded()) {
    error = "not valid JSON (or not UTF-8)";
    return false;
  }
  return Reader(error).ReadDocument(root, out);
}

void FailSaveStepForTesting(SaveStep step) { failingSaveStep = step; }

std::string SerializeDocument(const Document& document) {
  Json root = Json::object();
  Json pages = Json::array();
  for (const Page& page : document.pages) pages.push_back(PageToJson(page));
  root["pages"] = std::move(pages);
  for (auto it = document.extra.begin(); it != document.extra.end(); ++it) {
    root[it.key()] = it.value();
  }
  return root.dump(2) + "\n";
}

FileStatus ReadDocumentFile(const std::string& path, Document& out, std::string& error) {
  std::string text;
  const FileStatus status = ReadWholeFile(path, text, error);
  if (status != FileStatus::kOk) return status;
  if (!ParseDocument(text, out, error)) return FileStatus::kInvalid;
  return FileStatus::kOk;
}

#ifdef _WIN32

FileStatus CheckWritable(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return StatusFromLastError();
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
    return FileStatus::kAccessDenied;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return StatusFromLastError();
  CloseHandle(file);
  return FileStatus::kOk;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error) {
  // A name next to the original keeps the rename within one folder (and one
  // volume). CREATE_NEW never reuses a file that happens to exist.
  static unsigned counter = 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string temporary;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = path + "." + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter) + ".tmp";
    const bool created = Step(SaveStep::kCreateTemporary, [&] {
      file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      return file != INVALID_HANDLE_VALUE;
    });
    if (!created && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create a temporary file next to " + path;
    return false;
  }
  // A disk that fills up halfway, when a test asks for it: part of the
  // content reaches the file.
  const bool shortWrite = InjectedFailure(SaveStep::kWriteTemporary);
  if (shortWrite) content = content.substr(0, content.size() / 2);
  bool ok = true;
  while (ok && !content.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 20));
    DWORD written = 0;
    ok = WriteFile(file, content.data(), chunk, &written, nullptr) && written > 0;
    if (ok) content.remove_prefix(written);
  }
  ok = ok && !shortWrite;
  ok = ok && Step(SaveStep::kFlushTemporary, [file] { return FlushFileBuffers(file) != 0; });
  const bool closed = CloseHandle(file) != 0;
  ok = ok && Step(SaveStep::kCloseTemporary, [closed] { return closed; });
  if (!ok) {
    DeleteFileA(temporary.c_str());
    error = "cannot write " + temporary;
    return false;
  }
  if (!Step(SaveStep::kRename, [&] {
        return MoveFileExA(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
      })) {
    DeleteFileA(temporary.c_str());
    error = "cannot replace " + path;
    return false;
  }
  return true;
}

#else

FileStatus CheckWritable(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? FileStatus::kNotFound : FileStatus::kAccessDenied;
  }
  if (!S_ISREG(info.st_mode) || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return FileStatus::kAccessDenied;
  }
  return ::access(path.c_str(), W_OK) == 0 ? FileStatus::kOk : FileStatus::kAccessDenied;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error) {
  std::string temporary = path + ".tmp-XXXXXX";
  int fd = -1;
  if (!Step(SaveStep::kCreateTemporary, EMFILE, [&] {
        fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        return fd >= 0;
      })) {
    error = "cannot create a temporary file next to " + path + ": " + std::strerror(errno);
    return false;
  }
  // The replacement keeps the permissions of the file it replaces. Each step
  // runs only if the ones before it succeeded, and `failure` keeps the error
  // of the first that failed; the file is closed whatever happened.
  struct stat info {};
  const mode_t mode = ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
  int failure = 0;
  if (::fchmod(fd, mode) != 0 || !WriteAll(fd, content)) failure = errno;
  if (failure == 0 && !Step(SaveStep::kFlushTemporary, EIO, [fd] { return ::fsync(fd) == 0; })) {
    failure = errno;
  }
  const bool closed = ::close(fd) == 0;
  if (failure == 0 && !Step(SaveStep::kCloseTemporary, EIO, [closed] { return closed; })) {
    failure = errno;
  }
  if (failure != 0) {
    ::unlink(temporary.c_str());
    error = "cannot write " + temporary + ": " + std::strerror(failure);
    return false;
  }
  if (!Step(SaveStep::kRename, EXDEV,
            [&] { return ::rename(temporary.c_str(), path.c_str()) == 0; })) {
    error = "cannot replace " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

#endif

}  // namespace hostsim
