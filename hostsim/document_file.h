// The JSON document files that the stand-in host works on, and the file
// helpers it needs: a strict reader, a writer that keeps every member it does
// not manage, and an atomic whole-file replace.
//
// File layout (UTF-8 JSON):
//   { "pages": [ { "width": W, "height": H,
//                  "annotations": [ { "type": T, "x": X, "y": Y, "width": W, "height": H,
//                                     "attributes": { "NAME": VALUE, ... } } ] } ],
//     "host": { "minAnnotationSize": N, "refuseOffPage": BOOL,
//               "failures": [ { "ordinal": O, "call": C, "result": R } ] } }
// Every number is a signed 32-bit integer. "annotations" and "attributes" may
// be missing (empty); "host" and each of its members are optional. A failure's
// "result" is a negative integer or a string "0x8XXXXXXX". Members not listed
// here are carried along unchanged at the top level, in pages and in
// annotations.
//
// All paths in this header are file-system paths, used as they are (the code
// page handling of the host API happens before they get here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostsim {

struct Annotation {
  std::int32_t type = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  // In file order; names are unique.
  std::vector<std::pair<std::string, std::int32_t>> attributes;
  // Members of the annotation object not listed above.
  nlohmann::ordered_json extra = nlohmann::ordered_json::object();
  // Handle given out by the stand-in host while the document is open; it is
  // not part of the file.
  std::uint32_t handle = 0;

  std::optional<std::int32_t> Attribute(std::string_view name) const;
  // Replaces the value, or appends the attribute if it is absent.
  void SetAttribute(std::string_view name, std::int32_t value);
};

struct Page {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<Annotation> annotations;
  nlohmann::ordered_json extra = nlohmann::ordered_json::object();
};

// One "failures" entry: the call-th call of `ordinal` returns `result`.
struct FailureRule {
  int ordinal = 0;
  std::int32_t call = 0;
  std::int32_t result = 0;
};

// The "host" object: how the stand-in behaves for this document.
struct HostSettings {
  std::int32_t minAnnotationSize = 0;
  bool refuseOffPage = false;
  std::vector<FailureRule> failures;
};

struct Document {
  std::vector<Page> pages;
  HostSettings host;
  // Top-level members other than "pages"; "host" is kept here verbatim, since
  // the stand-in never changes it.
  nlohmann::ordered_json extra = nlohmann::ordered_json::object();
};

// Limits on what the reader accepts, so that no input, however made, costs
// more than time in proportion to its size and a bounded amount of memory:
// - the largest document, in bytes. A parsed value can take about 40 times
//   the bytes of its text (an array of empty arrays does), so the reader
//   stays under about 1.3 GiB for any input; a real document needs far less
//   (around 12 times its compact text), and a masked page of 25 rectangles
//   takes about 6 KiB as the stand-in writes it, so some 5,000 such pages fit.
//   The open call refuses a larger file as not a valid document;
constexpr std::size_t kMaxDocumentSize = std::size_t{32} << 20;
// - the deepest nesting of arrays and objects;
constexpr int kMaxNestingDepth = 64;
// - the most members one object may have (the JSON objects keep their members
//   in file order and look keys up one by one, so a huge object would take
//   time in proportion to the square of its size).
constexpr std::size_t kMaxObjectMembers = 1024;

// Parses document text. On failure returns false and describes the first
// problem found in `error`; `out` may then be partly filled. Never throws on bad
// input (only std::bad_alloc can escape).
bool ParseDocument(std::string_view text, Document& out, std::string& error);

// The document as JSON text (indented, ending with a newline).
std::string SerializeDocument(const Document& document);

enum class FileStatus {
  kOk,
  kNotFound,      // no such file or folder
  kAccessDenied,  // exists but cannot be read (or written), or is a folder
  kInvalid,       // read, but not a valid document
};

// Reads and parses a document file. `error` describes any failure.
FileStatus ReadDocumentFile(const std::string& path, Document& out, std::string& error);

// Whether the existing file at `path` may be written: kOk, kNotFound or
// kAccessDenied. A file without any write permission bit counts as read-only
// even for a privileged user, like a file with the read-only attribute on
// Windows.
FileStatus CheckWritable(const std::string& path);

// Replaces the file at `path` with `content` as a whole: the content goes to
// a new temporary file in the same folder, which is then renamed over the
// original. On failure the original is untouched, no temporary file is left
// and `error` says what went wrong.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error);

// The steps of WriteFileAtomically, in the order it takes them.
enum class SaveStep {
  kNone,
  kCreateTemporary,  // making the temporary file
  kWriteTemporary,   // writing the content (an injected failure writes half of it first)
  kFlushTemporary,   // forcing the content to the disk
  kCloseTemporary,   // closing the temporary file
  kRename,           // putting the temporary file in the original's place
};

// Test hook: from now on, every WriteFileAtomically call fails at `step` as if
// the system had refused it (kNone: no step fails). Process-wide, like the rest
// of the stand-in host's state.
void FailSaveStepForTesting(SaveStep step);

}  // namespace hostsim
