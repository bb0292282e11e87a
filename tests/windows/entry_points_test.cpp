// The module's entry points called as the host calls them, with the stand-in
// host behind it: command listing, applicability, execution and its
// messages, the icon, the constant answers and the caption of a renamed copy.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "tests/windows/expected_texts.h"
#include "tests/windows/loaded_plugin.h"
#include "tests/windows/message_boxes.h"

namespace {

constexpr std::int32_t kNameSize = 11;  // the command name and its zero
constexpr UINT kMessageType = MB_OK | MB_ICONEXCLAMATION;

// One page with one keep-frame, in the stand-in host's file format.
constexpr char kKeepFrameDocument[] =
    R"({"pages":[{"width":1000,"height":1000,"annotations":[{"type":32829,"x":100,"y":100,)"
    R"("width":200,"height":200,"attributes":{"%BorderStyle":1,"%FillStyle":0}}]}]})";

std::vector<std::string> Texts(const std::vector<RecordedMessage>& messages) {
  std::vector<std::string> texts;
  for (const RecordedMessage& m : messages) {
    texts.push_back(m.text);
  }
  return texts;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

CommandRequest Request(const char* name, std::int32_t count, const char* const* paths) {
  CommandRequest request{};
  request.hostField0 = 0xDEADBEEFu;  // the host's own fields, never read
  request.hostField8 = 0xFEEDFACEu;
  request.commandName = name;
  request.fileCount = count;
  request.filePaths = paths;
  return request;
}

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Plugin().module, nullptr);
    ASSERT_NE(Host().reset, nullptr);
    Host().reset();
    ClearMessages();
  }

  static const LoadedPlugin& P() { return Plugin(); }

  // Runs the command on `paths` and returns the result.
  static std::int32_t Execute(std::int32_t count, const char* const* paths) {
    const CommandRequest request = Request(kCommandName, count, paths);
    return P().ExecuteCommand(&request);
  }
};

// --- listing the command ----------------------------------------------------

TEST_F(EntryPoints, EnumerateCommandsCopiesTheNameOnlyIntoABufferOfElevenOrMore) {
  char buffer[32];
  std::int32_t required = -7;

  std::memset(buffer, 0x5A, sizeof buffer);
  EXPECT_EQ(P().EnumerateCommands(buffer, 10, &required), 0);
  EXPECT_EQ(required, kNameSize);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\x5A'))
      << "a buffer of 10 bytes is left untouched";

  required = -7;
  EXPECT_EQ(P().EnumerateCommands(buffer, -1, &required), 0);
  EXPECT_EQ(required, kNameSize);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\x5A'))
      << "a negative size counts as too small";

  required = -7;
  EXPECT_EQ(P().EnumerateCommands(buffer, INT_MIN, &required), 0);
  EXPECT_EQ(required, kNameSize);

  for (std::int32_t size : {11, 12, static_cast<std::int32_t>(sizeof buffer)}) {
    SCOPED_TRACE(size);
    std::memset(buffer, 0x5A, sizeof buffer);
    required = -7;
    EXPECT_EQ(P().EnumerateCommands(buffer, size, &required), 1);
    EXPECT_EQ(required, kNameSize);
    EXPECT_EQ(std::string(buffer, kNameSize), std::string(kCommandName, kNameSize))
        << "the ten name bytes and one zero";
    EXPECT_EQ(std::string(buffer + kNameSize, sizeof buffer - kNameSize),
              std::string(sizeof buffer - kNameSize, '\x5A'))
        << "nothing written after the name's zero";
  }
  EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(EntryPoints, ExecutableAnswersByTheSelectedCountAlone) {
  for (std::uintptr_t first : {std::uintptr_t{0}, std::uintptr_t{1}, ~std::uintptr_t{0}}) {
    SCOPED_TRACE(first);
    EXPECT_EQ(P().Executable(first, 0), 0);
    EXPECT_EQ(P().Executable(first, -1), 0);
    EXPECT_EQ(P().Executable(first, INT_MIN), 0);
    EXPECT_EQ(P().Executable(first, 1), 1);
    EXPECT_EQ(P().Executable(first, 2), 1);
    EXPECT_EQ(P().Executable(first, INT_MAX), 1);
  }
}

TEST_F(EntryPoints, TheOtherQuestionsGetFixedAnswersAndDoNothing) {
  for (std::uintptr_t argument : {std::uintptr_t{0}, std::uintptr_t{42}, ~std::uintptr_t{0}}) {
    SCOPED_TRACE(argument);
    EXPECT_EQ(P().CanSetProfile(argument), 1);
    EXPECT_EQ(P().Initialize(argument), 1);
    EXPECT_EQ(P().Finalize(argument), 1);
    EXPECT_EQ(P().CanFinalize(argument), 1);
    EXPECT_EQ(P().RequireFiles(argument), 1);
    EXPECT_EQ(P().IsParallel(argument), 0);
    EXPECT_EQ(P().IsCloningCommand(argument), 0);
    EXPECT_EQ(P().ReleaseClone(argument), 0);
    EXPECT_EQ(P().GetNewClone(argument, argument), nullptr);
  }
  EXPECT_TRUE(RecordedMessages().empty());
  EXPECT_EQ(Host().callCount(kOrdinalOpenDocument), 0);
}

// --- which requests are this module's ---------------------------------------

TEST_F(EntryPoints, OtherCommandNamesAreNotThisModulesAndTouchNothing) {
  const std::string name(kCommandName);
  const std::string prefix = name.substr(0, name.size() - 2);  // one character short
  const std::string longer = name + "X";
  const std::string trailingSpace = name + " ";
  const std::string halfCharacter = name.substr(0, name.size() - 1);      // a lead byte alone
  const std::string folded = "\x83\x7D\x83\x58\x83\x4C\x83\x93\x83\x6F";  // last byte differs
  const char* const paths[] = {"C:\\nowhere\\a.xdw"};
  for (const std::string& other : {std::string(), prefix, longer, trailingSpace, halfCharacter,
                                   folded, std::string("Masking")}) {
    SCOPED_TRACE(::testing::PrintToString(other));
    const CommandRequest request = Request(other.c_str(), 1, paths);
    EXPECT_EQ(P().ExecuteCommand(&request), 0);
  }
  EXPECT_TRUE(RecordedMessages().empty());
  EXPECT_EQ(Host().callCount(kOrdinalOpenDocument), 0) << "no document opened";
}

TEST_F(EntryPoints, NullRequestsAndNamesAreNotThisModules) {
  EXPECT_EQ(P().ExecuteCommand(nullptr), 0);
  const char* const paths[] = {"C:\\nowhere\\a.xdw"};
  const CommandRequest request = Request(nullptr, 1, paths);
  EXPECT_EQ(P().ExecuteCommand(&request), 0);
  EXPECT_TRUE(RecordedMessages().empty());
  EXPECT_EQ(Host().callCount(kOrdinalOpenDocument), 0);
}

// --- running the command ----------------------------------------------------

TEST_F(EntryPoints, WithoutASelectionTheUserIsAskedToSelectDocuments) {
  const char* const paths[] = {"C:\\nowhere\\a.xdw"};
  struct Case {
    std::int32_t count;
    const char* const* paths;
  };
  for (const Case& c : {Case{0, paths}, Case{-1, paths}, Case{INT_MIN, paths}, Case{0, nullptr},
                        Case{2, nullptr}}) {
    SCOPED_TRACE(::testing::Message() << "count " << c.count << (c.paths ? "" : ", no array"));
    ClearMessages();
    EXPECT_EQ(Execute(c.count, c.paths), 1);
    EXPECT_EQ(Texts(RecordedMessages()), std::vector<std::string>{kSelectDocumentsMessage});
  }
  EXPECT_EQ(Host().callCount(kOrdinalOpenDocument), 0) << "no document opened";
}

TEST_F(EntryPoints, EveryDocumentMaskedAndSavedEndsWithTheClosingMessage) {
  const std::string directory = MakeTemporaryDirectory();
  const std::string first = directory + "first.json";
  const std::string second = directory + "second.json";
  WriteFile(first, kKeepFrameDocument);
  WriteFile(second, kKeepFrameDocument);
  const char* const paths[] = {first.c_str(), second.c_str()};

  EXPECT_EQ(Execute(2, paths), 1);
  EXPECT_EQ(Texts(RecordedMessages()), std::vector<std::string>{kFinishedMessage});
  EXPECT_EQ(Host().callCount(kOrdinalOpenDocument), 2);
  EXPECT_EQ(Host().callCount(kOrdinalSaveDocument), 2) << "both saved";
  EXPECT_EQ(Host().openHandleCount(), 0) << "both closed";
  const std::regex mask(R"("%BorderStyle"\s*:\s*0\b)");
  const std::regex keepFrame(R"("%BorderStyle"\s*:\s*1\b)");
  for (const std::string& path : {first, second}) {
    const std::string saved = ReadFile(path);
    EXPECT_TRUE(std::regex_search(saved, mask)) << path << ": " << saved;
    EXPECT_FALSE(std::regex_search(saved, keepFrame)) << path << ": " << saved;
  }
}

TEST_F(EntryPoints, AFailingDocumentStopsTheRunBeforeTheNextOne) {
  const std::string directory = MakeTemporaryDirectory();
  const std::string first = directory + "first.json";
  const std::string missing = directory + "missing.json";
  const std::string third = directory + "third.json";
  WriteFile(first, kKeepFrameDocument);
  WriteFile(third, kKeepFrameDocument);
  const char* const paths[] = {first.c_str(), missing.c_str(), third.c_str()};

  EXPECT_EQ(Execute(3, paths), 1);
  EXPECT_EQ(Texts(RecordedMessages()),
            (std::vector<std::string>{kFileNotFoundMessage, kStoppedMessage}))
      << "the document's own message, then the stop; never the closing message";
  EXPECT_EQ(Host().callCount(kOrdinalOpenDocument), 2) << "the third document is never opened";
  EXPECT_EQ(Host().callCount(kOrdinalSaveDocument), 1) << "the first document is saved";
  EXPECT_EQ(Host().openHandleCount(), 0);
  const std::string saved = ReadFile(first);
  EXPECT_NE(saved, kKeepFrameDocument) << "the first document is masked";
  EXPECT_TRUE(std::regex_search(saved, std::regex(R"("%BorderStyle"\s*:\s*0\b)"))) << saved;
  EXPECT_EQ(ReadFile(third), kKeepFrameDocument) << "the third document is untouched";
}

TEST_F(EntryPoints, ANullPathInTheArrayFailsThatDocumentWithoutACrash) {
  const std::string directory = MakeTemporaryDirectory();
  const std::string first = directory + "first.json";
  const std::string third = directory + "third.json";
  WriteFile(first, kKeepFrameDocument);
  WriteFile(third, kKeepFrameDocument);
  const char* const paths[] = {first.c_str(), nullptr, third.c_str()};

  EXPECT_EQ(Execute(3, paths), 1);
  ASSERT_FALSE(RecordedMessages().empty());
  EXPECT_EQ(RecordedMessages().back().text, kStoppedMessage);
  for (const RecordedMessage& m : RecordedMessages()) {
    EXPECT_NE(m.text, kFinishedMessage);
  }
  EXPECT_EQ(Host().callCount(kOrdinalSaveDocument), 1) << "only the first document is saved";
  EXPECT_EQ(ReadFile(third), kKeepFrameDocument) << "the third document is untouched";
  EXPECT_EQ(Host().openHandleCount(), 0);
}

// --- how messages are shown -------------------------------------------------

TEST_F(EntryPoints, MessagesAreOkBoxesWithTheExclamationIconOwnedByTheActiveWindow) {
  // No active window: no owner.
  SetActiveWindow(nullptr);
  ASSERT_EQ(GetActiveWindow(), nullptr);
  EXPECT_EQ(Execute(0, nullptr), 1);

  HWND window = CreateHostWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(GetActiveWindow(), window);
  EXPECT_EQ(Execute(0, nullptr), 1);
  EXPECT_TRUE(IsWindowEnabled(window));
  EnableWindow(window, FALSE);
  EXPECT_EQ(Execute(0, nullptr), 1);
  EXPECT_FALSE(IsWindowEnabled(window)) << "a disabled owner is not enabled";
  DestroyWindow(window);

  ASSERT_EQ(RecordedMessages().size(), 3u);
  EXPECT_EQ(RecordedMessages()[0].owner, nullptr);
  EXPECT_EQ(RecordedMessages()[1].owner, window);
  EXPECT_TRUE(RecordedMessages()[1].ownerEnabled)
      << "a top-level owner is left to the box, which disables and enables it";
  EXPECT_EQ(RecordedMessages()[2].owner, window) << "still the active window";
  for (const RecordedMessage& m : RecordedMessages()) {
    EXPECT_EQ(m.caption, "Velumo");
    EXPECT_EQ(m.type, kMessageType);
  }
}

TEST_F(EntryPoints, AMessageOverAToolWindowDisablesTheMainWindowUntilItIsDismissed) {
  HWND main = CreateHostWindow();
  ASSERT_NE(main, nullptr);
  HWND tool = CreateToolWindow(main);
  ASSERT_NE(tool, nullptr);
  ASSERT_EQ(GetActiveWindow(), tool);

  EXPECT_EQ(Execute(0, nullptr), 1);
  EXPECT_TRUE(IsWindowEnabled(main)) << "enabled again once the box is gone";

  // A main window disabled by someone else stays so.
  EnableWindow(main, FALSE);
  SetActiveWindow(tool);
  EXPECT_EQ(Execute(0, nullptr), 1);
  EXPECT_FALSE(IsWindowEnabled(main));
  EXPECT_TRUE(IsWindowEnabled(tool));
  DestroyWindow(main);  // the tool window with it

  ASSERT_EQ(RecordedMessages().size(), 2u);
  for (const RecordedMessage& m : RecordedMessages()) {
    EXPECT_EQ(m.owner, tool);
    EXPECT_TRUE(m.ownerEnabled) << "the owner itself is left to the box";
    EXPECT_FALSE(m.rootOwnerEnabled) << "the main window is disabled while the box is open";
  }
}

// The boxes that really open: a copy of the module whose MessageBoxA is the
// system's, over a tool window, answered as a user would.
TEST_F(EntryPoints, RealBoxesAreModalOverTheToolWindowAndKeepTheMainWindowDisabled) {
  const std::string directory = MakeTemporaryDirectory();
  LoadedPlugin real;
  std::string error;
  ASSERT_TRUE(CopyModule(ProgramDirectory() + "Velumo.dll", directory + "Real boxes.dll"));
  ASSERT_TRUE(LoadPluginModule(directory + "Real boxes.dll", &real, &error)) << error;
  const std::string first = directory + "first.json";
  const std::string missing = directory + "missing.json";
  WriteFile(first, kKeepFrameDocument);
  const char* const paths[] = {first.c_str(), missing.c_str()};
  HWND main = CreateHostWindow();
  ASSERT_NE(main, nullptr);
  HWND tool = CreateToolWindow(main);
  ASSERT_NE(tool, nullptr);
  ASSERT_EQ(GetActiveWindow(), tool);

  std::vector<SeenMessageBox> seen;
  AnswerMessageBoxes(
      [](const SeenMessageBox& box, void* boxes) {
        static_cast<std::vector<SeenMessageBox>*>(boxes)->push_back(box);
      },
      &seen);
  const CommandRequest request = Request(kCommandName, 2, paths);
  EXPECT_EQ(real.ExecuteCommand(&request), 1);
  StopAnsweringMessageBoxes();

  EXPECT_EQ(StuckMessageBoxes(), 0) << "OK closed every box";
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].text, kFileNotFoundMessage);
  EXPECT_EQ(seen[1].text, kStoppedMessage);
  for (const SeenMessageBox& box : seen) {
    SCOPED_TRACE(box.text);
    EXPECT_EQ(box.caption, "Real boxes");
    EXPECT_TRUE(box.exclamationIcon);
    EXPECT_EQ(box.buttons, 1);
    EXPECT_TRUE(box.okButton);
    EXPECT_EQ(box.owner, tool);
    EXPECT_FALSE(box.ownerEnabled) << "the box disables its owner";
    EXPECT_EQ(box.rootOwner, main);
    EXPECT_FALSE(box.rootOwnerEnabled) << "and the module the main window";
  }
  EXPECT_TRUE(IsWindowEnabled(main)) << "enabled again once the boxes are gone";
  EXPECT_TRUE(IsWindowEnabled(tool));
  EXPECT_EQ(GetActiveWindow(), tool) << "the activation goes back to the owner";
  EXPECT_TRUE(std::regex_search(ReadFile(first), std::regex(R"("%BorderStyle"\s*:\s*0\b)")))
      << "the first document is masked";
  EXPECT_TRUE(RecordedMessages().empty()) << "nothing went through the recorder";
  DestroyWindow(main);
  FreeLibrary(real.module);
}

TEST_F(EntryPoints, TheCaptionFollowsTheModulesFileName) {
  // A copy in a directory whose name has a dot, under a name with two dots.
  const std::string directory = MakeTemporaryDirectory() + "plug.ins\\";
  ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
  const std::string copy = directory + "Masker v2.renamed.dll";
  ASSERT_TRUE(CopyModule(ProgramDirectory() + "Velumo.dll", copy));
  LoadedPlugin renamed;
  std::string error;
  ASSERT_TRUE(LoadPlugin(copy, &renamed, &error)) << error;
  ASSERT_NE(renamed.module, P().module) << "the copy is a module of its own";

  const CommandRequest request = Request(kCommandName, 0, nullptr);
  EXPECT_EQ(renamed.ExecuteCommand(&request), 1);
  EXPECT_EQ(P().ExecuteCommand(&request), 1);
  ASSERT_EQ(RecordedMessages().size(), 2u);
  EXPECT_EQ(RecordedMessages()[0].caption, "Masker v2.renamed");
  EXPECT_EQ(RecordedMessages()[1].caption, "Velumo") << "each copy keeps its own title";

  // The copy's icon comes from the copy.
  HICON icon = static_cast<HICON>(renamed.GetCommandIcon(kCommandName, 1));
  EXPECT_NE(icon, nullptr);
  FreeLibrary(renamed.module);
}

TEST_F(EntryPoints, TheCaptionKeepsJapaneseFileNamesWhole) {
  // "表示.dll": the second byte of "表" (0x95 0x5C) is a backslash in code
  // page 932, the test program's ANSI code page under Wine here.
  ASSERT_EQ(GetACP(), 932u) << "the Wine tests run in a Japanese locale";
  const std::string title = "\x95\x5C\x8E\xA6";
  const std::string copy = MakeTemporaryDirectory() + title + ".dll";
  ASSERT_TRUE(CopyModule(ProgramDirectory() + "Velumo.dll", copy));
  LoadedPlugin japanese;
  std::string error;
  ASSERT_TRUE(LoadPlugin(copy, &japanese, &error)) << error;
  const CommandRequest request = Request(kCommandName, 0, nullptr);
  EXPECT_EQ(japanese.ExecuteCommand(&request), 1);
  ASSERT_EQ(RecordedMessages().size(), 1u);
  EXPECT_EQ(RecordedMessages()[0].caption, title);
  FreeLibrary(japanese.module);
}

// --- the command icon -------------------------------------------------------

struct IconSize {
  LONG width = 0;
  LONG height = 0;
};

IconSize SizeOf(HICON icon) {
  IconSize size;
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) {
    return size;
  }
  BITMAP bitmap{};
  if (info.hbmColor != nullptr && GetObjectA(info.hbmColor, sizeof bitmap, &bitmap) != 0) {
    size.width = bitmap.bmWidth;
    size.height = bitmap.bmHeight;
  }
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
  return size;
}

TEST_F(EntryPoints, TheIconComesInTheSystemSizeOrSixteenPixels) {
  HICON large = static_cast<HICON>(P().GetCommandIcon(kCommandName, 1));
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(SizeOf(large).width, GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(SizeOf(large).height, GetSystemMetrics(SM_CYICON));
  HICON alsoLarge = static_cast<HICON>(P().GetCommandIcon(kCommandName, -1));
  EXPECT_NE(alsoLarge, nullptr) << "any nonzero flag asks for the large icon";
  EXPECT_EQ(SizeOf(alsoLarge).width, GetSystemMetrics(SM_CXICON));

  HICON small = static_cast<HICON>(P().GetCommandIcon(kCommandName, 0));
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(SizeOf(small).width, 16);
  EXPECT_EQ(SizeOf(small).height, 16);
  DestroyIcon(small);
}

TEST_F(EntryPoints, OtherNamesGetNoIcon) {
  const std::string name(kCommandName);
  const std::vector<std::string> others = {"", "Masking", name.substr(0, 8), name + "X"};
  for (const std::string& other : others) {
    SCOPED_TRACE(::testing::PrintToString(other));
    EXPECT_EQ(P().GetCommandIcon(other.c_str(), 1), nullptr);
    EXPECT_EQ(P().GetCommandIcon(other.c_str(), 0), nullptr);
  }
  EXPECT_EQ(P().GetCommandIcon(nullptr, 1), nullptr);
  EXPECT_EQ(P().GetCommandIcon(nullptr, 0), nullptr);
}

}  // namespace
