// The test program's side of the host: loads a copy of Velumo.dll, finds its
// exports by their exact names, as the host does, and records the message
// boxes that the module shows instead of letting them block (the tests that
// see the real boxes answer them with tests/windows/message_boxes.h).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/windows/plugin_loader.h"

// Loads the module at `path` (LoadPluginModule) and redirects its
// MessageBoxA import to the recorder below. On failure returns false and
// says why in `error` (the module is unloaded again).
bool LoadPlugin(const std::string& path, LoadedPlugin* plugin, std::string* error);

// The copy of Velumo.dll beside the test program, loaded once for the whole
// run; a failed load fails the test that asked for it.
const LoadedPlugin& Plugin();

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
