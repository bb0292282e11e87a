#include "plugin/win32_ui.h"

#include "masking/message_sink.h"
#include "plugin/module.h"
#include "resources/resource_ids.h"

namespace {

LPCSTR ResourceName(WORD id) {
  // MAKEINTRESOURCEA without its C-style casts.
  return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(id));  // NOLINT(performance-no-int-to-ptr)
}

// The owner of everything the module shows: the calling thread's active
// window, or rather that window's last active pop-up; null when the thread
// has no active window.
HWND CurrentOwner() {
  HWND active = GetActiveWindow();
  return active != nullptr ? GetLastActivePopup(active) : nullptr;
}

// A modal box disables only its owner. When the owner is an owned window (a
// tool window of the host, say), the host's main window stays usable and the
// user could start the command again over a document that is still open; so
// the top-level window is disabled too for as long as the box is open.
// Returns the window to enable again afterwards: null when there is none,
// when it is the owner itself (the box takes care of that one) or when it was
// already disabled (whoever disabled it will enable it).
HWND DisableRootOwner(HWND owner) {
  if (owner == nullptr) {
    return nullptr;
  }
  HWND root = GetAncestor(owner, GA_ROOTOWNER);
  if (root == nullptr || root == owner || !IsWindowEnabled(root)) {
    return nullptr;
  }
  EnableWindow(root, FALSE);
  return root;
}

// Runs `show(owner)`, a modal box, over the current owner with its root owner
// disabled. The root owner is enabled only once the box has gone and has
// given the activation back to its owner.
template <typename Show>
void RunModal(Show show) {
  HWND owner = CurrentOwner();
  HWND disabled = DisableRootOwner(owner);
  show(owner);
  if (disabled != nullptr) {
    EnableWindow(disabled, TRUE);
  }
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// The start of a span of `length` centred on [low, high), moved back inside
// [areaLow, areaHigh) where it would stick out (the start wins when the span
// is longer than the area).
int CentredStart(LONG low, LONG high, int length, LONG areaLow, LONG areaHigh) {
  int start = static_cast<int>(low) + (static_cast<int>(high - low) - length) / 2;
  if (start + length > areaHigh) {
    start = static_cast<int>(areaHigh) - length;
  }
  if (start < areaLow) {
    start = static_cast<int>(areaLow);
  }
  return start;
}

// Places the dialog in the middle of its owner, or of the work area when it
// has no visible owner, and keeps it on the owner's monitor.
void CentreOverOwner(HWND dialog) {
  RECT box;
  if (!GetWindowRect(dialog, &box)) {
    return;
  }
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner != nullptr && (!IsWindowVisible(owner) || IsIconic(owner))) {
    owner = nullptr;
  }
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoA(
          MonitorFromWindow(owner != nullptr ? owner : dialog, MONITOR_DEFAULTTONEAREST),
          &monitor)) {
    return;
  }
  const RECT& area = monitor.rcWork;
  RECT target = area;
  if (owner != nullptr && !GetWindowRect(owner, &target)) {
    target = area;
  }
  const int x = CentredStart(target.left, target.right, Width(box), area.left, area.right);
  const int y = CentredStart(target.top, target.bottom, Height(box), area.top, area.bottom);
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The about box has no data of its own: it is centred when it opens, and OK,
// Esc and the close box (which the dialog manager turns into IDCANCEL) end it.
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      CentreOverOwner(dialog);
      return TRUE;  // let the dialog manager focus the default button
    case WM_COMMAND: {
      const auto id = static_cast<int>(wParam & 0xFFFFu);
      if (id == IDOK || id == IDCANCEL) {
        EndDialog(dialog, id);
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return FALSE;
}

}  // namespace

HICON LoadCommandIcon(bool large) {
  if (large) {
    return LoadIconA(ModuleHandle(), ResourceName(IDI_VELUMO_COMMAND));
  }
  return static_cast<HICON>(
      LoadImageA(ModuleHandle(), ResourceName(IDI_VELUMO_COMMAND), IMAGE_ICON, 16, 16, 0));
}

void ShowAboutBox() {
  // DialogBoxParamA disables the owner while the box is open, enables and
  // reactivates it afterwards. Its result (-1 when the template is missing or
  // the box cannot be created) makes no difference to the caller.
  RunModal([](HWND owner) {
    return DialogBoxParamA(ModuleHandle(), ResourceName(IDD_VELUMO_ABOUT), owner, AboutBoxProc, 0);
  });
}

// The Windows form of the engine's message sink: a modal message box with an
// OK button and the exclamation icon, captioned with the application title.
void masking::ShowMessage(const char* text) {
  RunModal([text](HWND owner) {
    return MessageBoxA(owner, text, ApplicationTitle(), MB_OK | MB_ICONEXCLAMATION);
  });
}
