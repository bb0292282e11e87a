// Building stand-in documents for tests, and reading back what the pass
// left on disk.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>

#include "hostapi/host_api.h"
#include "hostsim/cp932.h"
#include "tests/support/files.h"

namespace testdoc {

using Json = nlohmann::json;

constexpr std::int32_t kRectangle = kRectangleAnnotation;
constexpr std::int32_t kTextNote = 0x8030;

inline Json Annotation(std::int32_t type, std::int32_t x, std::int32_t y, std::int32_t w,
                       std::int32_t h, Json attributes = Json::object()) {
  return Json{{"type", type}, {"x", x},      {"y", y},
              {"width", w},   {"height", h}, {"attributes", std::move(attributes)}};
}

// A hollow rectangle: what the user draws around an area to keep.
inline Json KeepFrame(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  return Annotation(
      kRectangle, x, y, w, h,
      {{kBorderStyleAttribute, kBorderedStyle}, {kFillStyleAttribute, kUnfilledStyle}});
}

inline Json Rectangle(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                      std::int32_t border, std::int32_t fill) {
  return Annotation(kRectangle, x, y, w, h,
                    {{kBorderStyleAttribute, border}, {kFillStyleAttribute, fill}});
}

inline Json TextNote(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  return Annotation(kTextNote, x, y, w, h, {{"%FontSize", 12}});
}

inline Json Page(std::int32_t w, std::int32_t h, Json annotations = Json::array()) {
  return Json{{"width", w}, {"height", h}, {"annotations", std::move(annotations)}};
}

inline Json Document(Json pages) { return Json{{"pages", std::move(pages)}}; }

// The same from a braced list, whatever its length. A Json parameter would
// take a list of one value as a one-element array with GCC but as the value
// itself with clang (list-initialization from a single element), so
// Page(w, h, {KeepFrame(...)}) made a page whose "annotations" is no array.
inline Json List(std::initializer_list<Json> values) {
  Json list = Json::array();
  for (const Json& value : values) list.push_back(value);
  return list;
}

inline Json Page(std::int32_t w, std::int32_t h, std::initializer_list<Json> annotations) {
  return Page(w, h, List(annotations));
}

inline Json Document(std::initializer_list<Json> pages) { return Document(List(pages)); }

using testfiles::ReadFile;
using testfiles::WriteFile;

inline Json ReadDocument(const std::string& path) { return Json::parse(ReadFile(path)); }

// A temporary folder that also writes documents.
class DocumentDir : public testfiles::TempDir {
 public:
  // Writes `document` as `name` and returns its path.
  std::string Put(const std::string& name, const Json& document) const {
    const std::string file = File(name);
    WriteFile(file, document.dump(1));
    return file;
  }
};

// The code page 932 bytes of a UTF-8 text, as the plug-in shows it.
inline std::string Cp932(const std::string& utf8) { return hostsim::Utf8ToCp932(utf8).value(); }

}  // namespace testdoc
