// The two values that the module fixes when the host loads it, and nothing
// else: its own handle (the resources come from it) and the application title
// (the caption of its message boxes).
#pragma once

#include <windows.h>

// The module's own handle, recorded at load.
HINSTANCE ModuleHandle();

// The module's file name without directory and extension, fixed at load.
const char* ApplicationTitle();
