// Conversions between code page 932 (the ANSI code page of a Japanese Windows)
// and UTF-8.
//
// The stand-in host receives paths and attribute names as code page 932 text
// and turns them into UTF-8 for its files; the console runner goes the other
// way to hand paths to the masking pass and to print its messages. Each
// platform links its own implementation (iconv, or the Windows API).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostsim {

enum class Conversion {
  kDone,
  kNotHeld,  // the text is not valid in its encoding, or has no counterpart in the other
  kFailed,   // the conversion could not be made at all (no converter, no memory);
             // errno (POSIX) or GetLastError() (Windows) says why
};

// Converts code page 932 text to UTF-8 into `out`.
Conversion Cp932ToUtf8(std::string_view text, std::string& out);
// Converts UTF-8 text to code page 932 into `out`.
Conversion Utf8ToCp932(std::string_view text, std::string& out);

// Converts code page 932 text to UTF-8; nothing if the text is not valid code
// page 932.
std::optional<std::string> Cp932ToUtf8(std::string_view text);

// Converts UTF-8 text to code page 932; nothing if the text is not valid
// UTF-8 or holds a character that code page 932 cannot represent.
std::optional<std::string> Utf8ToCp932(std::string_view text);

// Converts code page 932 text to UTF-8 for showing it: every byte that does
// not belong to a code page 932 character becomes U+FFFD, so the result is
// always valid UTF-8.
std::string Cp932ToUtf8ForDisplay(std::string_view text);

}  // namespace hostsim
