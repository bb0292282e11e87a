// Paths as the runner hands them to the masking pass.
#pragma once

#include <optional>
#include <string>

namespace runner {

// The plug-in receives paths in the ANSI code page of a Japanese Windows
// (932), and the stand-in host turns them back into file-system names. That
// round trip is not exact for every name: some characters are missing from
// code page 932 ("é", emoji), some come back as others ("〜" as "～", "¥" as
// "\"), and bytes that are not UTF-8 cannot be converted at all. Only a name
// that comes back exactly is handed on, so that the pass can never work on
// another file than the one named; for any other, nothing.
std::optional<std::string> HostPathFor(const std::string& fileSystemPath);

}  // namespace runner
