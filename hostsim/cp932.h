// Conversions between code page 932 (the ANSI code page of a Japanese Windows)
// and UTF-8.
//
// On Linux the stand-in host treats the paths and names it receives as code
// page 932 text and turns them into UTF-8 before it touches the file system;
// the console runner goes the other way to hand paths to the masking pass and
// to print the messages the pass produces.
#pragma once

#ifndef _WIN32

#include <string>
#include <string_view>

namespace hostsim {

// Converts code page 932 text to UTF-8. Text that is not valid code page 932
// comes back unchanged.
std::string Cp932ToUtf8(std::string_view text);

// Converts UTF-8 text to code page 932. Text that is not valid UTF-8, or that
// holds characters code page 932 cannot represent, comes back unchanged.
std::string Utf8ToCp932(std::string_view text);

}  // namespace hostsim

#endif  // _WIN32
