// The module's user interface on Windows: message boxes, the command icon and
// the about box. Everything here works on the calling thread and from the
// module's own resources.
#pragma once

#include <windows.h>

// Loads icon 3000 from the module: at the system's icon size when `large`,
// else as a 16 x 16 icon. Null when it cannot be loaded. The caller (the host)
// owns the handle.
HICON LoadCommandIcon(bool large);

// Runs the about box (dialog 3001) modally, owned by the calling thread's
// active window, and returns once it has been closed. Shows nothing when the
// template is missing or the box cannot be created.
void ShowAboutBox();
