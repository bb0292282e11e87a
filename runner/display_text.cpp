#include "runner/display_text.h"

#include <cstdint>
#include <cstdio>

#include "hostsim/cp932.h"

namespace runner {

namespace {

// The length of the UTF-8 sequence at the start of `text`, or 0 if it is not
// one (overlong forms, surrogates and values beyond U+10FFFF included).
std::size_t SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t code = 0;
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

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char escape[8];
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    const std::size_t length = SequenceLength(text);
    if (length == 0 || byte < 0x20 || byte == 0x7F) {
      AppendEscape(out, "\\x%02x", byte);
      text.remove_prefix(1);
      continue;
    }
    const auto second = length == 2 ? static_cast<unsigned char>(text[1]) : 0u;
    if (byte == 0xC2 && second <= 0x9F) {
      AppendEscape(out, "\\u%04x", second);  // a C1 control character
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
