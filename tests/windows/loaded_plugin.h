// The test program's side of the host: loads a copy of Velumo.dll, finds its
// exports by their exact names, as the host does, and records the message
// boxes that the module shows instead of letting them block.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/command_request.h"

// The entry points as the host calls them.
using EnumerateCommandsFn = std::int32_t(WINAPI*)(char* buffer, std::int32_t bufferSize,
                                                  std::int32_t* requiredSize);
using ExecutableFn = std::int32_t(WINAPI*)(std::uintptr_t, std::int32_t selectedCount);
using GetCommandIconFn = HICON(WINAPI*)(const char* commandName, std::int32_t large);
using ExecuteCommandFn = std::int32_t(WINAPI*)(const CommandRequest* request);
using SingleArgumentFn = std::int32_t(WINAPI*)(std::uintptr_t);
using GetNewCloneFn = void*(WINAPI*)(std::uintptr_t, std::uintptr_t);

struct LoadedPlugin {
  HMODULE module = nullptr;
  EnumerateCommandsFn enumerateCommands = nullptr;
  ExecutableFn executable = nullptr;
  GetCommandIconFn getCommandIcon = nullptr;
  ExecuteCommandFn executeCommand = nullptr;
  SingleArgumentFn setProfile = nullptr;
  SingleArgumentFn canSetProfile = nullptr;
  SingleArgumentFn initialize = nullptr;
  SingleArgumentFn finalize = nullptr;
  SingleArgumentFn canFinalize = nullptr;
  SingleArgumentFn requireFiles = nullptr;
  SingleArgumentFn isParallel = nullptr;
  SingleArgumentFn isCloningCommand = nullptr;
  SingleArgumentFn releaseClone = nullptr;
  GetNewCloneFn getNewClone = nullptr;
};

// Loads the module at `path`, resolves all 14 exports by name and redirects
// its MessageBoxA import to the recorder below. On failure returns false and
// says why in `error` (the module is unloaded again).
bool LoadPlugin(const std::string& path, LoadedPlugin* plugin, std::string* error);

// The copy of Velumo.dll beside the test program, loaded once for the whole
// run; a failed load fails the test that asked for it.
const LoadedPlugin& Plugin();

// Directory of the test program, with a trailing backslash.
std::string ProgramDirectory();

// One message box as the module asked for it, with the enabled state of its
// owner and of the owner's root owner (the top-level window that contains
// it) at the moment the box would have opened. A real box disables its owner
// itself; the recorder leaves the owner alone.
struct RecordedMessage {
  HWND owner;
  std::string text;  // code page 932 bytes, as passed
  std::string caption;
  UINT type;
  bool ownerEnabled;
  bool rootOwnerEnabled;
};

// The message boxes since the last ClearMessages(), oldest first. Each one
// counts as dismissed with OK at once.
const std::vector<RecordedMessage>& RecordedMessages();
void ClearMessages();

// The stand-in host's counters (xdwapi.dll, by name).
struct HostSim {
  int (*callCount)(int ordinal) = nullptr;
  int (*openHandleCount)() = nullptr;
  void (*reset)() = nullptr;
};
const HostSim& Host();

// A fresh, empty directory under the Windows temporary directory, with a
// trailing backslash.
std::string MakeTemporaryDirectory();

// Copies the file and returns true on success.
bool CopyModule(const std::string& from, const std::string& to);

// A shown, active top-level window on this thread, standing in for the host
// application's window: the owner of what the module shows.
HWND CreateHostWindow();

// A shown, active pop-up owned by `host`, standing in for one of the host's
// modeless tool windows: while it is active, it is the host window's last
// active pop-up, and so the owner of what the module shows.
HWND CreateToolWindow(HWND host);
