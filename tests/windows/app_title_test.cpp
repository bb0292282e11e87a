// The application title taken from a module path: directory and extension
// off, two-byte characters (code page 932 here) kept whole.
#include "plugin/app_title.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Lead bytes of code page 932.
bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string Title(const char* path, std::size_t size = 64) {
  char title[64];
  std::memset(title, 'Z', sizeof title);
  ApplicationTitleFromPath(path, IsCp932LeadByte, title, size);
  return title;
}

TEST(AppTitle, DirectoryAndExtensionAreRemoved) {
  EXPECT_EQ(Title("C:\\Program Files\\Host\\Plugins\\Velumo.dll"), "Velumo");
  EXPECT_EQ(Title("Velumo.dll"), "Velumo");
  EXPECT_EQ(Title("C:/mixed\\separators/Velumo.DLL"), "Velumo");
  EXPECT_EQ(Title("C:\\plug.ins\\Masker v2.renamed.dll"), "Masker v2.renamed")
      << "only the last dot of the file name starts the extension";
  EXPECT_EQ(Title("C:\\plug.ins\\Velumo"), "Velumo") << "a dot in a directory is no extension";
  EXPECT_EQ(Title("C:\\dir\\"), "");
  EXPECT_EQ(Title(""), "");
  EXPECT_EQ(Title(nullptr), "");
}

TEST(AppTitle, TwoByteCharactersWithABackslashTrailByteStayWhole) {
  // "表" is 0x95 0x5C and "ソ" 0x83 0x5C in code page 932: their second byte
  // is a backslash that separates nothing.
  EXPECT_EQ(Title("C:\\\x95\x5C\\\x83\x5C\x83\x74\x83\x67.dll"), "\x83\x5C\x83\x74\x83\x67");
  EXPECT_EQ(Title("C:\\tools\\\x95\x5C.dll"), "\x95\x5C");
}

TEST(AppTitle, ALongNameIsCutAtACharacterBoundary) {
  EXPECT_EQ(Title("C:\\Velumo.dll", 4), "Vel");
  EXPECT_EQ(Title("C:\\ab\x83\x5C.dll", 4), "ab") << "no lead byte without its trail byte";
  EXPECT_EQ(Title("C:\\ab\x83\x5C.dll", 5), "ab\x83\x5C");
  EXPECT_EQ(Title("C:\\Velumo.dll", 1), "");
}

TEST(AppTitle, NoBufferMeansNothingWritten) {
  char title[4] = {'x', 'y', 'z', '\0'};
  ApplicationTitleFromPath("C:\\Velumo.dll", IsCp932LeadByte, title, 0);
  EXPECT_STREQ(title, "xyz");
  ApplicationTitleFromPath("C:\\Velumo.dll", IsCp932LeadByte, nullptr, 4);  // must not crash
}

}  // namespace
