#include "tests/windows/message_boxes.h"

#include <vector>

namespace {

constexpr UINT kPollMs = USER_TIMER_MINIMUM;
constexpr DWORD kGiveUpMs = 5000;

// The timer's state: plain globals, since a TIMERPROC gets no context.
struct Answerer {
  MessageBoxSeen seen = nullptr;
  void* context = nullptr;
  UINT_PTR timer = 0;
  HWND answered = nullptr;  // the box last closed with OK, until it is gone
  DWORD answeredAt = 0;
  int stuck = 0;
};
Answerer g_answerer;

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::vector<char> text(static_cast<std::size_t>(length) + 2, '\0');
  const int got = GetWindowTextA(window, text.data(), length + 1);
  return std::string(text.data(), static_cast<std::size_t>(got > 0 ? got : 0));
}

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
  if (ClassOf(window) == "#32770" && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// Reads the box. Its controls: a static with the icon (SS_ICON), a static
// with the text, and the buttons (those of other kinds of box are hidden or
// absent).
SeenMessageBox Read(HWND box, HWND* ok) {
  SeenMessageBox seen;
  seen.caption = TextOf(box);
  seen.owner = GetWindow(box, GW_OWNER);
  seen.ownerEnabled = seen.owner != nullptr && IsWindowEnabled(seen.owner);
  seen.rootOwner = seen.owner != nullptr ? GetAncestor(seen.owner, GA_ROOTOWNER) : nullptr;
  seen.rootOwnerEnabled = seen.rootOwner != nullptr && IsWindowEnabled(seen.rootOwner);
  HICON exclamation = LoadIconW(nullptr, MAKEINTRESOURCEW(32515));  // IDI_EXCLAMATION
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    const std::string kind = ClassOf(child);
    const auto style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    if (lstrcmpiA(kind.c_str(), "Static") == 0) {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        seen.exclamationIcon =
            reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) == exclamation;
      } else {
        seen.text = TextOf(child);
      }
    } else if (lstrcmpiA(kind.c_str(), "Button") == 0) {
      ++seen.buttons;
      if (GetDlgCtrlID(child) == IDOK) {
        seen.okButton = true;
        *ok = child;
      }
    }
  }
  return seen;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr) return;
  Answerer& a = g_answerer;
  if (box == a.answered) {
    if (GetTickCount() - a.answeredAt > kGiveUpMs) {
      ++a.stuck;
      EndDialog(box, IDOK);
      a.answered = nullptr;
    }
    return;
  }
  HWND ok = nullptr;
  const SeenMessageBox seen = Read(box, &ok);
  if (a.seen != nullptr) a.seen(seen, a.context);
  a.answered = box;
  a.answeredAt = GetTickCount();
  // The user clicks OK; a box without one gets Enter.
  if (ok != nullptr) {
    PostMessageW(ok, BM_CLICK, 0, 0);
  } else {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

}  // namespace

void AnswerMessageBoxes(MessageBoxSeen seen, void* context) {
  StopAnsweringMessageBoxes();
  g_answerer.seen = seen;
  g_answerer.context = context;
  g_answerer.stuck = 0;
  g_answerer.timer = SetTimer(nullptr, 0, kPollMs, Tick);
}

void StopAnsweringMessageBoxes() {
  if (g_answerer.timer != 0) KillTimer(nullptr, g_answerer.timer);
  g_answerer.timer = 0;
  g_answerer.seen = nullptr;
  g_answerer.answered = nullptr;
}

int StuckMessageBoxes() { return g_answerer.stuck; }
