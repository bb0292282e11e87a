#include "hostsim/document_json.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_set>
#include <utility>
#include <vector>

#include "hostapi/host_api.h"

namespace hostsim {
namespace {

using Json = nlohmann::json;

// Ordinals that a "failures" entry may name.
constexpr int kKnownOrdinals[] = {kOrdinalOpenDocument,           kOrdinalCloseDocument,
                                  kOrdinalGetDocumentInformation, kOrdinalGetPageInformation,
                                  kOrdinalSaveDocument,           kOrdinalGetAnnotationInformation,
                                  kOrdinalGetAnnotationAttribute, kOrdinalAddAnnotation,
                                  kOrdinalRemoveAnnotation,       kOrdinalSetAnnotationAttribute};

std::string TooLargeText() { return "larger than " + std::to_string(kMaxDocumentSize) + " bytes"; }

void AppendNumber(std::string& out, std::int64_t value) {
  char digits[24];
  const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
  out.append(digits, static_cast<std::size_t>(end - digits));
}

void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out.push_back(kHex[static_cast<unsigned char>(c) >> 4]);
          out.push_back(kHex[static_cast<unsigned char>(c) & 15]);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
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

// What a value of the document is, by where it stands.
enum class Slot {
  kDocument,
  kPages,
  kPage,
  kAnnotations,
  kAnnotation,
  kAttributes,
  kHost,
  kFailures,
  kFailure,
  kInt32,    // a number the stand-in manages
  kBool,     // a switch of "host"
  kResult,   // a failure's result
  kCarried,  // a member carried along unchanged
  kIgnored,  // inside a carried value, or a member of "host" the stand-in does not use
};

// One open array or object.
struct Frame {
  Slot slot;
  bool object;
  std::size_t count;  // members or elements so far
  std::string key;    // an object's current member
  unsigned seen;      // the managed members met so far (bits by MemberBit)
};

// Member names of one object, for finding a name given twice: a short list
// while the object is small, a hash set beyond.
class MemberNames {
 public:
  void Clear() {
    small_.clear();
    if (!large_.empty()) large_ = {};
  }
  // False when `name` was already there.
  bool Insert(const std::string& name) {
    if (large_.empty()) {
      if (std::find(small_.begin(), small_.end(), name) != small_.end()) return false;
      small_.push_back(name);
      if (small_.size() < kSmall) return true;
      large_.insert(small_.begin(), small_.end());
      small_.clear();
      return true;
    }
    return large_.insert(name).second;
  }

 private:
  static constexpr std::size_t kSmall = 32;
  std::vector<std::string> small_;
  std::unordered_set<std::string> large_;
};

// Bits of Frame::seen, by member name, for the objects with required members.
unsigned MemberBit(Slot object, const std::string& key) {
  static const char* const kPage[] = {"width", "height", "annotations"};
  static const char* const kAnnotation[] = {"type", "x", "y", "width", "height", "attributes"};
  static const char* const kFailure[] = {"ordinal", "call", "result"};
  const auto find = [&key](const auto& names) {
    for (unsigned i = 0; i < std::size(names); ++i) {
      if (key == names[i]) return 1u << i;
    }
    return 0u;
  };
  switch (object) {
    case Slot::kPage:
      return find(kPage);
    case Slot::kAnnotation:
      return find(kAnnotation);
    case Slot::kFailure:
      return find(kFailure);
    default:
      return 0;
  }
}

// Builds the model from the parser's events, keeping carried members as
// text, and stops at the first problem.
class Reader : public nlohmann::json_sax<Json> {
 public:
  Reader(Document& out, std::string& error) : out_(out), error_(error) {
    frames_.reserve(kMaxNestingDepth);
    names_.resize(kMaxNestingDepth);
  }

  bool null() override {
    return Scalar(Kind::kNull, [](std::string& text) { text += "null"; });
  }
  bool boolean(bool value) override {
    return Scalar(
        Kind::kBool, [value](std::string& text) { text += value ? "true" : "false"; }, value);
  }
  bool number_integer(number_integer_t value) override {
    // Only a leading minus makes an integer signed, so a signed zero was "-0".
    return Scalar(
        Kind::kInteger,
        [value](std::string& text) {
          if (value == 0) {
            text += "-0";
          } else {
            AppendNumber(text, value);
          }
        },
        false, value);
  }
  bool number_unsigned(number_unsigned_t value) override {
    const bool fits = value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return Scalar(
        fits ? Kind::kInteger : Kind::kOther,
        [value](std::string& text) {
          char digits[24];
          const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
          text.append(digits, static_cast<std::size_t>(end - digits));
        },
        false, fits ? static_cast<std::int64_t>(value) : 0);
  }
  bool number_float(number_float_t /*value*/, const string_t& spelling) override {
    // Kept as spelled, so that no carried number changes: beyond 64 bits,
    // with a fraction or an exponent. The parser puts the locale's decimal
    // point into its token; the file has a full stop.
    return Scalar(Kind::kOther, [&spelling](std::string& text) {
      for (const char c : spelling) {
        const bool numeral = (c >= '0' && c <= '9') || c == '-' || c == '+' || c == 'e' || c == 'E';
        text.push_back(numeral ? c : '.');
      }
    });
  }
  bool string(string_t& value) override {
    return Scalar(
        Kind::kString, [&value](std::string& text) { AppendQuoted(text, value); }, false, 0,
        &value);
  }
  bool binary(binary_t& /*value*/) override { return Fail("document", "holds binary data"); }

  bool start_object(std::size_t /*size*/) override { return Open(true); }
  bool start_array(std::size_t /*size*/) override { return Open(false); }

  bool key(string_t& name) override {
    Frame& frame = frames_.back();
    if (!names_[frames_.size() - 1].Insert(name)) {
      return Fail(Where(frames_.size() - 1), "has the member \"" + name + "\" twice");
    }
    if (++frame.count > kMaxObjectMembers) return TooManyMembers();
    if (Capturing()) {
      if (frame.count > 1) capture_->push_back(',');
      AppendQuoted(*capture_, name);
      capture_->push_back(':');
    }
    frame.key = std::move(name);
    frame.seen |= MemberBit(frame.slot, frame.key);
    return true;
  }

  bool end_object() override {
    const Frame& frame = frames_.back();
    if (!CheckComplete(frame)) return false;
    return Close('}');
  }
  bool end_array() override { return Close(']'); }

  bool parse_error(std::size_t position, const std::string& /*token*/,
                   const nlohmann::detail::exception& /*problem*/) override {
    error_ = "not valid JSON (or not UTF-8) at byte " + std::to_string(position);
    return false;
  }

  bool SawPages() const { return sawPages_; }

 private:
  enum class Kind { kNull, kBool, kInteger, kString, kOther };

  bool Fail(const std::string& where, const std::string& what) {
    error_ = where.empty() ? what : where + " " + what;
    return false;
  }

  bool TooManyMembers() {
    return Fail("",
                "has an object with more than " + std::to_string(kMaxObjectMembers) + " members");
  }

  // The path of the value in the innermost `depth` frames: "pages[0].width".
  std::string Where(std::size_t depth) const {
    if (depth == 0) return "document";
    std::string where;
    for (std::size_t i = 0; i < depth; ++i) {
      const Frame& frame = frames_[i];
      if (!frame.object) {
        where += "[" + std::to_string(frame.count - 1) + "]";
      } else if (frame.slot == Slot::kDocument) {
        where += frame.key;
      } else if (frame.slot == Slot::kAttributes) {
        where += "[\"" + frame.key + "\"]";
      } else {
        where += "." + frame.key;
      }
    }
    return where;
  }
  std::string Where() const { return Where(frames_.size()); }

  bool Capturing() const { return capture_ != nullptr && frames_.size() > captureDepth_; }

  // The slot of the next value; counts it as an element of an array.
  Slot NextSlot() {
    if (frames_.empty()) return Slot::kDocument;
    Frame& frame = frames_.back();
    if (!frame.object) ++frame.count;
    const std::string& name = frame.key;
    switch (frame.slot) {
      case Slot::kDocument:
        if (name == "pages") return Slot::kPages;
        return name == "host" ? Slot::kHost : Slot::kCarried;
      case Slot::kPages:
        return Slot::kPage;
      case Slot::kPage:
        if (name == "width" || name == "height") return Slot::kInt32;
        return name == "annotations" ? Slot::kAnnotations : Slot::kCarried;
      case Slot::kAnnotations:
        return Slot::kAnnotation;
      case Slot::kAnnotation:
        if (MemberBit(Slot::kAnnotation, name) & 31u) return Slot::kInt32;
        return name == "attributes" ? Slot::kAttributes : Slot::kCarried;
      case Slot::kAttributes:
        return Slot::kInt32;
      case Slot::kHost:
        if (name == "minAnnotationSize" || name == "pageCountSkew" ||
            name == "annotationCountSkew") {
          return Slot::kInt32;
        }
        if (name == "refuseOffPage" || name == "countOnFailure") return Slot::kBool;
        return name == "failures" ? Slot::kFailures : Slot::kIgnored;
      case Slot::kFailures:
        return Slot::kFailure;
      case Slot::kFailure:
        if (name == "ordinal" || name == "call") return Slot::kInt32;
        return name == "result" ? Slot::kResult : Slot::kIgnored;
      default:
        return Slot::kIgnored;
    }
  }

  // Where a carried member of the innermost managed object goes.
  std::string& CarriedText() {
    switch (frames_.back().slot) {
      case Slot::kPage:
        return out_.pages.back().extra;
      case Slot::kAnnotation:
        return out_.pages.back().annotations.back().extra;
      default:
        return out_.extra;
    }
  }

  // Starts copying the value of a carried member (or of "host") as text.
  void BeginValueText(Slot slot) {
    if (Capturing()) {
      if (!frames_.back().object && frames_.back().count > 1) capture_->push_back(',');
      return;
    }
    if (slot != Slot::kCarried && slot != Slot::kHost) return;
    capture_ = &CarriedText();
    captureDepth_ = frames_.size();
    if (!capture_->empty()) capture_->push_back(',');
    AppendQuoted(*capture_, frames_.back().key);
    capture_->push_back(':');
  }

  void EndValueText() {
    if (capture_ != nullptr && frames_.size() == captureDepth_) capture_ = nullptr;
  }

  template <typename Spell>
  bool Scalar(Kind kind, Spell&& spell, bool flag = false, std::int64_t number = 0,
              const std::string* text = nullptr) {
    const Slot slot = NextSlot();
    if (!Store(slot, kind, flag, number, text)) return false;
    BeginValueText(slot);
    if (capture_ != nullptr) spell(*capture_);
    EndValueText();
    return true;
  }

  bool Store(Slot slot, Kind kind, bool flag, std::int64_t number, const std::string* text) {
    switch (slot) {
      case Slot::kDocument:
        return Fail("document", "is not an object");
      case Slot::kPages:
      case Slot::kAnnotations:
      case Slot::kFailures:
        return Fail(Where(), "is not an array");
      case Slot::kPage:
      case Slot::kAnnotation:
      case Slot::kAttributes:
      case Slot::kHost:
      case Slot::kFailure:
        return Fail(Where(), "is not an object");
      case Slot::kInt32:
        if (kind != Kind::kInteger || number < std::numeric_limits<std::int32_t>::min() ||
            number > std::numeric_limits<std::int32_t>::max()) {
          return Fail(Where(), "is not a signed 32-bit integer");
        }
        return StoreInt32(static_cast<std::int32_t>(number));
      case Slot::kBool:
        if (kind != Kind::kBool) return Fail(Where(), "is not true or false");
        (frames_.back().key == "refuseOffPage" ? out_.host.refuseOffPage
                                               : out_.host.countOnFailure) = flag;
        return true;
      case Slot::kResult:
        return StoreResult(kind, number, text);
      case Slot::kCarried:
      case Slot::kIgnored:
        return true;
    }
    return true;
  }

  bool StoreInt32(std::int32_t value) {
    const Frame& frame = frames_.back();
    const std::string& name = frame.key;
    switch (frame.slot) {
      case Slot::kPage: {
        Page& page = out_.pages.back();
        (name == "width" ? page.width : page.height) = value;
        return true;
      }
      case Slot::kAnnotation: {
        Annotation& annotation = out_.pages.back().annotations.back();
        std::int32_t* const fields[] = {&annotation.type, &annotation.x, &annotation.y,
                                        &annotation.width, &annotation.height};
        for (unsigned i = 0; i < 5; ++i) {
          if (MemberBit(Slot::kAnnotation, name) == 1u << i) *fields[i] = value;
        }
        return true;
      }
      case Slot::kAttributes:
        // Names are unique in the object, so no look-up is needed.
        out_.pages.back().annotations.back().attributes.emplace_back(name, value);
        return true;
      case Slot::kHost:
        if (name == "minAnnotationSize") {
          out_.host.minAnnotationSize = value;
        } else {
          (name == "pageCountSkew" ? out_.host.pageCountSkew : out_.host.annotationCountSkew) =
              value;
        }
        return true;
      case Slot::kFailure: {
        FailureRule& rule = out_.host.failures.back();
        if (name == "call") {
          if (value < 1) return Fail(Where(), "is not 1 or more");
          rule.call = value;
          return true;
        }
        if (std::find(std::begin(kKnownOrdinals), std::end(kKnownOrdinals), value) ==
            std::end(kKnownOrdinals)) {
          return Fail(Where(), "is not an ordinal of the host API");
        }
        rule.ordinal = value;
        return true;
      }
      default:
        return true;
    }
  }

  bool StoreResult(Kind kind, std::int64_t number, const std::string* text) {
    FailureRule& rule = out_.host.failures.back();
    if (kind == Kind::kString) {
      if (!ParseHexResult(*text, rule.result)) {
        return Fail(Where(), "is not a string \"0x8XXXXXXX\"");
      }
      return true;
    }
    if (kind != Kind::kInteger || number >= 0 ||
        number < std::numeric_limits<std::int32_t>::min()) {
      return Fail(Where(), "is not a negative 32-bit integer");
    }
    rule.result = static_cast<std::int32_t>(number);
    return true;
  }

  bool Open(bool object) {
    const Slot slot = NextSlot();
    switch (slot) {
      case Slot::kDocument:
      case Slot::kPage:
      case Slot::kAnnotation:
      case Slot::kAttributes:
      case Slot::kHost:
      case Slot::kFailure:
        if (!object) return Fail(Where(frames_.size()), "is not an object");
        break;
      case Slot::kPages:
      case Slot::kAnnotations:
      case Slot::kFailures:
        if (object) return Fail(Where(frames_.size()), "is not an array");
        break;
      case Slot::kInt32:
        return Fail(Where(), "is not a signed 32-bit integer");
      case Slot::kBool:
        return Fail(Where(), "is not true or false");
      case Slot::kResult:
        return Fail(Where(), "is not a negative 32-bit integer");
      case Slot::kCarried:
      case Slot::kIgnored:
        break;
    }
    if (frames_.size() >= static_cast<std::size_t>(kMaxNestingDepth)) {
      return Fail("", "has arrays and objects nested more than " +
                          std::to_string(kMaxNestingDepth) + " deep");
    }
    BeginValueText(slot);
    if (capture_ != nullptr) capture_->push_back(object ? '{' : '[');
    if (slot == Slot::kPages) sawPages_ = true;
    if (slot == Slot::kPage) out_.pages.emplace_back();
    if (slot == Slot::kAnnotation) out_.pages.back().annotations.emplace_back();
    if (slot == Slot::kFailure) out_.host.failures.emplace_back();
    if (object) names_[frames_.size()].Clear();
    // Only the containers of managed values keep their slot; the rest is text.
    const bool managed = slot != Slot::kCarried && slot != Slot::kIgnored;
    frames_.push_back(Frame{managed ? slot : Slot::kIgnored, object, 0, std::string(), 0});
    return true;
  }

  bool Close(char bracket) {
    if (Capturing()) capture_->push_back(bracket);
    frames_.pop_back();
    EndValueText();
    return true;
  }

  // The required members of a page, an annotation or a failure, and room for
  // the members that the writer adds.
  bool CheckComplete(const Frame& frame) {
    const auto require = [&](unsigned bit, const char* name) {
      if ((frame.seen & bit) != 0) return true;
      return Fail(Where(frames_.size() - 1), std::string("has no \"") + name + "\"");
    };
    switch (frame.slot) {
      case Slot::kDocument:
        return sawPages_ || Fail("document", "has no \"pages\"");
      case Slot::kPage:
        if (!require(1, "width") || !require(2, "height")) return false;
        return (frame.seen & 4) != 0 || frame.count < kMaxObjectMembers || TooManyMembers();
      case Slot::kAnnotation:
        if (!require(1, "type") || !require(2, "x") || !require(4, "y") || !require(8, "width") ||
            !require(16, "height")) {
          return false;
        }
        return (frame.seen & 32) != 0 || frame.count < kMaxObjectMembers || TooManyMembers();
      case Slot::kFailure:
        return require(1, "ordinal") && require(2, "call") && require(4, "result");
      default:
        return true;
    }
  }

  Document& out_;
  std::string& error_;
  std::vector<Frame> frames_;
  std::vector<MemberNames> names_;  // per depth
  std::string* capture_ = nullptr;  // where carried text goes, while copying
  std::size_t captureDepth_ = 0;    // frames open when the copied value began
  bool sawPages_ = false;
};

// Collects the text and hands it on in pieces of about kPiece bytes.
class Writer {
 public:
  Writer(const TextSink& sink, std::string& error, bool limited)
      : sink_(sink), error_(error), limited_(limited) {}

  std::string& Text() { return buffer_; }

  bool Flush(bool always) {
    if (!always && buffer_.size() < kPiece) return true;
    written_ += buffer_.size();
    if (limited_ && written_ > kMaxDocumentSize) {
      error_ = "the document would be " + TooLargeText() + ", more than the stand-in reads back";
      return false;
    }
    if (!sink_(buffer_)) {
      if (error_.empty()) error_ = "cannot write the document";
      return false;
    }
    buffer_.clear();
    return true;
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 16;
  const TextSink& sink_;
  std::string& error_;
  bool limited_;
  std::string buffer_;
  std::size_t written_ = 0;
};

void AppendMember(std::string& out, const char* name, std::int32_t value) {
  out.push_back('"');
  out += name;
  out += "\":";
  AppendNumber(out, value);
}

void AppendExtra(std::string& out, const std::string& extra) {
  if (extra.empty()) return;
  out.push_back(',');
  out += extra;
}

void AppendAnnotation(std::string& out, const Annotation& annotation) {
  out.push_back('{');
  AppendMember(out, "type", annotation.type);
  out.push_back(',');
  AppendMember(out, "x", annotation.x);
  out.push_back(',');
  AppendMember(out, "y", annotation.y);
  out.push_back(',');
  AppendMember(out, "width", annotation.width);
  out.push_back(',');
  AppendMember(out, "height", annotation.height);
  out += ",\"attributes\":{";
  bool first = true;
  for (const auto& [name, value] : annotation.attributes) {
    if (!first) out.push_back(',');
    first = false;
    AppendQuoted(out, name);
    out.push_back(':');
    AppendNumber(out, value);
  }
  out.push_back('}');
  AppendExtra(out, annotation.extra);
  out.push_back('}');
}

bool Write(const Document& document, const TextSink& sink, std::string& error, bool limited) {
  Writer writer(sink, error, limited);
  std::string& out = writer.Text();
  out += "{\"pages\":[";
  for (std::size_t p = 0; p < document.pages.size(); ++p) {
    const Page& page = document.pages[p];
    if (p > 0) out.push_back(',');
    out.push_back('{');
    AppendMember(out, "width", page.width);
    out.push_back(',');
    AppendMember(out, "height", page.height);
    out += ",\"annotations\":[";
    for (std::size_t i = 0; i < page.annotations.size(); ++i) {
      if (i > 0) out.push_back(',');
      AppendAnnotation(out, page.annotations[i]);
      if (!writer.Flush(false)) return false;
    }
    out.push_back(']');
    AppendExtra(out, page.extra);
    out.push_back('}');
    if (!writer.Flush(false)) return false;
  }
  out.push_back(']');
  AppendExtra(out, document.extra);
  out += "}\n";
  return writer.Flush(true);
}

}  // namespace

bool ParseDocument(std::string_view text, Document& out, std::string& error) {
  out = Document{};
  if (text.size() > kMaxDocumentSize) {
    error = TooLargeText();
    return false;
  }
  // JSON has no place for a raw NUL byte, and the parser would take one for
  // the end of the text.
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    error = "holds a NUL byte at byte " + std::to_string(nul);
    return false;
  }
  error.clear();
  Reader reader(out, error);
  if (!Json::sax_parse(text.begin(), text.end(), &reader, Json::input_format_t::json,
                       /*strict=*/true, /*ignore_comments=*/false)) {
    if (error.empty()) error = "not valid JSON (or not UTF-8)";
    return false;
  }
  return true;
}

bool WriteDocument(const Document& document, const TextSink& sink, std::string& error) {
  error.clear();
  return Write(document, sink, error, true);
}

std::string SerializeDocument(const Document& document) {
  std::string text;
  std::string error;
  Write(
      document,
      [&text](std::string_view piece) {
        text += piece;
        return true;
      },
      error, false);
  return text;
}

}  // namespace hostsim
