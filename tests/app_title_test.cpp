// The application title taken from a module path: directory and extension
// off, two-byte characters (code page 932 here) kept whole. Portable: built
// into the native suite (where the sanitizers and valgrind watch it) and into
// the Wine test program.
#include "plugin/app_title.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Lead bytes of code page 932.
bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The path and the title each live in a heap block of exactly their size, so
// that AddressSanitizer and valgrind report any read past the path's
// terminator or write past the title's last byte.
std::string Title(const char* path, std::size_t size = 64,
                  LeadByteTest isLeadByte = IsCp932LeadByte) {
  std::vector<char> exactPath;
  if (path != nullptr) {
    exactPath.assign(path, path + std::strlen(path) + 1);
  }
  std::vector<char> title(size, 'Z');
  ApplicationTitleFromPath(path != nullptr ? exactPath.data() : nullptr, isLeadByte, title.data(),
                           size);
  const auto end = std::find(title.begin(), title.end(), '\0');
  if (end == title.end()) {
    ADD_FAILURE() << "no terminator in the title's " << size << " bytes";
  }
  return std::string(title.begin(), end);
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
  EXPECT_EQ(Title("C:\\tools\\ab\x83"), "ab\x83") << "a lead byte at the very end stands alone";
  EXPECT_EQ(Title("C:\\tools\\ab\x95\x5C"
                  "c.dll",
                  64, nullptr),
            "c")
      << "without a lead-byte test every byte is a character of its own";
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
