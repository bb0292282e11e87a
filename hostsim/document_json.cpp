#include "hostsim/document_json.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "hostapi/host_api.h"

namespace hostsim {
namespace {

class Reader;
class Writer;

// ---- How a member's value is read and written ------------------------------

// The structure that a field belongs to, from a pointer to the field.
template <auto Field>
struct FieldOf;
template <typename Object_, typename Type, Type Object_::*Field>
struct FieldOf<Field> {
  using Object = Object_;
};
template <auto Field>
using ObjectOf = typename FieldOf<Field>::Object;

// How a member is written back.
enum class Written : std::uint8_t {
  kFromModel,  // by `write`, from its field
  kAsRead,     // kept as read among the object's carried members, and written from there
  kNever,      // only in objects that the writer never writes (those of "host")
};

// What a member's value is and where it goes: `read` takes the value from the
// text into its field (false, with the error said, when the value is not what
// the member takes); `write` gives it back as compact JSON.
template <typename Object>
struct Value {
  bool (*read)(Reader& reader, Object& object);
  bool (*write)(Writer& writer, const Object& object);
  Written written;
};

// The kinds of value, each for a field given by its pointer (defined below).
template <auto Field>
bool ReadInt32(Reader& reader, ObjectOf<Field>& object);
template <auto Field>
bool ReadCallNumber(Reader& reader, ObjectOf<Field>& object);
template <auto Field>
bool ReadOrdinal(Reader& reader, ObjectOf<Field>& object);
template <auto Field>
bool ReadResult(Reader& reader, ObjectOf<Field>& object);
template <auto Field>
bool ReadFlag(Reader& reader, ObjectOf<Field>& object);
template <auto Field>
bool ReadAttributes(Reader& reader, ObjectOf<Field>& object);
template <auto Field>
bool ReadObjects(Reader& reader, ObjectOf<Field>& object);
template <auto Field>
bool ReadObject(Reader& reader, ObjectOf<Field>& object);
template <auto Field>
bool WriteInt32(Writer& writer, const ObjectOf<Field>& object);
template <auto Field>
bool WriteAttributes(Writer& writer, const ObjectOf<Field>& object);
template <auto Field>
bool WriteObjects(Writer& writer, const ObjectOf<Field>& object);

// A signed 32-bit integer.
template <auto Field>
constexpr Value<ObjectOf<Field>> Int32() {
  return {&ReadInt32<Field>, &WriteInt32<Field>, Written::kFromModel};
}
// A signed 32-bit integer of 1 or more, never written.
template <auto Field>
constexpr Value<ObjectOf<Field>> CallNumber() {
  return {&ReadCallNumber<Field>, nullptr, Written::kNever};
}
// An ordinal of the host API, never written.
template <auto Field>
constexpr Value<ObjectOf<Field>> Ordinal() {
  return {&ReadOrdinal<Field>, nullptr, Written::kNever};
}
// A failing result: a negative 32-bit integer or "0x8XXXXXXX", never written.
template <auto Field>
constexpr Value<ObjectOf<Field>> Result() {
  return {&ReadResult<Field>, nullptr, Written::kNever};
}
// true or false, never written.
template <auto Field>
constexpr Value<ObjectOf<Field>> Flag() {
  return {&ReadFlag<Field>, nullptr, Written::kNever};
}
// An object of signed 32-bit integers, names and order as in the file.
template <auto Field>
constexpr Value<ObjectOf<Field>> Attributes() {
  return {&ReadAttributes<Field>, &WriteAttributes<Field>, Written::kFromModel};
}
// An array of objects, each of its own schema.
template <auto Field>
constexpr Value<ObjectOf<Field>> Objects() {
  return {&ReadObjects<Field>, &WriteObjects<Field>, Written::kFromModel};
}
// An object of its own schema that the stand-in reads but never changes, so
// that it is written back as it was read.
template <auto Field>
constexpr Value<ObjectOf<Field>> ObjectKeptAsText() {
  return {&ReadObject<Field>, nullptr, Written::kAsRead};
}

enum class Presence : bool { kOptional, kRequired };

template <typename Object>
struct Member {
  std::string_view name;
  Presence presence = Presence::kOptional;
  Value<Object> value;
};

// ---- The schema: every member the stand-in reads, in the order it writes ----
//
// The reader routes each member by this table alone, and the writer writes
// from it. An object's members not listed are carried along: kept as compact
// text in its `kCarried` field and written after the listed ones. An object
// without such a field is never written itself (its container keeps it as
// text), and the members it does not list are only checked. kNotInFile counts
// the fields of the model that are not part of the file. Each schema is
// checked against its structure below, so that a field added to the model
// without its member here stops the build rather than being carried as text.

constexpr Presence kRequired = Presence::kRequired;
constexpr Presence kOptional = Presence::kOptional;

template <typename Object>
struct SchemaOf;

template <>
struct SchemaOf<Document> {
  static constexpr Member<Document> kMembers[] = {
      {"pages", kRequired, Objects<&Document::pages>()},
      {"host", kOptional, ObjectKeptAsText<&Document::host>()},
  };
  static constexpr std::string Document::*kCarried = &Document::extra;
  static constexpr std::size_t kNotInFile = 0;
};

template <>
struct SchemaOf<Page> {
  static constexpr Member<Page> kMembers[] = {
      {"width", kRequired, Int32<&Page::width>()},
      {"height", kRequired, Int32<&Page::height>()},
      {"annotations", kOptional, Objects<&Page::annotations>()},
  };
  static constexpr std::string Page::*kCarried = &Page::extra;
  static constexpr std::size_t kNotInFile = 0;
};

template <>
struct SchemaOf<Annotation> {
  static constexpr Member<Annotation> kMembers[] = {
      {"type", kRequired, Int32<&Annotation::type>()},
      {"x", kRequired, Int32<&Annotation::x>()},
      {"y", kRequired, Int32<&Annotation::y>()},
      {"width", kRequired, Int32<&Annotation::width>()},
      {"height", kRequired, Int32<&Annotation::height>()},
      {"attributes", kOptional, Attributes<&Annotation::attributes>()},
  };
  static constexpr std::string Annotation::*kCarried = &Annotation::extra;
  static constexpr std::size_t kNotInFile = 2;  // handle, sourceIndex
};

template <>
struct SchemaOf<HostSettings> {
  static constexpr Member<HostSettings> kMembers[] = {
      {"minAnnotationSize", kOptional, Int32<&HostSettings::minAnnotationSize>()},
      {"refuseOffPage", kOptional, Flag<&HostSettings::refuseOffPage>()},
      {"failures", kOptional, Objects<&HostSettings::failures>()},
      {"pageCountSkew", kOptional, Int32<&HostSettings::pageCountSkew>()},
      {"annotationCountSkew", kOptional, Int32<&HostSettings::annotationCountSkew>()},
      {"countOnFailure", kOptional, Flag<&HostSettings::countOnFailure>()},
  };
  static constexpr std::nullptr_t kCarried = nullptr;
  static constexpr std::size_t kNotInFile = 0;
};

template <>
struct SchemaOf<FailureRule> {
  static constexpr Member<FailureRule> kMembers[] = {
      {"ordinal", kRequired, Ordinal<&FailureRule::ordinal>()},
      {"call", kRequired, CallNumber<&FailureRule::call>()},
      {"result", kRequired, Result<&FailureRule::result>()},
  };
  static constexpr std::nullptr_t kCarried = nullptr;
  static constexpr std::size_t kNotInFile = 0;
};

// ---- The checks of the schema against the model ----------------------------

// Converts to any field's type, to count the fields of an aggregate.
struct AnyField {
  template <typename Type>
  operator Type() const;  // NOLINT(google-explicit-constructor): never called
};

template <typename Object, std::size_t... Index>
constexpr auto TakesInitializers(std::index_sequence<Index...> /*unused*/)
    -> decltype(Object{(static_cast<void>(Index), AnyField{})...}, true) {
  return true;
}
template <typename Object>
constexpr bool TakesInitializers(...) {
  return false;
}

// The number of fields of a plain structure: the most initializers it takes
// (counted down, so that no initialization leaves a field out). Up to 32.
template <typename Object, std::size_t Count = 32>
constexpr std::size_t FieldCount() {
  if constexpr (Count == 0 || TakesInitializers<Object>(std::make_index_sequence<Count>())) {
    return Count;
  } else {
    return FieldCount<Object, Count - 1>();
  }
}

template <typename Object>
constexpr bool IsWritten() {
  return !std::is_null_pointer_v<decltype(SchemaOf<Object>::kCarried)>;
}

template <typename Object>
constexpr bool SchemaIsSound() {
  using Schema = SchemaOf<Object>;
  constexpr std::size_t kCount = std::size(Schema::kMembers);
  // Every field of the model has its member (or is the carried text or not
  // part of the file); members are told apart by one bit each.
  if (FieldCount<Object>() != kCount + (IsWritten<Object>() ? 1 : 0) + Schema::kNotInFile) {
    return false;
  }
  if (kCount > 32) return false;
  for (std::size_t i = 0; i < kCount; ++i) {
    // A written object writes every member, from the model or as read.
    if (IsWritten<Object>() && Schema::kMembers[i].value.written == Written::kNever) return false;
    for (std::size_t j = i + 1; j < kCount; ++j) {
      if (Schema::kMembers[i].name == Schema::kMembers[j].name) return false;
    }
  }
  return true;
}

static_assert(SchemaIsSound<Document>(), "SchemaOf<Document> does not match Document");
static_assert(SchemaIsSound<Page>(), "SchemaOf<Page> does not match Page");
static_assert(SchemaIsSound<Annotation>(), "SchemaOf<Annotation> does not match Annotation");
static_assert(SchemaIsSound<HostSettings>(), "SchemaOf<HostSettings> does not match HostSettings");
static_assert(SchemaIsSound<FailureRule>(), "SchemaOf<FailureRule> does not match FailureRule");

// ---- Text -------------------------------------------------------------------

std::string TooLargeText() { return "larger than " + std::to_string(kMaxDocumentSize) + " bytes"; }

void AppendNumber(std::string& out, std::int32_t value) {
  char digits[16];
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

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Checks the UTF-8 sequence of a character beyond ASCII at `p` (`left` bytes
// remain): true with its length, or false with the offset of the first byte
// that does not fit a well-formed sequence (no overlong forms, no
// surrogates, nothing beyond U+10FFFF).
bool Utf8Sequence(const unsigned char* p, std::size_t left, std::size_t& length) {
  const unsigned char lead = p[0];
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    length = 0;
    return false;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= left || p[i] < (i == 1 ? low : 0x80) || p[i] > (i == 1 ? high : 0xBF)) {
      length = i;
      return false;
    }
  }
  return true;
}

// ---- Reading ------------------------------------------------------------------

// Member names of one object, for finding a name given twice: a short list
// while the object is small, a hash set beyond. Only names that the schema
// does not list go here; listed ones are told apart by a bit each.
class MemberNames {
 public:
  void Clear() {
    small_.clear();
    if (!large_.empty()) large_ = {};
  }
  // False when `name` was already there.
  bool Insert(const std::string& name) {
    if (large_.empty()) {
      for (const std::string& known : small_) {
        if (known == name) return false;
      }
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

// Reads a document from its text in one pass, straight into the model: the
// schema's members into their fields, every other member (checked as JSON)
// into the carried text of its object. Stops at the first problem, saying
// where it is.
class Reader {
 public:
  Reader(std::string_view text, std::string& error)
      : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()), error_(error) {
    levels_.resize(static_cast<std::size_t>(kMaxNestingDepth));
    names_.resize(static_cast<std::size_t>(kMaxNestingDepth));
  }

  bool ReadDocument(Document& document) {
    // A UTF-8 byte order mark may come first.
    if (end_ - p_ >= 3 && std::string_view(p_, 3) == "\xEF\xBB\xBF") p_ += 3;
    SkipSpace();
    if (!ReadObject(document)) return false;
    SkipSpace();
    return p_ == end_ || Syntax();
  }

  // An object of the schema of `Object`.
  template <typename Object>
  bool ReadObject(Object& object) {
    using Schema = SchemaOf<Object>;
    constexpr std::size_t kCount = std::size(Schema::kMembers);
    if (Peek() != '{') return IsNot("an object");
    if (!Enter(false, false)) return false;
    Level& level = levels_[depth_ - 1];
    std::uint32_t seen = 0;
    std::size_t members = 0;
    bool more = Open('}');
    while (more) {
      if (!Key(level, members)) return false;
      std::size_t index = 0;
      while (index < kCount && Schema::kMembers[index].name != level.key) ++index;
      if (index < kCount) {
        if ((seen & (1u << index)) != 0) return Twice(level.key);
        seen |= 1u << index;
        const Value<Object>& value = Schema::kMembers[index].value;
        const char* const start = p_;
        if (!value.read(*this, object)) return false;
        if constexpr (IsWritten<Object>()) {
          if (value.written == Written::kAsRead) {
            p_ = start;
            if (!CarryMember(object.*Schema::kCarried, level.key)) return false;
          }
        }
      } else {
        if (!names_[depth_ - 1].Insert(level.key)) return Twice(level.key);
        if constexpr (IsWritten<Object>()) {
          if (!CarryMember(object.*Schema::kCarried, level.key)) return false;
        } else if (!CopyValue(nullptr)) {
          return false;
        }
      }
      if (!Next('}', more)) return false;
    }
    // Required members, and room for the members the writer adds.
    std::size_t added = 0;
    for (std::size_t index = 0; index < kCount; ++index) {
      if ((seen & (1u << index)) != 0) continue;
      const Member<Object>& member = Schema::kMembers[index];
      if (member.presence == kRequired) {
        return Fail(Where(depth_ - 1), "has no \"" + std::string(member.name) + "\"");
      }
      if (IsWritten<Object>() && member.value.written == Written::kFromModel) ++added;
    }
    if (members + added > kMaxObjectMembers) return TooManyMembers();
    --depth_;
    return true;
  }

  // An array of objects of the schema of `Element`.
  template <typename Element>
  bool ReadObjects(std::vector<Element>& list) {
    if (Peek() != '[') return IsNot("an array");
    if (!Enter(true, false)) return false;
    Level& level = levels_[depth_ - 1];
    bool more = Open(']');
    while (more) {
      level.index = list.size();
      list.emplace_back();
      if (!ReadObject(list.back())) return false;
      if (!Next(']', more)) return false;
    }
    --depth_;
    return true;
  }

  bool ReadAttributes(std::vector<std::pair<std::string, std::int32_t>>& attributes) {
    if (Peek() != '{') return IsNot("an object");
    if (!Enter(false, true)) return false;
    Level& level = levels_[depth_ - 1];
    std::size_t members = 0;
    bool more = Open('}');
    while (more) {
      if (!Key(level, members)) return false;
      if (!names_[depth_ - 1].Insert(level.key)) return Twice(level.key);
      std::int32_t value = 0;
      if (!ReadInt32(value)) return false;
      attributes.emplace_back(level.key, value);
      if (!Next('}', more)) return false;
    }
    --depth_;
    return true;
  }

  bool ReadInt32(std::int32_t& out) {
    const char* const start = p_;
    bool integer = false;
    if (!IsNumberStart(Peek())) return IsNot("a signed 32-bit integer");
    if (!ScanNumber(integer)) return false;
    const auto [end, problem] = std::from_chars(start, p_, out);
    if (!integer || problem != std::errc() || end != p_) {
      return Fail(Where(depth_), "is not a signed 32-bit integer");
    }
    return true;
  }

  bool ReadCallNumber(std::int32_t& out) {
    if (!ReadInt32(out)) return false;
    return out >= 1 || Fail(Where(depth_), "is not 1 or more");
  }

  bool ReadOrdinal(int& out) {
    std::int32_t value = 0;
    if (!ReadInt32(value)) return false;
    for (const HostOrdinal ordinal : kHostOrdinals) {
      if (value == ordinal) {
        out = value;
        return true;
      }
    }
    return Fail(Where(depth_), "is not an ordinal of the host API");
  }

  bool ReadResult(std::int32_t& out) {
    if (Peek() == '"') {
      if (!ReadString(text_)) return false;
      return ParseHexResult(text_, out) || Fail(Where(depth_), "is not a string \"0x8XXXXXXX\"");
    }
    const char* const start = p_;
    bool integer = false;
    if (!IsNumberStart(Peek())) return IsNot("a negative 32-bit integer");
    if (!ScanNumber(integer)) return false;
    std::int32_t value = 0;
    const auto [end, problem] = std::from_chars(start, p_, value);
    if (!integer || problem != std::errc() || end != p_ || value >= 0) {
      return Fail(Where(depth_), "is not a negative 32-bit integer");
    }
    out = value;
    return true;
  }

  bool ReadFlag(bool& out) {
    if (Peek() == 't') {
      out = true;
      return Literal("true");
    }
    if (Peek() == 'f') {
      out = false;
      return Literal("false");
    }
    return IsNot("true or false");
  }

 private:
  // One open array or object, for the path of a value in messages.
  struct Level {
    bool array = false;
    bool quotedKeys = false;  // an attributes object: its members go in brackets
    std::size_t index = 0;    // an array's current element
    std::string key;          // an object's current member
  };

  char Peek() const { return p_ < end_ ? *p_ : '\0'; }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsNumberStart(char c) { return c == '-' || IsDigit(c); }
  static bool StartsValue(char c) {
    return c == '{' || c == '[' || c == '"' || c == 't' || c == 'f' || c == 'n' || IsNumberStart(c);
  }

  void SkipSpace() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  bool Fail(const std::string& where, const std::string& what) {
    error_ = where.empty() ? what : where + " " + what;
    return false;
  }

  bool SyntaxAt(const char* at) {
    if (at >= end_) {
      error_ = "not valid JSON: the text ends before the document does";
    } else {
      error_ = "not valid JSON at byte " + std::to_string(at - begin_ + 1);
    }
    return false;
  }
  bool Syntax() { return SyntaxAt(p_); }

  // The value here is valid JSON of the wrong kind, or no valid JSON at all.
  bool IsNot(const char* what) {
    if (!StartsValue(Peek())) return Syntax();
    return Fail(Where(depth_), std::string("is not ") + what);
  }

  bool TooManyMembers() {
    return Fail("",
                "has an object with more than " + std::to_string(kMaxObjectMembers) + " members");
  }

  bool Twice(const std::string& name) {
    return Fail(Where(depth_ - 1), "has the member \"" + name + "\" twice");
  }

  // The path of the value in the outermost `depth` levels: "pages[0].width".
  std::string Where(std::size_t depth) const {
    if (depth == 0) return "document";
    std::string where;
    for (std::size_t i = 0; i < depth; ++i) {
      const Level& level = levels_[i];
      if (level.array) {
        where += "[" + std::to_string(level.index) + "]";
      } else if (i == 0) {
        where += level.key;
      } else if (level.quotedKeys) {
        where += "[\"" + level.key + "\"]";
      } else {
        where += "." + level.key;
      }
    }
    return where;
  }

  bool Enter(bool array, bool quotedKeys) {
    if (depth_ >= static_cast<std::size_t>(kMaxNestingDepth)) {
      return Fail("", "has arrays and objects nested more than " +
                          std::to_string(kMaxNestingDepth) + " deep");
    }
    Level& level = levels_[depth_];
    level.array = array;
    level.quotedKeys = quotedKeys;
    level.index = 0;
    if (!array) names_[depth_].Clear();
    ++depth_;
    return true;
  }

  // Moves past the opening bracket; tells whether an element or member follows.
  bool Open(char close) {
    ++p_;
    SkipSpace();
    if (Peek() != close) return true;
    ++p_;
    return false;
  }

  // After an element or member: a comma and another, or the closing bracket.
  bool Next(char close, bool& more) {
    SkipSpace();
    if (Peek() == ',') {
      ++p_;
      SkipSpace();
      more = true;
      return true;
    }
    if (Peek() != close) return Syntax();
    ++p_;
    more = false;
    return true;
  }

  // A member's name and colon, into level.key; counts the member.
  bool Key(Level& level, std::size_t& members) {
    if (Peek() != '"') return Syntax();
    if (!ReadString(level.key)) return false;
    if (++members > kMaxObjectMembers) return TooManyMembers();
    SkipSpace();
    if (Peek() != ':') return Syntax();
    ++p_;
    SkipSpace();
    return true;
  }

  bool Literal(std::string_view word) {
    for (const char c : word) {
      if (Peek() != c) return Syntax();
      ++p_;
    }
    return true;
  }

  // Moves past a number, which must keep to JSON's grammar; `integer` tells
  // whether it has neither a fraction nor an exponent.
  bool ScanNumber(bool& integer) {
    const char* p = p_;
    if (p < end_ && *p == '-') ++p;
    if (p < end_ && *p == '0') {
      ++p;
    } else if (p < end_ && *p >= '1' && *p <= '9') {
      while (p < end_ && IsDigit(*p)) ++p;
    } else {
      return SyntaxAt(p);
    }
    integer = true;
    if (p < end_ && *p == '.') {
      ++p;
      if (p >= end_ || !IsDigit(*p)) return SyntaxAt(p);
      while (p < end_ && IsDigit(*p)) ++p;
      integer = false;
    }
    if (p < end_ && (*p == 'e' || *p == 'E')) {
      ++p;
      if (p < end_ && (*p == '+' || *p == '-')) ++p;
      if (p >= end_ || !IsDigit(*p)) return SyntaxAt(p);
      while (p < end_ && IsDigit(*p)) ++p;
      integer = false;
    }
    p_ = p;
    return true;
  }

  // Four hex digits of a \u escape.
  bool HexQuad(std::uint32_t& code) {
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = HexDigit(Peek());
      if (digit < 0) return Syntax();
      code = (code << 4) | static_cast<std::uint32_t>(digit);
      ++p_;
    }
    return true;
  }

  bool Escape(std::string& out) {
    ++p_;  // the backslash
    if (p_ >= end_) return Syntax();
    const char c = *p_++;
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out.push_back(c);
        return true;
      case 'b':
        out.push_back('\b');
        return true;
      case 'f':
        out.push_back('\f');
        return true;
      case 'n':
        out.push_back('\n');
        return true;
      case 'r':
        out.push_back('\r');
        return true;
      case 't':
        out.push_back('\t');
        return true;
      case 'u':
        break;
      default:
        return SyntaxAt(p_ - 1);
    }
    std::uint32_t code = 0;
    if (!HexQuad(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return SyntaxAt(p_ - 1);
    if (code >= 0xD800 && code <= 0xDBFF) {
      // A high surrogate: its low one must follow.
      if (Peek() != '\\') return Syntax();
      ++p_;
      if (Peek() != 'u') return Syntax();
      ++p_;
      std::uint32_t low = 0;
      if (!HexQuad(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return SyntaxAt(p_ - 1);
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, code);
    return true;
  }

  // A string, decoded into `out`.
  bool ReadString(std::string& out) {
    out.clear();
    ++p_;  // the opening quote
    for (;;) {
      const char* const run = p_;
      while (p_ < end_) {
        const auto c = static_cast<unsigned char>(*p_);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++p_;
      }
      out.append(run, static_cast<std::size_t>(p_ - run));
      if (p_ >= end_) return Syntax();
      const auto c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        ++p_;
        return true;
      }
      if (c == '\\') {
        if (!Escape(out)) return false;
      } else if (c < 0x20) {
        return Syntax();
      } else {
        std::size_t length = 0;
        if (!Utf8Sequence(reinterpret_cast<const unsigned char*>(p_),
                          static_cast<std::size_t>(end_ - p_), length)) {
          const char* const bad = p_ + length;
          if (bad >= end_) return SyntaxAt(bad);
          error_ = "not valid UTF-8 at byte " + std::to_string(bad - begin_ + 1);
          return false;
        }
        out.append(p_, length);
        p_ += length;
      }
    }
  }

  // A member the stand-in carries along: its name and value, as compact text,
  // after those already in `carried`.
  bool CarryMember(std::string& carried, const std::string& name) {
    if (!carried.empty()) carried.push_back(',');
    AppendQuoted(carried, name);
    carried.push_back(':');
    return CopyValue(&carried);
  }

  // Any JSON value, checked (nesting, members, names given twice) and, where
  // `out` is not null, appended to it as compact text: strings as the writer
  // quotes them, numbers exactly as spelled.
  bool CopyValue(std::string* out) {
    const char c = Peek();
    if (c == '{' || c == '[') {
      const bool array = c == '[';
      const char close = array ? ']' : '}';
      if (!Enter(array, false)) return false;
      Level& level = levels_[depth_ - 1];
      if (out != nullptr) out->push_back(c);
      std::size_t members = 0;
      bool more = Open(close);
      while (more) {
        if (array) {
          if (out != nullptr && level.index > 0) out->push_back(',');
        } else {
          if (!Key(level, members)) return false;
          if (!names_[depth_ - 1].Insert(level.key)) return Twice(level.key);
          if (out != nullptr) {
            if (members > 1) out->push_back(',');
            AppendQuoted(*out, level.key);
            out->push_back(':');
          }
        }
        if (!CopyValue(out)) return false;
        if (array) ++level.index;
        if (!Next(close, more)) return false;
      }
      if (out != nullptr) out->push_back(close);
      --depth_;
      return true;
    }
    if (c == '"') {
      if (!ReadString(text_)) return false;
      if (out != nullptr) AppendQuoted(*out, text_);
      return true;
    }
    const char* const start = p_;
    if (c == 't' || c == 'f' || c == 'n') {
      if (!Literal(c == 't' ? "true" : c == 'f' ? "false" : "null")) return false;
    } else {
      bool integer = false;
      if (!ScanNumber(integer)) return false;
    }
    if (out != nullptr) out->append(start, static_cast<std::size_t>(p_ - start));
    return true;
  }

  const char* const begin_;
  const char* p_;
  const char* const end_;
  std::string& error_;
  std::vector<Level> levels_;       // the open arrays and objects, outermost first
  std::vector<MemberNames> names_;  // per level
  std::size_t depth_ = 0;           // levels open
  std::string text_;                // a string value being read
};

template <auto Field>
bool ReadInt32(Reader& reader, ObjectOf<Field>& object) {
  return reader.ReadInt32(object.*Field);
}
template <auto Field>
bool ReadCallNumber(Reader& reader, ObjectOf<Field>& object) {
  return reader.ReadCallNumber(object.*Field);
}
template <auto Field>
bool ReadOrdinal(Reader& reader, ObjectOf<Field>& object) {
  return reader.ReadOrdinal(object.*Field);
}
template <auto Field>
bool ReadResult(Reader& reader, ObjectOf<Field>& object) {
  return reader.ReadResult(object.*Field);
}
template <auto Field>
bool ReadFlag(Reader& reader, ObjectOf<Field>& object) {
  return reader.ReadFlag(object.*Field);
}
template <auto Field>
bool ReadAttributes(Reader& reader, ObjectOf<Field>& object) {
  return reader.ReadAttributes(object.*Field);
}
template <auto Field>
bool ReadObjects(Reader& reader, ObjectOf<Field>& object) {
  return reader.ReadObjects(object.*Field);
}
template <auto Field>
bool ReadObject(Reader& reader, ObjectOf<Field>& object) {
  return reader.ReadObject(object.*Field);
}

// ---- Writing ------------------------------------------------------------------

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

// An object of the schema of `Object`: the listed members in order, then the
// carried ones.
template <typename Object>
bool WriteObject(Writer& writer, const Object& object) {
  using Schema = SchemaOf<Object>;
  std::string& out = writer.Text();
  out.push_back('{');
  bool first = true;
  for (const Member<Object>& member : Schema::kMembers) {
    if (member.value.written != Written::kFromModel) continue;  // among the carried ones
    if (!first) out.push_back(',');
    first = false;
    out.push_back('"');
    out += member.name;
    out += "\":";
    if (!member.value.write(writer, object)) return false;
  }
  // (Objects without carried members are never written: "host" and its
  // failures go back as they were read.)
  if constexpr (IsWritten<Object>()) {
    const std::string& carried = object.*Schema::kCarried;
    if (!carried.empty()) {
      if (!first) out.push_back(',');
      out += carried;
    }
  }
  out.push_back('}');
  return true;
}

template <auto Field>
bool WriteInt32(Writer& writer, const ObjectOf<Field>& object) {
  AppendNumber(writer.Text(), object.*Field);
  return true;
}

template <auto Field>
bool WriteAttributes(Writer& writer, const ObjectOf<Field>& object) {
  std::string& out = writer.Text();
  out.push_back('{');
  bool first = true;
  for (const auto& [name, value] : object.*Field) {
    if (!first) out.push_back(',');
    first = false;
    AppendQuoted(out, name);
    out.push_back(':');
    AppendNumber(out, value);
  }
  out.push_back('}');
  return true;
}

// Hands the text on after each element, so that a large document is never
// held twice.
template <auto Field>
bool WriteObjects(Writer& writer, const ObjectOf<Field>& object) {
  writer.Text().push_back('[');
  bool first = true;
  for (const auto& element : object.*Field) {
    if (!first) writer.Text().push_back(',');
    first = false;
    if (!WriteObject(writer, element) || !writer.Flush(false)) return false;
  }
  writer.Text().push_back(']');
  return true;
}

bool Write(const Document& document, const TextSink& sink, std::string& error, bool limited) {
  Writer writer(sink, error, limited);
  if (!WriteObject(writer, document)) return false;
  writer.Text().push_back('\n');
  return writer.Flush(true);
}

}  // namespace

bool ParseDocument(std::string_view text, Document& out, std::string& error) {
  out = Document{};
  if (text.size() > kMaxDocumentSize) {
    error = TooLargeText();
    return false;
  }
  // JSON has no place for a raw NUL byte; saying so is clearer than where
  // the reader would stumble on it.
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    error = "holds a NUL byte at byte " + std::to_string(nul);
    return false;
  }
  error.clear();
  Reader reader(text, error);
  return reader.ReadDocument(out);
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
