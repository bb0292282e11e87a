// Text as the runner prints it: always valid UTF-8, one line per message.
#pragma once

#include <string>
#include <string_view>

namespace runner {

// Text meant to be UTF-8 (a path, a reason) made printable: every control
// character (C0, DEL, C1), every bidirectional control character (U+202E
// and the like, which would make a name show as another) and every byte that
// is not part of a UTF-8 character spelled as an escape (\x0a, \u0085,
// \u202e, \xff), so that it is valid UTF-8, cannot break a line or drive the
// terminal, and shows in the order it has. A backslash is doubled, so that an
// escape never reads the same as the characters it is made of.
std::string PrintableText(std::string_view text);

// Code page 932 text (a message of the pass, a path as the host got it) as
// printable UTF-8: converted, bytes that are not code page 932 shown as
// U+FFFD, control characters escaped.
std::string DisplayText(std::string_view cp932);

}  // namespace runner
