// Loading Velumo.dll as the host does: the module by its file, each export
// by its exact decorated name. The exports and their prototypes come from
// hostapi/plugin_api.h, so the programs that play the host follow the one
// export list.
#pragma once

#include <windows.h>

#include <string>

#include "hostapi/plugin_api.h"

// The module and a pointer to each of its exports, named after the export
// (`EnumerateCommands` for _PLG_EnumerateCommands@12).
struct LoadedPlugin {
  HMODULE module = nullptr;
#define VELUMO_LOADED_EXPORT(name, bytes, ordinal, function) Plugin##name* name = nullptr;
  VELUMO_PLUGIN_EXPORTS(VELUMO_LOADED_EXPORT)
#undef VELUMO_LOADED_EXPORT
};

// Loads the module at `path` and resolves every export. On failure returns
// false, says why in `error` and leaves nothing loaded.
bool LoadPluginModule(const std::string& path, LoadedPlugin* plugin, std::string* error);

// Directory of the running program, with a trailing backslash.
std::string ProgramDirectory();
