// Writing a whole buffer to a file descriptor (POSIX).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace hostsim {

using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);

// Writes all of `text` with `write`, going on after short writes and
// interruptions. A write that makes no progress (returns 0) is an error, EIO,
// rather than a reason to try forever. On failure `error` is the errno value.
bool WriteAll(int fd, std::string_view text, WriteFunction write, int& error);

}  // namespace hostsim
