// Tests of the document file layer: the strict reader, the writer and the
// atomic file replace.

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "hostapi/host_api.h"
#include "hostsim/document_files.h"
#include "hostsim/document_json.h"
#include "hostsim/file_access.h"
#include "tests/support/files.h"

namespace {

using hostsim::Document;
using hostsim::FileStatus;
using hostsim::ParseDocument;
using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

Document ParseOk(const std::string& text) {
  Document document;
  std::string error;
  EXPECT_TRUE(ParseDocument(text, document, error)) << error << "\n" << text;
  return document;
}

std::string ParseError(const std::string& text) {
  Document document;
  std::string error;
  EXPECT_FALSE(ParseDocument(text, document, error)) << text;
  return error;
}

TEST(DocumentParseTest, ReadsPagesAnnotationsAndHostSettings) {
  const Document document = ParseOk(R"({
    "pages": [
      {"width": 2147483647, "height": 1,
       "annotations": [{"type": 32829, "x": -2147483648, "y": 0, "width": 5, "height": 6,
                        "attributes": {"%FillStyle": 0, "%BorderStyle": -1}}]},
      {"width": 0, "height": -4, "annotations": []}
    ],
    "host": {"minAnnotationSize": 300, "refuseOffPage": true,
             "failures": [{"ordinal": 64, "call": 2, "result": "0x80004005"},
                          {"ordinal": 22, "call": 1, "result": -2147024891},
                          {"ordinal": 56, "call": 3, "result": "0X8007000e"}]}
  })");
  ASSERT_EQ(document.pages.size(), 2u);
  const hostsim::Page& first = document.pages[0];
  EXPECT_EQ(first.width, std::numeric_limits<std::int32_t>::max());
  ASSERT_EQ(first.annotations.size(), 1u);
  const hostsim::Annotation& annotation = first.annotations[0];
  EXPECT_EQ(annotation.type, 0x803D);
  EXPECT_EQ(annotation.x, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(annotation.height, 6);
  using Attributes = std::vector<std::pair<std::string, std::int32_t>>;
  EXPECT_EQ(annotation.attributes, (Attributes{{"%FillStyle", 0}, {"%BorderStyle", -1}}))
      << "file order";
  EXPECT_EQ(annotation.Attribute("%BorderStyle"), -1);
  EXPECT_FALSE(annotation.Attribute("%Missing").has_value());
  EXPECT_EQ(document.pages[1].height, -4);

  EXPECT_EQ(document.host.minAnnotationSize, 300);
  EXPECT_TRUE(document.host.refuseOffPage);
  ASSERT_EQ(document.host.failures.size(), 3u);
  EXPECT_EQ(document.host.failures[0].ordinal, kOrdinalAddAnnotation);
  EXPECT_EQ(document.host.failures[0].call, 2);
  EXPECT_EQ(document.host.failures[0].result, static_cast<std::int32_t>(0x80004005u));
  EXPECT_EQ(document.host.failures[1].result, static_cast<std::int32_t>(0x80070005u));
  EXPECT_EQ(document.host.failures[2].result, static_cast<std::int32_t>(0x8007000Eu));
}

TEST(DocumentParseTest, OptionalPartsDefaultToEmpty) {
  const Document document = ParseOk(R"({"pages": [{"width": 1, "height": 2,
      "annotations": [{"type": 1, "x": 0, "y": 0, "width": 1, "height": 1}]}]})");
  EXPECT_TRUE(document.pages[0].annotations[0].attributes.empty());
  EXPECT_EQ(document.host.minAnnotationSize, 0);
  EXPECT_FALSE(document.host.refuseOffPage);
  EXPECT_TRUE(document.host.failures.empty());
  EXPECT_TRUE(ParseOk(R"({"pages": [], "host": {}})").pages.empty());
  ParseOk("\xEF\xBB\xBF{\"pages\": []}");  // a byte order mark is fine
}

TEST(DocumentParseTest, NestingIsLimitedTo64Levels) {
  const auto nested = [](int arrays) {
    return R"({"pages": [], "deep": )" + std::string(static_cast<std::size_t>(arrays), '[') +
           std::string(static_cast<std::size_t>(arrays), ']') + "}";
  };
  ParseOk(nested(hostsim::kMaxNestingDepth - 1));  // with the top-level object: 64
  EXPECT_NE(ParseError(nested(hostsim::kMaxNestingDepth)).find("nested"), std::string::npos);
  EXPECT_NE(ParseError(nested(1000000)).find("nested"), std::string::npos);
}

TEST(DocumentParseTest, BracketsCommasAndQuotesInsideStringsAreText) {
  // 100 brackets and 2000 commas, all inside strings (one behind an escaped quote).
  const std::string text = R"({"pages": [], "s": ")" + std::string(100, '[') + R"(\"[{", "t": ")" +
                           std::string(2000, ',') + R"("})";
  ParseOk(text);
}

TEST(DocumentParseTest, ObjectsHoldAtMost1024Members) {
  const auto object = [](std::size_t members) {
    std::string text = R"({"pages": [], "wide": {)";
    for (std::size_t i = 0; i < members; ++i) {
      text += (i > 0 ? ",\"" : "\"") + std::to_string(i) + "\": 0";
    }
    return text + "}}";
  };
  ParseOk(object(hostsim::kMaxObjectMembers));
  EXPECT_EQ(ParseError(object(hostsim::kMaxObjectMembers + 1)),
            "has an object with more than 1024 members");
  // Arrays have no such limit: a document may have very many pages.
  std::string pages = R"({"pages": [)";
  for (int i = 0; i < 5000; ++i)
    pages += std::string(i > 0 ? "," : "") + R"({"width": 1, "height": 1})";
  EXPECT_EQ(ParseOk(pages + "]}").pages.size(), 5000u);
}

TEST(DocumentParseTest, SizeIsLimited) {
  std::string text = R"({"pages": []})";
  text.resize(hostsim::kMaxDocumentSize, ' ');
  ParseOk(text);
  text.push_back(' ');
  EXPECT_EQ(ParseError(text), "larger than 33554432 bytes");

  // The file is not read beyond the limit.
  TempDir dir;
  WriteFile(dir.File("big.json"), text);
  Document document;
  std::string error;
  hostsim::FileVersion version;
  EXPECT_EQ(hostsim::ReadDocumentFile(dir.File("big.json"), document, version, error),
            FileStatus::kInvalid);
  EXPECT_EQ(error, "larger than 33554432 bytes");
}

TEST(DocumentParseTest, ErrorsNameTheFaultyValue) {
  EXPECT_EQ(ParseError(R"({"pages": [{"width": 1, "height": 1, "annotations": [
      {"type": 1, "x": 0, "y": 0, "width": 1, "height": 1},
      {"type": 1, "x": 0, "y": 0, "width": 1, "height": 2147483648}]}]})"),
            "pages[0].annotations[1].height is not a signed 32-bit integer");
  EXPECT_EQ(ParseError(R"({"pages": [{"width": 1}]})"), "pages[0] has no \"height\"");
  EXPECT_EQ(ParseError(R"({"pages": [], "host": {"failures": [{"ordinal": 99, "call": 1,
      "result": -1}]}})"),
            "host.failures[0].ordinal is not an ordinal of the host API");
  // Bytes are counted from 1.
  EXPECT_EQ(ParseError("{\"pages\": [], \"x\": \"\xC0\xAF\"}"), "not valid UTF-8 at byte 21");
  EXPECT_EQ(ParseError("{\"pages\": [], \"x\": \"\xE2\x82\"}"), "not valid UTF-8 at byte 23");
  EXPECT_EQ(ParseError(R"({"pages": [] "x": 1})"), "not valid JSON at byte 14");
  EXPECT_EQ(ParseError(R"({"pages": [{"width": 01, "height": 1}]})"), "not valid JSON at byte 23");
  EXPECT_EQ(ParseError(R"({"pages": [], "x": "\ud800"})"), "not valid JSON at byte 27")
      << "a lone surrogate";
  EXPECT_EQ(ParseError(R"({"pages": [)"), "not valid JSON: the text ends before the document does");
}

TEST(DocumentSerializeTest, RoundTripKeepsEverythingItDoesNotManage) {
  const std::string text = R"({
    "version": 3,
    "pages": [{"width": 10, "height": 20, "rotation": 90, "ink": {"a": [1, "b", null]},
               "annotations": [{"type": 5, "x": 1, "y": 2, "width": 3, "height": 4,
                                "attributes": {"z": 1, "a": 2}, "text": "日本語"}]}],
    "host": {"refuseOffPage": true, "note": "kept", "failures": []},
    "trailer": [true, 1.5]
  })";
  Document document = ParseOk(text);
  document.pages[0].annotations[0].SetAttribute("a", 7);
  document.pages[0].annotations[0].SetAttribute("new", 8);
  const std::string saved = hostsim::SerializeDocument(document);
  ASSERT_EQ(saved.back(), '\n');

  auto expected = nlohmann::json::parse(text);
  expected["pages"][0]["annotations"][0]["attributes"] = {{"z", 1}, {"a", 7}, {"new", 8}};
  EXPECT_EQ(nlohmann::json::parse(saved), expected);
  // Attributes keep their order; new ones come last.
  EXPECT_LT(saved.find("\"z\""), saved.find("\"a\""));
  EXPECT_LT(saved.find("\"a\""), saved.find("\"new\""));

  const Document again = ParseOk(saved);
  EXPECT_EQ(hostsim::SerializeDocument(again), saved) << "stable on a second round";
}

TEST(DocumentFileTest, ReadReportsWhyItFailed) {
  TempDir dir;
  Document document;
  hostsim::FileVersion version;
  std::string error;
  EXPECT_EQ(hostsim::ReadDocumentFile(dir.File("none.json"), document, version, error),
            FileStatus::kNotFound);
  EXPECT_EQ(hostsim::ReadDocumentFile(dir.path(), document, version, error),
            FileStatus::kAccessDenied);
  WriteFile(dir.File("bad.json"), "{\"pages\": 1}");
  EXPECT_EQ(hostsim::ReadDocumentFile(dir.File("bad.json"), document, version, error),
            FileStatus::kInvalid);
  EXPECT_EQ(error, "not a valid document: pages is not an array");
  WriteFile(dir.File("good.json"), "{\"pages\": [{\"width\": 3, \"height\": 4}]}");
  ASSERT_EQ(hostsim::ReadDocumentFile(dir.File("good.json"), document, version, error),
            FileStatus::kOk);
  EXPECT_EQ(document.pages.at(0).height, 4);
}

TEST(DocumentFileTest, ReplaceableCheckTreatsFilesWithoutWriteBitsAsReadOnly) {
  TempDir dir;
  const std::string path = dir.File("doc.json");
  WriteFile(path, "{}");
  std::string reason;
  EXPECT_EQ(hostsim::CheckReplaceable(path, reason), FileStatus::kOk);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(hostsim::CheckReplaceable(path, reason), FileStatus::kAccessDenied);
  EXPECT_EQ(reason, "is read-only");
  EXPECT_EQ(hostsim::CheckReplaceable(dir.path(), reason), FileStatus::kAccessDenied);
  EXPECT_EQ(hostsim::CheckReplaceable(dir.File("none"), reason), FileStatus::kNotFound);
}

TEST(DocumentFileTest, AtomicWriteReplacesTheWholeFileAndKeepsItsMode) {
  TempDir dir;
  const std::string path = dir.File("doc.json");
  WriteFile(path, std::string(100000, 'x'));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  std::string error;
  const std::string content(200000, 'y');
  ASSERT_EQ(hostsim::ReplaceFileContent(path, content, {}, error), FileStatus::kOk) << error;
  EXPECT_EQ(ReadFile(path), content);
  ASSERT_EQ(hostsim::ReplaceFileContent(path, "short", {}, error), FileStatus::kOk) << error;
  EXPECT_EQ(ReadFile(path), "short") << "nothing of the longer content is left";
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"doc.json"});

  EXPECT_EQ(hostsim::ReplaceFileContent(dir.File("none/doc.json"), "x", {}, error),
            FileStatus::kNotFound);
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_EQ(dir.List(), std::vector<std::string>{"doc.json"});
}

}  // namespace

namespace {

// The reader takes only what the writer gives back unchanged; each of these
// would have been read as something else.
TEST(DocumentParseTest, RefusesWhatItCannotKeepExactly) {
  const struct {
    const char* name;
    std::string text;
    const char* error;
  } cases[] = {
      {"NUL after the document", std::string("{\"pages\":[]}\0{\"pages\":[]}", 25), "NUL byte"},
      {"NUL inside", std::string("{\"pages\":[],\"x\":\"a\0b\"}", 22), "NUL byte"},
      {"text after the document", R"({"pages":[]} {"pages":[]})", "not valid JSON"},
      {"pages twice", R"({"pages":[{"width":1,"height":1}],"pages":[]})",
       "document has the member \"pages\" twice"},
      {"host twice", R"({"pages":[],"host":{},"host":{"refuseOffPage":true}})", "\"host\" twice"},
      {"carried member twice", R"({"pages":[],"meta":1,"meta":2})", "\"meta\" twice"},
      {"page member twice", R"({"pages":[{"width":1,"height":1,"width":2}]})",
       "pages[0] has the member \"width\" twice"},
      {"annotations twice",
       R"({"pages":[{"width":1,"height":1,"annotations":[],"annotations":[]}]})", "twice"},
      {"attribute twice",
       R"({"pages":[{"width":1,"height":1,"annotations":[{"type":1,"x":0,"y":0,"width":1,"height":1,"attributes":{"a":1,"a":2}}]}]})",
       "pages[0].annotations[0].attributes has the member \"a\" twice"},
      {"inside a carried value", R"({"pages":[],"meta":{"k":[{"z":1,"z":1}]}})", "\"z\" twice"},
      {"page without room for its annotations",
       [] {
         std::string page = R"({"width":1,"height":1)";
         for (std::size_t i = 2; i < hostsim::kMaxObjectMembers; ++i) {
           page += ",\"m" + std::to_string(i) + "\":0";
         }
         return R"({"pages":[)" + page + "}]}";
       }(),
       "more than 1024 members"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(ParseError(c.text).find(c.error), std::string::npos) << ParseError(c.text);
  }
  // With one member fewer the page fits, and writes back readable.
  std::string page = R"({"width":1,"height":1)";
  for (std::size_t i = 3; i < hostsim::kMaxObjectMembers; ++i) {
    page += ",\"m" + std::to_string(i) + "\":0";
  }
  const Document fits = ParseOk(R"({"pages":[)" + page + "}]}");
  ParseOk(hostsim::SerializeDocument(fits));
}

// The reader is JSON's grammar and UTF-8's, no more and no less: each of
// these is refused as what it is, in a carried value where nothing else
// would stop it; the escapes and characters that are allowed decode.
TEST(DocumentParseTest, KeepsToJsonAndUtf8) {
  const auto carried = [](const std::string& value) { return R"({"pages":[],"x":)" + value + "}"; };
  const char* const notJson[] = {
      // numbers, words and brackets
      "01", "-", "+1", ".5", "1.", "1e", "1e+", "0x10", "NaN", "Infinity", "tru", "nul", "'a'",
      "[1,]", "[1 2]", "{\"a\":1,}",
      // strings: unterminated, unknown escape, short or lone surrogate, raw control character
      "\"a", "\"\\x\"", "\"\\u12\"", "\"\\ud800\"", "\"\\udc00\"", "\"\\ud800\\u0041\"", "\"\t\"",
      "\"\x1f\""};
  for (const char* value : notJson) {
    SCOPED_TRACE(value);
    EXPECT_EQ(ParseError(carried(value)).rfind("not valid JSON", 0), 0u)
        << ParseError(carried(value));
  }
  // Overlong forms, encoded surrogates, beyond U+10FFFF, stray or missing
  // continuation bytes.
  for (const char* bytes : {"\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xF8\x88\x80\x80\x80", "\x80", "\xE2\x82x"}) {
    EXPECT_EQ(ParseError(carried("\"" + std::string(bytes) + "\"")).rfind("not valid UTF-8", 0), 0u)
        << bytes;
  }
  const Document document =
      ParseOk(carried(R"("\ud83d\ude00\u00e9\u0000\/\b\f\u007f\u4e2d\ud7ff\ue000")"));
  EXPECT_EQ(document.extra,
            "\"x\":\"\xF0\x9F\x98\x80\xC3\xA9\\u0000/"
            "\\u0008\\u000c\x7F\xE4\xB8\xAD\xED\x9F\xBF\xEE\x80\x80\"");
  ParseOk(carried("\"\xF4\x8F\xBF\xBF \xDF\xBF \xEF\xBF\xBF\""));  // the largest of each length
  ParseOk(" \t\r\n" + carried("[-0.0e-0, 0, -1E+2, true, false, null]") + " \n");
}

// Carried members come back as they were read, numbers spelled as they were.
TEST(DocumentSerializeTest, CarriedValuesComeBackExactly) {
  // Numbers beyond 64 bits and beyond what a double holds are numbers too.
  const std::string carried =
      R"("big":-9223372036854775809,"huge":18446744073709551616,"zero":-0,"exp":1E5,)"
      R"("scale":1e400,"tiny":-1.5e-400,"far":1E+999999999999,)"
      R"("frac":1.50000000000000000001,"s":"\u00e9\n\"\\\u0001","nested":{"a":[1,[],{}],"b":null},"t":true)";
  const std::string text =
      R"({"pages":[{"width":1,"height":2,"annotations":[],)" + carried + R"(}],)" + carried + "}";
  const Document document = ParseOk(text);
  EXPECT_EQ(
      document.pages[0].extra,
      R"("big":-9223372036854775809,"huge":18446744073709551616,"zero":-0,"exp":1E5,)"
      R"("scale":1e400,"tiny":-1.5e-400,"far":1E+999999999999,)"
      R"("frac":1.50000000000000000001,"s":"é\n\"\\\u0001","nested":{"a":[1,[],{}],"b":null},"t":true)");
  const std::string saved = hostsim::SerializeDocument(document);
  EXPECT_EQ(saved, R"({"pages":[{"width":1,"height":2,"annotations":[],)" +
                       document.pages[0].extra + "}]," + document.extra + "}\n");
  EXPECT_EQ(hostsim::SerializeDocument(ParseOk(saved)), saved) << "stable on a second round";
}

// The writer hands the text on page by page, compact, and stops at the
// reader's size limit.
TEST(DocumentSerializeTest, WritesCompactPiecesWithinTheSizeLimit) {
  Document document;
  hostsim::Page page;
  page.width = 21000;
  page.height = 29700;
  hostsim::Annotation annotation;
  annotation.type = 0x803D;
  annotation.SetAttribute("%BorderStyle", 0);
  page.annotations.assign(100, annotation);
  document.pages.assign(200, page);
  std::vector<std::size_t> pieces;
  std::string text;
  std::string error;
  ASSERT_TRUE(hostsim::WriteDocument(
      document,
      [&](std::string_view piece) {
        pieces.push_back(piece.size());
        text += piece;
        return true;
      },
      error))
      << error;
  EXPECT_GT(pieces.size(), 10u);
  EXPECT_LT(*std::max_element(pieces.begin(), pieces.end()), std::size_t{200} << 10);
  EXPECT_EQ(text, hostsim::SerializeDocument(document));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "compact: one line";
  EXPECT_EQ(text.find(' '), std::string::npos);

  document.extra = "\"pad\":\"" + std::string(hostsim::kMaxDocumentSize, 'p') + "\"";
  std::size_t handedOn = 0;
  EXPECT_FALSE(hostsim::WriteDocument(
      document,
      [&](std::string_view piece) {
        handedOn += piece.size();
        return true;
      },
      error));
  EXPECT_LE(handedOn, hostsim::kMaxDocumentSize);
  EXPECT_NE(error.find("larger than 33554432 bytes"), std::string::npos) << error;
}

}  // namespace
