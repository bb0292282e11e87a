#include "tests/windows/plugin_loader.h"

#include <cstring>

namespace {

// GetProcAddress hands out a generic function pointer; the host converts it
// to the entry's real type.
template <typename Function>
Function* Export(HMODULE module, const char* name) {
  FARPROC address = GetProcAddress(module, name);
  Function* function = nullptr;
  static_assert(sizeof function == sizeof address, "function pointers of one size");
  std::memcpy(&function, &address, sizeof function);
  return function;
}

}  // namespace

bool LoadPluginModule(const std::string& path, LoadedPlugin* plugin, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  LoadedPlugin p;
  p.module = module;
  std::string missing;
#define VELUMO_RESOLVE_EXPORT(name, bytes, ordinal, function)                    \
  p.name = Export<Plugin##name>(module, VELUMO_PLUGIN_EXPORT_NAME(name, bytes)); \
  if (p.name == nullptr) missing += " " VELUMO_PLUGIN_EXPORT_NAME(name, bytes);
  VELUMO_PLUGIN_EXPORTS(VELUMO_RESOLVE_EXPORT)
#undef VELUMO_RESOLVE_EXPORT
  if (!missing.empty()) {
    *error = path + " lacks the exports" + missing;
    FreeLibrary(module);
    return false;
  }
  *plugin = p;
  return true;
}

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of('\\') + 1);
}
