// The about box, driven from a timer on the calling thread while
// _PLG_SetProfile@4 runs it: what it shows, where it opens, what it does to
// its owner, and each way of closing it. Needs an X display (xvfb-run).
// With VELUMO_SCREENSHOT set, the first test saves a picture of the open box
// (the owner window's area of the screen) to that file as a BMP.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/windows/loaded_plugin.h"
#include "velumo_version.h"

namespace {

enum class CloseBy { kOkButton, kEscape, kCloseBox, kNothing };

struct Control {
  std::wstring windowClass;
  std::wstring text;
  int id;
};

// What the timer saw while the box was open.
struct Observation {
  bool seen = false;
  bool timedOut = false;
  HWND dialog = nullptr;
  HWND owner = nullptr;
  bool ownerEnabled = true;
  HWND rootOwner = nullptr;  // the top-level window that contains the owner
  bool rootOwnerEnabled = true;
  RECT box{};
  std::wstring caption;
  std::wstring fontFace;
  std::vector<Control> controls;
};

// The timer's state: plain globals, since a TIMERPROC gets no context.
struct Driver {
  CloseBy closeBy = CloseBy::kNothing;
  const char* screenshot = nullptr;
  DWORD started = 0;
  DWORD firstVisible = 0;
  Observation observation;
};
Driver g_driver;

constexpr DWORD kSettleMs = 400;    // let the box paint before looking at it
constexpr DWORD kGiveUpMs = 15000;  // a box that will not close fails the test

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TextOf(HWND window) {
  wchar_t text[256] = L"";
  GetWindowTextW(window, text, 256);
  return text;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  if (ClassOf(window) == L"#32770" && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// Saves the screen inside `area` as a 24-bit BMP.
bool SaveScreenshot(const RECT& area, const char* path) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
    const DWORD stride = static_cast<DWORD>(((width * 3) + 3) & ~3);
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(imageSize));
    ok = ok && out.good();
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

void Observe(HWND dialog) {
  Observation& o = g_driver.observation;
  o.seen = true;
  o.dialog = dialog;
  o.owner = GetWindow(dialog, GW_OWNER);
  o.ownerEnabled = o.owner != nullptr && IsWindowEnabled(o.owner);
  o.rootOwner = o.owner != nullptr ? GetAncestor(o.owner, GA_ROOTOWNER) : nullptr;
  o.rootOwnerEnabled = o.rootOwner != nullptr && IsWindowEnabled(o.rootOwner);
  GetWindowRect(dialog, &o.box);
  o.caption = TextOf(dialog);
  auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  LOGFONTW logFont{};
  if (font != nullptr && GetObjectW(font, sizeof logFont, &logFont) != 0) {
    o.fontFace = logFont.lfFaceName;
  }
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    o.controls.push_back(Control{ClassOf(child), TextOf(child), GetDlgCtrlID(child)});
  }
  if (g_driver.screenshot != nullptr && o.owner != nullptr) {
    RECT area;
    GetWindowRect(o.owner, &area);
    if (!SaveScreenshot(area, g_driver.screenshot)) {
      ADD_FAILURE() << "could not save the screenshot " << g_driver.screenshot;
    }
  }
}

void Close(HWND dialog) {
  switch (g_driver.closeBy) {
    case CloseBy::kOkButton:  // a click on the button
      PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
      break;
    case CloseBy::kEscape:  // the key, sent where the keyboard focus is
      PostMessageW(GetFocus() != nullptr ? GetFocus() : dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      break;
    case CloseBy::kCloseBox:
      PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case CloseBy::kNothing:
      break;
  }
}

void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
  const DWORD now = GetTickCount();
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (now - g_driver.started > kGiveUpMs) {
    g_driver.observation.timedOut = true;
    KillTimer(nullptr, timer);
    if (dialog != nullptr) {
      EndDialog(dialog, IDABORT);
    }
    return;
  }
  if (dialog == nullptr || g_driver.observation.seen) {
    return;
  }
  if (g_driver.firstVisible == 0) {
    g_driver.firstVisible = now;
    return;
  }
  if (now - g_driver.firstVisible < kSettleMs) {
    return;
  }
  Observe(dialog);
  Close(dialog);
}

// Runs _PLG_SetProfile@4 with the timer driving the box; returns its result.
std::int32_t RunAboutBox(PluginSetProfile* setProfile, CloseBy closeBy,
                         const char* screenshot = nullptr) {
  g_driver = Driver{};
  g_driver.closeBy = closeBy;
  g_driver.screenshot = screenshot;
  g_driver.started = GetTickCount();
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, Tick);
  const std::int32_t result = setProfile(0x1234);
  KillTimer(nullptr, timer);
  return result;
}

POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

class AboutBox : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(Plugin().module, nullptr); }
};

TEST_F(AboutBox, ShowsTheTemplateCentredOverTheDisabledOwnerAndClosesWithOk) {
  HWND owner = CreateHostWindow();
  ASSERT_NE(owner, nullptr);
  ASSERT_EQ(GetActiveWindow(), owner);
  const char* screenshot = std::getenv("VELUMO_SCREENSHOT");

  EXPECT_EQ(RunAboutBox(Plugin().SetProfile, CloseBy::kOkButton, screenshot), 1);

  const Observation& o = g_driver.observation;
  ASSERT_TRUE(o.seen) << "no about box appeared";
  EXPECT_FALSE(o.timedOut) << "OK did not close the box";
  EXPECT_EQ(o.caption, L"\uFF80\uFF9E\uFF72\uFF71\uFF9B\uFF78\uFF9E");    // "ﾀﾞｲｱﾛｸﾞ"
  EXPECT_EQ(o.fontFace, L"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");  // "ＭＳ Ｐゴシック"
  ASSERT_EQ(o.controls.size(), 3u);
  EXPECT_EQ(o.controls[0].windowClass, L"Button");
  EXPECT_EQ(o.controls[0].text, L"OK");
  EXPECT_EQ(o.controls[0].id, IDOK);
  EXPECT_EQ(o.controls[1].windowClass, L"Static");
  const std::string aboutText = VELUMO_ABOUT_TEXT;  // plain ASCII
  EXPECT_EQ(o.controls[1].text, std::wstring(aboutText.begin(), aboutText.end()));
  EXPECT_EQ(o.controls[2].windowClass, L"Static");
  EXPECT_NE(o.controls[2].text.find(L"Velumo"), std::wstring::npos) << "the authorship notice";

  EXPECT_EQ(o.owner, owner) << "owned by the active window";
  EXPECT_FALSE(o.ownerEnabled) << "the owner is disabled while the box is open";
  RECT ownerRect;
  GetWindowRect(owner, &ownerRect);
  EXPECT_NEAR(Centre(o.box).x, Centre(ownerRect).x, 1);
  EXPECT_NEAR(Centre(o.box).y, Centre(ownerRect).y, 1);

  EXPECT_FALSE(IsWindow(o.dialog)) << "the box is destroyed";
  EXPECT_TRUE(IsWindowEnabled(owner)) << "the owner is enabled again";
  EXPECT_EQ(GetActiveWindow(), owner) << "and active again";
  DestroyWindow(owner);
}

TEST_F(AboutBox, EscapeAndTheCloseBoxEndItToo) {
  HWND owner = CreateHostWindow();
  ASSERT_NE(owner, nullptr);
  for (CloseBy closeBy : {CloseBy::kEscape, CloseBy::kCloseBox}) {
    SCOPED_TRACE(closeBy == CloseBy::kEscape ? "Esc" : "close box");
    SetActiveWindow(owner);
    EXPECT_EQ(RunAboutBox(Plugin().SetProfile, closeBy), 1);
    const Observation& o = g_driver.observation;
    ASSERT_TRUE(o.seen);
    EXPECT_FALSE(o.timedOut) << "the box did not close";
    EXPECT_EQ(o.owner, owner);
    EXPECT_FALSE(o.ownerEnabled);
    EXPECT_FALSE(IsWindow(o.dialog));
    EXPECT_TRUE(IsWindowEnabled(owner));
  }
  DestroyWindow(owner);
}

TEST_F(AboutBox, OverAToolWindowTheMainWindowIsDisabledToo) {
  HWND main = CreateHostWindow();
  ASSERT_NE(main, nullptr);
  HWND tool = CreateToolWindow(main);
  ASSERT_NE(tool, nullptr);
  ASSERT_EQ(GetActiveWindow(), tool);

  EXPECT_EQ(RunAboutBox(Plugin().SetProfile, CloseBy::kOkButton), 1);
  const Observation& o = g_driver.observation;
  ASSERT_TRUE(o.seen);
  EXPECT_FALSE(o.timedOut);
  EXPECT_EQ(o.owner, tool);
  EXPECT_FALSE(o.ownerEnabled);
  EXPECT_EQ(o.rootOwner, main);
  EXPECT_FALSE(o.rootOwnerEnabled) << "the main window is disabled while the box is open";

  EXPECT_TRUE(IsWindowEnabled(tool));
  EXPECT_TRUE(IsWindowEnabled(main)) << "and enabled again once it is closed";
  EXPECT_EQ(GetActiveWindow(), tool);

  // A main window disabled by someone else stays so.
  EnableWindow(main, FALSE);
  SetActiveWindow(tool);
  ASSERT_EQ(GetActiveWindow(), tool);
  EXPECT_EQ(RunAboutBox(Plugin().SetProfile, CloseBy::kOkButton), 1);
  ASSERT_TRUE(o.seen);
  EXPECT_EQ(o.owner, tool);
  EXPECT_FALSE(o.rootOwnerEnabled);
  EXPECT_FALSE(IsWindowEnabled(main)) << "not enabled by the box";
  EXPECT_TRUE(IsWindowEnabled(tool));
  DestroyWindow(main);  // the tool window with it
}

TEST_F(AboutBox, WithoutAnActiveWindowItIsCentredOnTheScreen) {
  SetActiveWindow(nullptr);
  ASSERT_EQ(GetActiveWindow(), nullptr);
  EXPECT_EQ(RunAboutBox(Plugin().SetProfile, CloseBy::kOkButton), 1);
  const Observation& o = g_driver.observation;
  ASSERT_TRUE(o.seen);
  EXPECT_FALSE(o.timedOut);
  EXPECT_EQ(o.owner, nullptr);
  RECT workArea;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0));
  EXPECT_NEAR(Centre(o.box).x, Centre(workArea).x, 1);
  EXPECT_NEAR(Centre(o.box).y, Centre(workArea).y, 1);
}

// Rewrites the module file at `path` so that its dialogs count as menus and
// its icon groups as the unused resource type 13: the module loads as before,
// but dialog 3001 and icon group 3000 are no longer found. Only the type ids
// of the resource directory's root change, and they keep their order.
bool HideDialogAndIconGroup(const std::string& path) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) {
    return false;
  }
  auto at = [&bytes](std::size_t offset) { return bytes.data() + offset; };
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, at(0), sizeof dos);
  IMAGE_NT_HEADERS nt;
  std::memcpy(&nt, at(static_cast<std::size_t>(dos.e_lfanew)), sizeof nt);
  const DWORD rootRva =
      nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
  const std::size_t sections = static_cast<std::size_t>(dos.e_lfanew) +
                               offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                               nt.FileHeader.SizeOfOptionalHeader;
  std::size_t root = 0;
  for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section;
    std::memcpy(&section, at(sections + i * sizeof section), sizeof section);
    if (rootRva >= section.VirtualAddress &&
        rootRva < section.VirtualAddress + section.SizeOfRawData) {
      root = rootRva - section.VirtualAddress + section.PointerToRawData;
    }
  }
  if (root == 0) {
    return false;
  }
  IMAGE_RESOURCE_DIRECTORY directory;
  std::memcpy(&directory, at(root), sizeof directory);
  const std::size_t count =
      std::size_t{directory.NumberOfNamedEntries} + directory.NumberOfIdEntries;
  int changed = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t offset = root + sizeof directory + i * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
    DWORD name;
    std::memcpy(&name, at(offset), sizeof name);
    const DWORD retyped = name == 5 ? 4 : name == 14 ? 13 : name;  // RT_DIALOG, RT_GROUP_ICON
    if (retyped != name) {
      std::memcpy(at(offset), &retyped, sizeof retyped);
      ++changed;
    }
  }
  file.seekp(0);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return changed == 2 && file.good();
}

// Without its template the about box cannot open, yet the call answers 1 as
// always; without the icon group the icon is null.
TEST_F(AboutBox, AMissingTemplateShowsNothingAndStillAnswersOne) {
  const std::string copy = MakeTemporaryDirectory() + "Stripped.dll";
  ASSERT_TRUE(CopyModule(ProgramDirectory() + "Velumo.dll", copy));
  ASSERT_TRUE(HideDialogAndIconGroup(copy));

  LoadedPlugin stripped;
  std::string error;
  ASSERT_TRUE(LoadPlugin(copy, &stripped, &error)) << error;
  ASSERT_EQ(FindResourceW(stripped.module, MAKEINTRESOURCEW(3001), MAKEINTRESOURCEW(5)), nullptr)
      << "the template is really gone";
  EXPECT_EQ(RunAboutBox(stripped.SetProfile, CloseBy::kOkButton), 1);
  EXPECT_FALSE(g_driver.observation.seen);
  EXPECT_FALSE(g_driver.observation.timedOut);
  const char* const name = "\x83\x7D\x83\x58\x83\x4C\x83\x93\x83\x4F";  // the command
  EXPECT_EQ(stripped.GetCommandIcon(name, 1), nullptr);
  EXPECT_EQ(stripped.GetCommandIcon(name, 0), nullptr);
  EXPECT_NE(Plugin().GetCommandIcon(name, 1), nullptr) << "the original still has its icon";
  FreeLibrary(stripped.module);
}

}  // namespace
