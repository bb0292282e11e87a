// The record that the host hands to _PLG_ExecuteCommand@4. It belongs to the
// host: the module reads the command name, the file count and the path array,
// writes nothing and keeps no pointer into it after the call.
#pragma once

#include <cstddef>
#include <cstdint>

struct CommandRequest {
  std::uint32_t hostField0;      // the host's own, not read
  const char* commandName;       // NUL-terminated, code page 932
  std::uint32_t hostField8;      // the host's own, not read
  std::int32_t fileCount;        // number of selected documents; 0 or less: none
  const char* const* filePaths;  // fileCount paths in the ANSI code page
  // Whatever follows in the host's record is the host's and is never read.
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit module reads the host's record directly: every field is four
// bytes wide and sits where the host puts it.
static_assert(offsetof(CommandRequest, hostField0) == 0, "host field at offset 0");
static_assert(offsetof(CommandRequest, commandName) == 4, "command name at offset 4");
static_assert(offsetof(CommandRequest, hostField8) == 8, "host field at offset 8");
static_assert(offsetof(CommandRequest, fileCount) == 12, "file count at offset 12");
static_assert(offsetof(CommandRequest, filePaths) == 16, "path array at offset 16");
static_assert(sizeof(CommandRequest) == 20, "the module reads 20 bytes of the record");
#endif
