// Paths as the runner hands them to the masking pass.
#pragma once

#include <string>

#include "hostsim/cp932.h"

namespace runner {

// The plug-in receives paths in the ANSI code page of a Japanese Windows
// (932), and the stand-in host turns them back into file-system names. That
// round trip is not exact for every name: some characters are missing from
// code page 932 ("é", emoji), some come back as others ("〜" as "～", "¥" as
// "\"), and bytes that are not UTF-8 cannot be converted at all. Only a name
// that comes back exactly is handed on (kDone, `hostPath` set), so that the
// pass can never work on another file than the one named; for any other,
// kNotHeld. kFailed: the check itself could not be made (errno says why).
hostsim::Conversion HostPathFor(const std::string& fileSystemPath, std::string& hostPath);

}  // namespace runner
