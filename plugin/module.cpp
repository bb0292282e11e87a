// Load-time bookkeeping. The values live in plain arrays and pointers that
// need no construction or destruction, so the module has no static objects
// with destructors and allocates nothing.
#include "plugin/module.h"

#include "plugin/app_title.h"

namespace {

HINSTANCE g_module = nullptr;
char g_title[MAX_PATH] = "";

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

void RecordModule(HINSTANCE module) {
  g_module = module;
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    path[0] = '\0';  // no usable name: an empty caption rather than a cut one
  }
  ApplicationTitleFromPath(path, IsAnsiLeadByte, g_title, sizeof g_title);
}

}  // namespace

HINSTANCE ModuleHandle() { return g_module; }

const char* ApplicationTitle() { return g_title; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    RecordModule(instance);
  }
  return TRUE;
}
