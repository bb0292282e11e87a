#include "tests/windows/loaded_plugin.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<RecordedMessage>& Messages() {
  static std::vector<RecordedMessage> messages;
  return messages;
}

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  HWND root = owner != nullptr ? GetAncestor(owner, GA_ROOTOWNER) : nullptr;
  Messages().push_back(RecordedMessage{
      owner, text != nullptr ? text : "(null)", caption != nullptr ? caption : "(null)", type,
      owner != nullptr && IsWindowEnabled(owner), root != nullptr && IsWindowEnabled(root)});
  return IDOK;
}

// GetProcAddress hands out a generic function pointer; the host converts it
// to the entry's real type.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  FARPROC address = GetProcAddress(module, name);
  Function function = nullptr;
  static_assert(sizeof function == sizeof address, "function pointers of one size");
  std::memcpy(&function, &address, sizeof function);
  return function;
}

template <typename T>
T* AtOffset(HMODULE module, DWORD offset) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

// Points the module's import address table entry for `dll`!`function` at
// `replacement`. Walks the loaded module's import directory: the descriptor
// of the DLL, then its lookup table (names) in step with its address table.
bool ReplaceImport(HMODULE module, const char* dll, const char* function, const void* replacement) {
  const auto* dos = AtOffset<IMAGE_DOS_HEADER>(module, 0);
  const auto* nt = AtOffset<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) {
    return false;
  }
  for (const auto* descriptor = AtOffset<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    if (lstrcmpiA(AtOffset<char>(module, descriptor->Name), dll) != 0) {
      continue;
    }
    const auto* lookup = AtOffset<IMAGE_THUNK_DATA>(module, descriptor->OriginalFirstThunk);
    auto* address = AtOffset<IMAGE_THUNK_DATA>(module, descriptor->FirstThunk);
    for (; lookup->u1.AddressOfData != 0; ++lookup, ++address) {
      if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal)) {
        continue;
      }
      const auto* byName =
          AtOffset<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(lookup->u1.AddressOfData));
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) {
        continue;
      }
      DWORD protection = 0;
      if (!VirtualProtect(&address->u1.Function, sizeof address->u1.Function, PAGE_READWRITE,
                          &protection)) {
        return false;
      }
      address->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&address->u1.Function, sizeof address->u1.Function, protection, &protection);
      return true;
    }
  }
  return false;
}

}  // namespace

bool LoadPlugin(const std::string& path, LoadedPlugin* plugin, std::string* error) {
  if (!LoadPluginModule(path, plugin, error)) return false;
  if (!ReplaceImport(plugin->module, "user32.dll", "MessageBoxA",
                     reinterpret_cast<const void*>(&RecordMessageBox))) {
    *error = path + " has no MessageBoxA import from user32.dll to redirect";
    FreeLibrary(plugin->module);
    *plugin = LoadedPlugin();
    return false;
  }
  return true;
}

const LoadedPlugin& Plugin() {
  static LoadedPlugin plugin;
  static std::string error;
  static const bool loaded = LoadPlugin(ProgramDirectory() + "Velumo.dll", &plugin, &error);
  EXPECT_TRUE(loaded) << error;
  return plugin;
}

const std::vector<RecordedMessage>& RecordedMessages() { return Messages(); }

void ClearMessages() { Messages().clear(); }

const HostSim& Host() {
  static HostSim host = [] {
    HostSim h;
    // Loading the module has brought the stand-in in.
    HMODULE xdwapi = GetModuleHandleA("xdwapi.dll");
    if (xdwapi != nullptr) {
      h.callCount = Export<int (*)(int)>(xdwapi, "HostSimCallCount");
      h.openHandleCount = Export<int (*)()>(xdwapi, "HostSimOpenHandleCount");
      h.reset = Export<void (*)()>(xdwapi, "HostSimReset");
    }
    return h;
  }();
  EXPECT_TRUE(host.callCount && host.openHandleCount && host.reset)
      << "the stand-in xdwapi.dll lacks its HostSim* exports";
  return host;
}

std::string MakeTemporaryDirectory() {
  static unsigned counter = 0;
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  for (;;) {
    const std::string directory = std::string(base) + "velumo-test-" +
                                  std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(++counter) + "\\";
    if (CreateDirectoryA(directory.c_str(), nullptr)) {
      return directory;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << "cannot create " << directory;
      return directory;
    }
  }
}

bool CopyModule(const std::string& from, const std::string& to) {
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

namespace {

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateHostWindow() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_APPWORKSPACE);
  windowClass.lpszClassName = L"VelumoTestHost";
  RegisterClassW(&windowClass);  // fails harmlessly when already registered
  HWND window =
      CreateWindowExW(0, L"VelumoTestHost", L"DocuWorks (test host)", WS_OVERLAPPEDWINDOW, 60, 40,
                      560, 380, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
    SetActiveWindow(window);
  }
  return window;
}

HWND CreateToolWindow(HWND host) {
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"VelumoTestHost", L"Tools",
                                WS_POPUP | WS_CAPTION | WS_SYSMENU, 420, 80, 160, 200, host,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetActiveWindow(window);
  }
  return window;
}
