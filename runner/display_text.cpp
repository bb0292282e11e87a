#include "runner/display_text.h"

#include <cstdint>
#include <cstdio>

#include "hostsim/cp932.h"

namespace runner {

namespace {

// The length of the UTF-8 sequence at the start of `text` and its code point,
// or 0 if it is not one (overlong forms, surrogates and values beyond
// U+10FFFF included).
std::size_t DecodeSequence(std::string_view text, std::uint32_t& code) {
  const auto lead = static_cast<unsigned char>(text[0]);
  code = lead;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// The characters that reorder the text around them when it is shown
// (Unicode's Bidi_Control): a name holding one could show as another.
bool IsBidiControl(std::uint32_t code) {
  return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char escape[16];
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    std::uint32_t code = 0;
    const std::size_t length = DecodeSequence(text, code);
    if (length == 0 || byte < 0x20 || byte == 0x7F) {
      AppendEscape(out, "\\x%02x", byte);
      text.remove_prefix(1);
      continue;
    }
    if (code == '\\') {
      out += "\\\\";  // so that a name holding "\x09" never reads as a tab
    } else if ((code >= 0x80 && code <= 0x9F) || IsBidiControl(code)) {
      AppendEscape(out, "\\u%04x", code);
    } else {
      out.append(text.data(), length);
    }
    text.remove_prefix(length);
  }
  return out;
}

std::string DisplayText(std::string_view cp932) {
  return PrintableText(hostsim::Cp932ToUtf8ForDisplay(cp932));
}

}  // namespace runner
