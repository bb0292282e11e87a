// Answering the plug-in's real message boxes as a user does: every box that
// opens on this thread is found, read (caption, text, icon, buttons, owner)
// and closed with its OK button. Works through a timer of the thread, so the
// boxes are answered from within their own modal loops.
#pragma once

#include <windows.h>

#include <string>

// One message box as it was on the screen.
struct SeenMessageBox {
  std::string caption;  // both in the ANSI code page, as the module passed them
  std::string text;
  bool exclamationIcon = false;  // the system's exclamation icon
  int buttons = 0;               // visible buttons
  bool okButton = false;         // one of them is OK (IDOK)
  HWND owner = nullptr;
  bool ownerEnabled = false;      // while the box was open
  HWND rootOwner = nullptr;       // the top-level window that contains the owner
  bool rootOwnerEnabled = false;  // while the box was open
};

// Called for each box, before it is closed.
using MessageBoxSeen = void (*)(const SeenMessageBox& box, void* context);

// From now on, until StopAnsweringMessageBoxes(), every message box that
// opens on this thread is handed to `seen` and closed with OK. A box that OK
// does not close within a few seconds is ended (and counted, see below).
void AnswerMessageBoxes(MessageBoxSeen seen, void* context);
void StopAnsweringMessageBoxes();

// Boxes that OK did not close since answering started.
int StuckMessageBoxes();
