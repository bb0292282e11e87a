// The plug-in's side of the host boundary: its exports as the host calls
// them, and the record the host hands to the command entry. The plug-in
// (plugin/entry_points.h) declares its functions with these prototypes; the
// programs that play the host (tests/windows/) resolve and call the exports
// through them.
//
// The exports, their argument sizes and ordinals come from one list,
// hostapi/plugin_exports.def, through the generated VELUMO_PLUGIN_EXPORTS
// macro. Below, every export in that list needs a prototype named
// Plugin<Name> whose arguments take the bytes of its @N suffix, so an export
// added to the list without a prototype, or a prototype that disagrees with
// its name, does not compile.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hostapi/plugin_exports.h"

#if defined(_WIN32)
#define PLUGIN_API_CALL __stdcall
#else
#define PLUGIN_API_CALL
#endif

// The record that the host hands to _PLG_ExecuteCommand@4. It belongs to the
// host: the plug-in reads the command name, the file count and the path
// array, writes nothing and keeps no pointer into it after the call.
struct CommandRequest {
  std::uint32_t hostField0;      // the host's own, not read
  const char* commandName;       // NUL-terminated, code page 932
  std::uint32_t hostField8;      // the host's own, not read
  std::int32_t fileCount;        // number of selected documents; 0 or less: none
  const char* const* filePaths;  // fileCount paths in the ANSI code page
  // Whatever follows in the host's record is the host's and is never read.
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// On 32-bit Windows both sides use this layout directly: every field is four
// bytes wide and sits where the host puts it.
static_assert(offsetof(CommandRequest, hostField0) == 0, "host field at offset 0");
static_assert(offsetof(CommandRequest, commandName) == 4, "command name at offset 4");
static_assert(offsetof(CommandRequest, hostField8) == 8, "host field at offset 8");
static_assert(offsetof(CommandRequest, fileCount) == 12, "file count at offset 12");
static_assert(offsetof(CommandRequest, filePaths) == 16, "path array at offset 16");
static_assert(sizeof(CommandRequest) == 20, "the plug-in reads 20 bytes of the record");
#endif

// An icon handle (HICON), kept opaque so that this header needs no Windows
// headers.
using PluginIcon = void*;

// The prototypes, one per export (_PLG_<Name>@N has the type Plugin<Name>).
// Arguments the plug-in never reads are the host's 32-bit values, unnamed.
// Stores the command name's size through `requiredSize`; copies the name when
// `bufferSize` allows. 1: copied.
using PluginEnumerateCommands = std::int32_t PLUGIN_API_CALL(char* buffer, std::int32_t bufferSize,
                                                             std::int32_t* requiredSize);
// 1 when `selectedCount` is at least 1.
using PluginExecutable = std::int32_t PLUGIN_API_CALL(std::uintptr_t, std::int32_t selectedCount);
// The command's icon, large or 16 x 16; null for another name.
using PluginGetCommandIcon = PluginIcon PLUGIN_API_CALL(const char* commandName,
                                                        std::int32_t large);
// Runs the command: 0 when it is not this plug-in's, 1 once handled.
using PluginExecuteCommand = std::int32_t PLUGIN_API_CALL(const CommandRequest* request);
// Shows the about box; 1.
using PluginSetProfile = std::int32_t PLUGIN_API_CALL(std::uintptr_t);
// A null clone.
using PluginGetNewClone = void* PLUGIN_API_CALL(std::uintptr_t, std::uintptr_t);
// The questions with a fixed answer: 1 for these five...
using PluginCanSetProfile = std::int32_t PLUGIN_API_CALL(std::uintptr_t);
using PluginInitialize = std::int32_t PLUGIN_API_CALL(std::uintptr_t);
using PluginFinalize = std::int32_t PLUGIN_API_CALL(std::uintptr_t);
using PluginCanFinalize = std::int32_t PLUGIN_API_CALL(std::uintptr_t);
using PluginRequireFiles = std::int32_t PLUGIN_API_CALL(std::uintptr_t);
// ...and 0 for these three.
using PluginIsParallel = std::int32_t PLUGIN_API_CALL(std::uintptr_t);
using PluginIsCloningCommand = std::int32_t PLUGIN_API_CALL(std::uintptr_t);
using PluginReleaseClone = std::int32_t PLUGIN_API_CALL(std::uintptr_t);

namespace plugin_api_detail {

// The bytes a function's arguments take on the 32-bit stack: four each.
template <typename Function>
struct ArgumentBytes;
template <typename Result, typename... Arguments>
struct ArgumentBytes<Result PLUGIN_API_CALL(Arguments...)> {
  static_assert(((sizeof(Arguments) <= sizeof(std::uintptr_t)) && ...),
                "every argument is one machine word");
  static constexpr std::size_t value = 4 * sizeof...(Arguments);
};

#define VELUMO_CHECK_PLUGIN_EXPORT(name, bytes, ordinal, function) \
  static_assert(ArgumentBytes<Plugin##name>::value == (bytes),     \
                "_PLG_" #name "@" #bytes ": the prototype's arguments take other bytes");
VELUMO_PLUGIN_EXPORTS(VELUMO_CHECK_PLUGIN_EXPORT)
#undef VELUMO_CHECK_PLUGIN_EXPORT

}  // namespace plugin_api_detail

// The exact export name of _PLG_<name>@<bytes>, as a string literal.
#define VELUMO_PLUGIN_EXPORT_NAME(name, bytes) "_PLG_" #name "@" #bytes
