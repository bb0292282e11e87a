// Tests of the stand-in host through the host API functions, the way the
// masking pass calls them.

#include "hostsim/hostsim.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "hostapi/host_api.h"
#include "hostsim/cp932.h"
#include "tests/support/files.h"

namespace {

using nlohmann::json;
using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

constexpr std::int32_t kSentinel = 0x5A5A5A5A;

// Two pages; page 1 holds a keep-frame, an annotation of another type and a
// rectangle with both styles 1, page 2 nothing. Members the stand-in does not
// manage sit at every level.
json BaseDocument() {
  return json::parse(R"({
    "meta": {"author": "tester", "tags": [1, 2]},
    "pages": [
      {"width": 21000, "height": 29700, "label": "first",
       "annotations": [
         {"type": 32829, "x": 1000, "y": 2000, "width": 5000, "height": 3000,
          "attributes": {"%BorderStyle": 1, "%FillStyle": 0}, "note": "keep"},
         {"type": 32769, "x": 10, "y": 20, "width": 100, "height": 200},
         {"type": 32829, "x": -50, "y": 29000, "width": 400, "height": 900,
          "attributes": {"%BorderStyle": 1, "%FillStyle": 1}}
       ]},
      {"width": 29700, "height": 21000}
    ],
    "host": {"comment": "kept"}
  })");
}

class HostSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::SetRecording(true);
    hostsim::Reset();
  }
  void TearDown() override { hostsim::Reset(); }

  std::string Write(const json& document, const std::string& name = "doc.json") {
    const std::string path = dir_.File(name);
    WriteFile(path, document.dump(2));
    return path;
  }

  static HostResult Open(const std::string& path, HostDocument& document) {
    HostOpenMode mode{12, 1, 1};
    return HostOpenDocument(path.c_str(), &document, &mode);
  }

  static HostDocument OpenOk(const std::string& path) {
    HostDocument document = 0;
    EXPECT_EQ(Open(path, document), kHostOk) << path;
    return document;
  }

  static HostAnnotationInfo Info(HostDocument document, std::int32_t page, std::int32_t index,
                                 HostResult* result = nullptr) {
    HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, 0};
    const HostResult r = HostGetAnnotationInformation(document, page, 0, index, &info, nullptr);
    if (result != nullptr) *result = r;
    return info;
  }

  static std::int32_t AnnotationCount(HostDocument document, std::int32_t page) {
    HostPageInfo info{32, 0, 0, {0, 0, 0, 0}, -1};
    EXPECT_EQ(HostGetPageInformation(document, page, &info), kHostOk);
    return info.annotationCount;
  }

  static HostResult Read(HostAnnotation annotation, const char* name, std::int32_t& value) {
    return HostGetAnnotationAttribute(annotation, name, &value, 4, nullptr);
  }

  static HostResult Set(HostDocument document, HostAnnotation annotation, const char* name,
                        std::int32_t value) {
    return HostSetAnnotationAttribute(document, annotation, name, 0, &value, 0, nullptr);
  }

  static HostResult Add(HostDocument document, std::int32_t page, std::int32_t x, std::int32_t y,
                        std::int32_t width, std::int32_t height, HostAnnotation& created) {
    HostRectShape shape{24, kRectangleAnnotation, 0, 0, width, height};
    return HostAddAnnotation(document, kRectangleAnnotation, page, x, y, &shape, &created, nullptr);
  }

  TempDir dir_;
};

// --- Opening ---------------------------------------------------------------

TEST_F(HostSimTest, OpenReportsMissingUnreadableAndReadOnlyFiles) {
  HostDocument document = 77;
  EXPECT_EQ(Open(dir_.File("absent.json"), document), kHostFileNotFound);
  EXPECT_EQ(Open(dir_.File("no-folder/doc.json"), document), kHostFileNotFound);
  EXPECT_EQ(Open(dir_.path(), document), kHostAccessDenied);  // a folder

  const std::string readOnly = Write(BaseDocument(), "ro.json");
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  EXPECT_EQ(Open(readOnly, document), kHostAccessDenied);

  EXPECT_EQ(document, 77u) << "a failed open stores no handle";
  EXPECT_EQ(hostsim::OpenHandleCount(), 0);
}

TEST_F(HostSimTest, OpenRejectsNullArguments) {
  const std::string path = Write(BaseDocument());
  HostDocument document = 0;
  HostOpenMode mode{12, 1, 1};
  EXPECT_EQ(HostOpenDocument(nullptr, &document, &mode), kHostInvalidArgument);
  EXPECT_EQ(HostOpenDocument(path.c_str(), nullptr, &mode), kHostInvalidArgument);
  EXPECT_EQ(HostOpenDocument(path.c_str(), &document, nullptr), kHostInvalidArgument);
  EXPECT_EQ(hostsim::OpenHandleCount(), 0);
}

// Anything that is not a valid document gives the bad-format code, never a
// crash.
struct BadDocument {
  const char* name;
  std::string text;
};

void PrintTo(const BadDocument& bad, std::ostream* out) { *out << bad.name; }

class InvalidDocumentTest : public HostSimTest,
                            public ::testing::WithParamInterface<BadDocument> {};

TEST_P(InvalidDocumentTest, OpenGivesBadFormat) {
  const std::string path = dir_.File("bad.json");
  WriteFile(path, GetParam().text);
  HostDocument document = 0;
  EXPECT_EQ(Open(path, document), kHostBadFormat);
  EXPECT_EQ(document, 0u);
  EXPECT_EQ(hostsim::OpenHandleCount(), 0);
}

std::string Nested(int depth) {
  return R"({"pages": [], "deep": )" + std::string(static_cast<std::size_t>(depth), '[') +
         std::string(static_cast<std::size_t>(depth), ']') + "}";
}

std::string WithPage(const std::string& page) { return R"({"pages": [)" + page + "]}"; }

std::string WithAnnotation(const std::string& annotation) {
  return WithPage(R"({"width": 100, "height": 100, "annotations": [)" + annotation + "]}");
}

std::string WithAttributes(const std::string& attributes) {
  return WithAnnotation(R"({"type": 1, "x": 1, "y": 1, "width": 1, "height": 1, "attributes": )" +
                        attributes + "}");
}

std::string WithHost(const std::string& host) { return R"({"pages": [], "host": )" + host + "}"; }

std::string WithFailure(const std::string& failure) {
  return WithHost(R"({"failures": [)" + failure + "]}");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, InvalidDocumentTest,
    ::testing::Values(
        // Not JSON, or not UTF-8.
        BadDocument{"Empty", ""}, BadDocument{"Text", "not json"},
        BadDocument{"TrailingText", R"({"pages": []} trailing)"},
        BadDocument{"InvalidUtf8", "{\"pages\": [], \"x\": \"\xFF\xFE\"}"},
        BadDocument{"TruncatedUtf8", "{\"pages\": [], \"x\": \"\xC3\"}"},
        BadDocument{"VeryDeep", Nested(100000)}, BadDocument{"JustTooDeep", Nested(64)},
        // Wrong shapes.
        BadDocument{"TopLevelArray", "[]"}, BadDocument{"NoPages", "{}"},
        BadDocument{"PagesObject", R"({"pages": {}})"},
        BadDocument{"PageNumber", R"({"pages": [7]})"},
        BadDocument{"PageWithoutWidth", WithPage(R"({"height": 10})")},
        BadDocument{"WidthString", WithPage(R"({"width": "10", "height": 10})")},
        BadDocument{"AnnotationsNull",
                    WithPage(R"({"width": 10, "height": 10, "annotations": null})")},
        BadDocument{"AnnotationNumber",
                    WithPage(R"({"width": 10, "height": 10, "annotations": [1]})")},
        BadDocument{"AnnotationWithoutType",
                    WithAnnotation(R"({"x": 1, "y": 1, "width": 1, "height": 1})")},
        BadDocument{"AttributesArray", WithAttributes("[]")},
        BadDocument{"AttributeString", WithAttributes(R"({"a": "1"})")},
        // Numbers that are not signed 32-bit integers.
        BadDocument{"Fraction", WithPage(R"({"width": 1.5, "height": 10})")},
        BadDocument{"WholeFloat", WithPage(R"({"width": 10.0, "height": 10})")},
        BadDocument{"AboveInt32", WithPage(R"({"width": 2147483648, "height": 10})")},
        BadDocument{"BelowInt32", WithPage(R"({"width": -2147483649, "height": 10})")},
        BadDocument{"AboveInt64", WithPage(R"({"width": 99999999999999999999999, "height": 10})")},
        BadDocument{"Overflow", WithPage(R"({"width": 1e400, "height": 10})")},
        // Bad host settings.
        BadDocument{"HostArray", WithHost("[]")},
        BadDocument{"RefuseOffPageNumber", WithHost(R"({"refuseOffPage": 1})")},
        BadDocument{"FailureNumber", WithFailure("1")},
        BadDocument{"UnknownOrdinal", WithFailure(R"({"ordinal": 21, "call": 1, "result": -1})")},
        BadDocument{"CallZero", WithFailure(R"({"ordinal": 64, "call": 0, "result": -1})")},
        BadDocument{"NoResult", WithFailure(R"({"ordinal": 64, "call": 1})")},
        BadDocument{"ResultPositive", WithFailure(R"({"ordinal": 64, "call": 1, "result": 5})")},
        BadDocument{"ResultHexPositive",
                    WithFailure(R"({"ordinal": 64, "call": 1, "result": "0x7FFFFFFF"})")},
        BadDocument{"ResultHexBadDigit",
                    WithFailure(R"({"ordinal": 64, "call": 1, "result": "0x8000000G"})")}),
    [](const ::testing::TestParamInfo<BadDocument>& param) {
      return std::string(param.param.name);
    });

// --- Information records ---------------------------------------------------

TEST_F(HostSimTest, InformationRecordsDescribeTheDocument) {
  const HostDocument document = OpenOk(Write(BaseDocument()));

  HostDocumentInfo documentInfo{40, 0, {kSentinel, 0, 0, 0, 0, 0, 0, kSentinel}};
  ASSERT_EQ(HostGetDocumentInformation(document, &documentInfo), kHostOk);
  EXPECT_EQ(documentInfo.pageCount, 2);
  EXPECT_EQ(documentInfo.reserved[0], kSentinel) << "only the page count is written";

  HostPageInfo page{32, 0, 0, {kSentinel, 0, 0, 0}, 0};
  ASSERT_EQ(HostGetPageInformation(document, 1, &page), kHostOk);
  EXPECT_EQ(page.width, 21000);
  EXPECT_EQ(page.height, 29700);
  EXPECT_EQ(page.annotationCount, 3);
  EXPECT_EQ(page.reserved[0], kSentinel);
  ASSERT_EQ(HostGetPageInformation(document, 2, &page), kHostOk);
  EXPECT_EQ(page.width, 29700);
  EXPECT_EQ(page.height, 21000);
  EXPECT_EQ(page.annotationCount, 0) << "a page without \"annotations\" has none";

  HostResult result = 0;
  const HostAnnotationInfo first = Info(document, 1, 1, &result);
  ASSERT_EQ(result, kHostOk);
  EXPECT_NE(first.handle, 0u);
  EXPECT_EQ(first.x, 1000);
  EXPECT_EQ(first.y, 2000);
  EXPECT_EQ(first.width, 5000);
  EXPECT_EQ(first.height, 3000);
  EXPECT_EQ(first.type, kRectangleAnnotation);
  const HostAnnotationInfo third = Info(document, 1, 3, &result);
  ASSERT_EQ(result, kHostOk);
  EXPECT_EQ(third.x, -50);
  EXPECT_EQ(third.height, 900);
  EXPECT_EQ(Info(document, 1, 1).handle, first.handle) << "handles are stable";
}

TEST_F(HostSimTest, PagesAndIndexesOutOfRangeFail) {
  const HostDocument document = OpenOk(Write(BaseDocument()));
  HostPageInfo page{32, 0, 0, {0, 0, 0, 0}, 0};
  for (const std::int32_t number : {0, -1, 3, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(HostGetPageInformation(document, number, &page), kHostInvalidArgument) << number;
  }
  EXPECT_EQ(HostGetPageInformation(document, 1, nullptr), kHostInvalidArgument);

  HostResult result = 0;
  for (const std::int32_t index : {0, -1, 4}) {
    Info(document, 1, index, &result);
    EXPECT_EQ(result, kHostInvalidArgument) << index;
  }
  Info(document, 2, 1, &result);
  EXPECT_EQ(result, kHostInvalidArgument) << "page 2 has no annotations";
  Info(document, 3, 1, &result);
  EXPECT_EQ(result, kHostInvalidArgument);

  HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, 0};
  const HostAnnotation parent = Info(document, 1, 1).handle;
  EXPECT_EQ(HostGetAnnotationInformation(document, 1, parent, 1, &info, nullptr),
            kHostInvalidArgument)
      << "annotations have no children";
  EXPECT_EQ(HostGetAnnotationInformation(document, 1, 0, 1, nullptr, nullptr),
            kHostInvalidArgument);
}

TEST_F(HostSimTest, UnknownHandlesFail) {
  const HostDocument document = OpenOk(Write(BaseDocument()));
  const HostAnnotation annotation = Info(document, 1, 1).handle;
  const HostDocument unknown = document + annotation + 1000;

  HostDocumentInfo documentInfo{40, 0, {}};
  HostPageInfo page{32, 0, 0, {0, 0, 0, 0}, 0};
  HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, 0};
  HostAnnotation created = 0;
  std::int32_t value = 0;
  for (const HostDocument bad : {HostDocument{0}, unknown, annotation}) {
    EXPECT_EQ(HostGetDocumentInformation(bad, &documentInfo), kHostInvalidArgument);
    EXPECT_EQ(HostGetPageInformation(bad, 1, &page), kHostInvalidArgument);
    EXPECT_EQ(HostGetAnnotationInformation(bad, 1, 0, 1, &info, nullptr), kHostInvalidArgument);
    EXPECT_EQ(Add(bad, 1, 0, 0, 10, 10, created), kHostInvalidArgument);
    EXPECT_EQ(HostRemoveAnnotation(bad, annotation, nullptr), kHostInvalidArgument);
    EXPECT_EQ(Set(bad, annotation, "%BorderStyle", 0), kHostInvalidArgument);
    EXPECT_EQ(HostSaveDocument(bad, nullptr), kHostInvalidArgument);
    EXPECT_EQ(HostCloseDocument(bad, nullptr), kHostInvalidArgument);
  }
  for (const HostAnnotation bad : {HostAnnotation{0}, unknown, document}) {
    EXPECT_EQ(Read(bad, "%BorderStyle", value), kHostInvalidArgument);
    EXPECT_EQ(HostRemoveAnnotation(document, bad, nullptr), kHostInvalidArgument);
    EXPECT_EQ(Set(document, bad, "%BorderStyle", 0), kHostInvalidArgument);
  }
  EXPECT_EQ(documentInfo.pageCount, 0);
  EXPECT_EQ(created, 0u);
  EXPECT_EQ(AnnotationCount(document, 1), 3);
}

// --- Changing annotations -------------------------------------------------

TEST_F(HostSimTest, RemoveMovesLaterAnnotationsDown) {
  const HostDocument document = OpenOk(Write(BaseDocument()));
  const HostAnnotation first = Info(document, 1, 1).handle;
  const HostAnnotation second = Info(document, 1, 2).handle;
  const HostAnnotation third = Info(document, 1, 3).handle;

  ASSERT_EQ(HostRemoveAnnotation(document, first, nullptr), kHostOk);
  EXPECT_EQ(AnnotationCount(document, 1), 2);
  EXPECT_EQ(Info(document, 1, 1).handle, second);
  EXPECT_EQ(Info(document, 1, 2).handle, third);
  HostResult result = 0;
  Info(document, 1, 3, &result);
  EXPECT_EQ(result, kHostInvalidArgument);

  std::int32_t value = 0;
  EXPECT_EQ(Read(first, "%BorderStyle", value), kHostInvalidArgument) << "removed handle";
  EXPECT_EQ(HostRemoveAnnotation(document, first, nullptr), kHostInvalidArgument);
  EXPECT_EQ(Read(third, "%FillStyle", value), kHostOk);
  EXPECT_EQ(value, 1);
}

TEST_F(HostSimTest, AnnotationsBelongToTheirDocument) {
  const std::string path = Write(BaseDocument());
  const HostDocument a = OpenOk(path);
  const HostDocument b = OpenOk(path);
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b) << "each opening gets its own handle";
  EXPECT_EQ(HostSimOpenHandleCount(), 2);
  const HostAnnotation inA = Info(a, 1, 1).handle;
  const HostAnnotation inB = Info(b, 1, 1).handle;
  EXPECT_NE(inA, inB) << "annotation handles are unique across documents";
  EXPECT_NE(inA, a);
  EXPECT_NE(inA, b);

  EXPECT_EQ(HostRemoveAnnotation(b, inA, nullptr), kHostInvalidArgument);
  EXPECT_EQ(Set(b, inA, "%FillStyle", 5), kHostInvalidArgument);
  ASSERT_EQ(Set(a, inA, "%FillStyle", 5), kHostOk);
  std::int32_t value = 0;
  ASSERT_EQ(Read(inB, "%FillStyle", value), kHostOk);
  EXPECT_EQ(value, 0) << "the other opening keeps its own copy";
  ASSERT_EQ(Read(inA, "%FillStyle", value), kHostOk);
  EXPECT_EQ(value, 5);
}

TEST_F(HostSimTest, AttributesAreReadAndWritten) {
  const HostDocument document = OpenOk(Write(BaseDocument()));
  const HostAnnotation frame = Info(document, 1, 1).handle;
  const HostAnnotation plain = Info(document, 1, 2).handle;

  std::int32_t value = kSentinel;
  ASSERT_EQ(Read(frame, "%BorderStyle", value), kHostOk);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(Read(frame, "%FillStyle", value), kHostOk);
  EXPECT_EQ(value, 0);

  value = kSentinel;
  EXPECT_EQ(Read(plain, "%BorderStyle", value), kHostInvalidArgument) << "absent attribute";
  EXPECT_EQ(Read(frame, "%borderstyle", value), kHostInvalidArgument) << "names are exact";
  EXPECT_EQ(value, kSentinel);
  EXPECT_EQ(HostGetAnnotationAttribute(frame, "%BorderStyle", &value, 3, nullptr),
            kHostInvalidArgument)
      << "buffer too small";
  EXPECT_EQ(value, kSentinel);
  EXPECT_EQ(HostGetAnnotationAttribute(frame, nullptr, &value, 4, nullptr), kHostInvalidArgument);
  EXPECT_EQ(HostGetAnnotationAttribute(frame, "%BorderStyle", nullptr, 4, nullptr),
            kHostInvalidArgument);

  ASSERT_EQ(Set(document, frame, "%BorderStyle", 0), kHostOk);
  ASSERT_EQ(Set(document, plain, "%BorderStyle", -7), kHostOk) << "absent attributes are added";
  ASSERT_EQ(Read(frame, "%BorderStyle", value), kHostOk);
  EXPECT_EQ(value, 0);
  ASSERT_EQ(Read(plain, "%BorderStyle", value), kHostOk);
  EXPECT_EQ(value, -7);

  const std::int32_t one = 1;
  EXPECT_EQ(HostSetAnnotationAttribute(document, frame, "%FillStyle", 1, &one, 0, nullptr),
            kHostInvalidArgument)
      << "only integer values";
  EXPECT_EQ(HostSetAnnotationAttribute(document, frame, "%FillStyle", 0, nullptr, 0, nullptr),
            kHostInvalidArgument);
  EXPECT_EQ(HostSetAnnotationAttribute(document, frame, nullptr, 0, &one, 0, nullptr),
            kHostInvalidArgument);
  ASSERT_EQ(Read(frame, "%FillStyle", value), kHostOk);
  EXPECT_EQ(value, 0);
}

TEST_F(HostSimTest, AttributeNamesAreInTheAnsiCodePage) {
  const std::string path = Write(BaseDocument());
  const HostDocument document = OpenOk(path);
  const HostAnnotation frame = Info(document, 1, 1).handle;
  const std::string name = hostsim::Utf8ToCp932("色").value();  // 0x90 0x46
  ASSERT_EQ(name, "\x90\x46");
  ASSERT_EQ(Set(document, frame, name.c_str(), 3), kHostOk);
  std::int32_t value = 0;
  ASSERT_EQ(Read(frame, name.c_str(), value), kHostOk);
  EXPECT_EQ(value, 3);
  ASSERT_EQ(HostSaveDocument(document, nullptr), kHostOk);
  EXPECT_EQ(json::parse(ReadFile(path))["pages"][0]["annotations"][0]["attributes"]["色"], 3);
}

TEST_F(HostSimTest, AddAppendsARectangleWithTheHostDefaults) {
  const HostDocument document = OpenOk(Write(BaseDocument()));
  HostAnnotation created = 0;
  ASSERT_EQ(Add(document, 1, -100, 29000, 700, 1200, created), kHostOk)
      << "off the page is allowed by default";
  EXPECT_NE(created, 0u);
  ASSERT_EQ(AnnotationCount(document, 1), 4);
  const HostAnnotationInfo info = Info(document, 1, 4);
  EXPECT_EQ(info.handle, created);
  EXPECT_EQ(info.x, -100);
  EXPECT_EQ(info.y, 29000);
  EXPECT_EQ(info.width, 700);
  EXPECT_EQ(info.height, 1200);
  EXPECT_EQ(info.type, kRectangleAnnotation);
  std::int32_t value = 0;
  ASSERT_EQ(Read(created, kBorderStyleAttribute, value), kHostOk);
  EXPECT_EQ(value, hostsim::kNewRectangleBorderStyle);
  ASSERT_EQ(Read(created, kFillStyleAttribute, value), kHostOk);
  EXPECT_EQ(value, hostsim::kNewRectangleFillStyle);

  HostAnnotation onPage2 = 0;
  HostRectShape shape{24, kRectangleAnnotation, 0, 0, 10, 10};
  ASSERT_EQ(HostAddAnnotation(document, 0x8001, 2, 5, 5, &shape, &onPage2, nullptr), kHostOk);
  EXPECT_EQ(Info(document, 2, 1).type, 0x8001) << "the type comes from the argument";
  EXPECT_NE(onPage2, created);

  EXPECT_EQ(HostAddAnnotation(document, kRectangleAnnotation, 1, 0, 0, nullptr, &created, nullptr),
            kHostInvalidArgument);
  EXPECT_EQ(HostAddAnnotation(document, kRectangleAnnotation, 1, 0, 0, &shape, nullptr, nullptr),
            kHostInvalidArgument);
  EXPECT_EQ(Add(document, 3, 0, 0, 10, 10, created), kHostInvalidArgument);
  EXPECT_EQ(AnnotationCount(document, 1), 4);
}

TEST_F(HostSimTest, AddRefusesRectanglesBelowTheMinimumSize) {
  json doc = BaseDocument();
  const HostDocument plain = OpenOk(Write(doc, "plain.json"));
  doc["host"]["minAnnotationSize"] = 300;
  const HostDocument strict = OpenOk(Write(doc, "strict.json"));

  HostAnnotation created = 0;
  EXPECT_EQ(Add(plain, 2, 0, 0, 0, 10, created), kHostInvalidArgument);
  EXPECT_EQ(Add(plain, 2, 0, 0, 10, -1, created), kHostInvalidArgument);
  EXPECT_EQ(created, 0u);
  EXPECT_EQ(Add(plain, 2, 0, 0, 1, 1, created), kHostOk);

  created = 0;
  EXPECT_EQ(Add(strict, 2, 0, 0, 299, 5000, created), kHostInvalidArgument);
  EXPECT_EQ(Add(strict, 2, 0, 0, 5000, 299, created), kHostInvalidArgument);
  EXPECT_EQ(created, 0u);
  EXPECT_EQ(AnnotationCount(strict, 2), 0);
  EXPECT_EQ(Add(strict, 2, 0, 0, 300, 300, created), kHostOk);
  EXPECT_EQ(AnnotationCount(strict, 2), 1);
}

TEST_F(HostSimTest, AddRefusesRectanglesOffThePageWhenAsked) {
  json doc = BaseDocument();
  doc["host"]["refuseOffPage"] = true;
  const HostDocument document = OpenOk(Write(doc));
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  HostAnnotation created = 0;

  // Page 1 is 21000 x 29700.
  EXPECT_EQ(Add(document, 1, -1, 0, 100, 100, created), kHostInvalidArgument);
  EXPECT_EQ(Add(document, 1, 0, -1, 100, 100, created), kHostInvalidArgument);
  EXPECT_EQ(Add(document, 1, 20901, 0, 100, 100, created), kHostInvalidArgument);
  EXPECT_EQ(Add(document, 1, 0, 29601, 100, 100, created), kHostInvalidArgument);
  // x + width overflows 32 bits: still off the page.
  EXPECT_EQ(Add(document, 1, kMax, 0, kMax, 100, created), kHostInvalidArgument);
  EXPECT_EQ(Add(document, 1, 0, kMax, 100, kMax, created), kHostInvalidArgument);
  EXPECT_EQ(created, 0u);
  EXPECT_EQ(AnnotationCount(document, 1), 3);

  EXPECT_EQ(Add(document, 1, 0, 0, 21000, 29700, created), kHostOk) << "the whole page fits";
  EXPECT_EQ(Add(document, 1, 20900, 29600, 100, 100, created), kHostOk);
  EXPECT_EQ(AnnotationCount(document, 1), 5);
}

// --- Saving and closing ----------------------------------------------------

TEST_F(HostSimTest, SaveWritesTheWholeDocumentAndKeepsUnknownMembers) {
  json doc = BaseDocument();
  doc["host"]["failures"] = json::array(
      {{{"ordinal", kOrdinalGetPageInformation}, {"call", 9}, {"result", "0x80004005"}}});
  const std::string path = Write(doc);
  const HostDocument document = OpenOk(path);

  ASSERT_EQ(HostRemoveAnnotation(document, Info(document, 1, 2).handle, nullptr), kHostOk);
  ASSERT_EQ(Set(document, Info(document, 1, 1).handle, "%BorderStyle", 0), kHostOk);
  HostAnnotation created = 0;
  ASSERT_EQ(Add(document, 2, 5, 6, 70, 80, created), kHostOk);
  ASSERT_EQ(HostSaveDocument(document, nullptr), kHostOk);
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"}) << "no temporary file left";

  const json saved = json::parse(ReadFile(path));
  EXPECT_EQ(saved["meta"], doc["meta"]);
  EXPECT_EQ(saved["host"], doc["host"]);
  const json& page1 = saved["pages"][0];
  EXPECT_EQ(page1["label"], "first");
  ASSERT_EQ(page1["annotations"].size(), 2u);
  EXPECT_EQ(page1["annotations"][0]["note"], "keep");
  EXPECT_EQ(page1["annotations"][0]["attributes"], json({{"%BorderStyle", 0}, {"%FillStyle", 0}}));
  EXPECT_EQ(page1["annotations"][1]["x"], -50);
  const json expectedAdded = {{"type", kRectangleAnnotation},
                              {"x", 5},
                              {"y", 6},
                              {"width", 70},
                              {"height", 80},
                              {"attributes", {{"%BorderStyle", 1}, {"%FillStyle", 1}}}};
  EXPECT_EQ(saved["pages"][1]["annotations"], json::array({expectedAdded}));

  // Saving does not close: the handle still works, and a reopening sees the
  // saved state.
  EXPECT_EQ(AnnotationCount(document, 1), 2);
  const HostDocument reopened = OpenOk(path);
  EXPECT_EQ(AnnotationCount(reopened, 2), 1);
  std::int32_t value = 1;
  ASSERT_EQ(Read(Info(reopened, 1, 1).handle, "%BorderStyle", value), kHostOk);
  EXPECT_EQ(value, 0);
}

TEST_F(HostSimTest, CloseDiscardsUnsavedChanges) {
  const std::string path = Write(BaseDocument());
  const std::string before = ReadFile(path);
  const HostDocument document = OpenOk(path);
  const HostAnnotation frame = Info(document, 1, 1).handle;
  ASSERT_EQ(HostRemoveAnnotation(document, Info(document, 1, 2).handle, nullptr), kHostOk);
  ASSERT_EQ(Set(document, frame, "%FillStyle", 9), kHostOk);

  ASSERT_EQ(HostCloseDocument(document, nullptr), kHostOk);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(hostsim::OpenHandleCount(), 0);
  EXPECT_EQ(HostCloseDocument(document, nullptr), kHostInvalidArgument) << "handle released";
  std::int32_t value = 0;
  EXPECT_EQ(Read(frame, "%FillStyle", value), kHostInvalidArgument);

  const HostDocument reopened = OpenOk(path);
  EXPECT_EQ(AnnotationCount(reopened, 1), 3);
}

TEST_F(HostSimTest, SaveFailureLeavesTheOriginalAndNoTemporaryFile) {
  const std::string path = Write(BaseDocument());
  const HostDocument document = OpenOk(path);
  ASSERT_EQ(HostRemoveAnnotation(document, Info(document, 1, 1).handle, nullptr), kHostOk);

  // The file was replaced by a folder with contents: the final rename cannot
  // succeed, after the temporary file has been written.
  ASSERT_EQ(::rename(path.c_str(), dir_.File("moved.json").c_str()), 0);
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  WriteFile(path + "/inside", "x");
  EXPECT_LT(HostSaveDocument(document, nullptr), 0);
  EXPECT_EQ(dir_.List(), (std::vector<std::string>{"doc.json", "moved.json"}));
  EXPECT_EQ(ReadFile(path + "/inside"), "x");
}

// Runs `body` in a child process without privileges, so that permission bits
// apply even when the tests run as root. Gives the child's exit code, or 77
// if privileges could not be dropped.
int RunUnprivileged(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(HostSimTest, SaveIntoAFolderThatIsNotWritableFails) {
  const std::string folder = dir_.File("locked");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const std::string path = folder + "/doc.json";
  WriteFile(path, BaseDocument().dump(2));
  const std::string before = ReadFile(path);
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);

  const int code = RunUnprivileged([&path] {
    HostDocument document = 0;
    if (Open(path, document) != kHostOk) return 1;
    HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, 0};
    if (HostGetAnnotationInformation(document, 1, 0, 1, &info, nullptr) != kHostOk) return 2;
    if (HostRemoveAnnotation(document, info.handle, nullptr) != kHostOk) return 3;
    const HostResult saved = HostSaveDocument(document, nullptr);
    if (saved >= 0) return 4;
    return saved == kHostAccessDenied ? 0 : 5;
  });
  if (code == 77) GTEST_SKIP() << "cannot drop privileges here";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(path), before);
  std::vector<std::string> left;
  if (DIR* listing = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(listing)) left.emplace_back(entry->d_name);
    ::closedir(listing);
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".", "..", "doc.json"})) << "no temporary file";
}

// --- Failure injection -------------------------------------------------------

// Makes one ordinary, successful-in-principle call of an ordinal and reports
// its result; `clean` says whether the call left no trace in its outputs.
struct Probe {
  int ordinal;
  std::function<HostResult(HostDocument, bool& clean)> call;
};

std::vector<Probe> Probes() {
  return {
      {kOrdinalGetDocumentInformation,
       [](HostDocument d, bool& clean) {
         HostDocumentInfo info{40, kSentinel, {}};
         const HostResult r = HostGetDocumentInformation(d, &info);
         clean = info.pageCount == kSentinel;
         return r;
       }},
      {kOrdinalGetPageInformation,
       [](HostDocument d, bool& clean) {
         HostPageInfo info{32, kSentinel, kSentinel, {0, 0, 0, 0}, kSentinel};
         const HostResult r = HostGetPageInformation(d, 1, &info);
         clean = info.width == kSentinel && info.annotationCount == kSentinel;
         return r;
       }},
      {kOrdinalGetAnnotationInformation,
       [](HostDocument d, bool& clean) {
         HostAnnotationInfo info{32, 0, kSentinel, 0, 0, 0, 0, 0};
         const HostResult r = HostGetAnnotationInformation(d, 1, 0, 1, &info, nullptr);
         clean = info.handle == 0 && info.x == kSentinel;
         return r;
       }},
      {kOrdinalGetAnnotationAttribute,
       [](HostDocument d, bool& clean) {
         HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, 0};
         HostGetAnnotationInformation(d, 1, 0, 1, &info, nullptr);
         std::int32_t value = kSentinel;
         const HostResult r =
             HostGetAnnotationAttribute(info.handle, "%BorderStyle", &value, 4, nullptr);
         clean = value == kSentinel;
         return r;
       }},
      {kOrdinalAddAnnotation,
       [](HostDocument d, bool& clean) {
         HostPageInfo before{32, 0, 0, {0, 0, 0, 0}, 0};
         HostGetPageInformation(d, 2, &before);
         HostRectShape shape{24, kRectangleAnnotation, 0, 0, 10, 10};
         HostAnnotation created = 0;
         const HostResult r =
             HostAddAnnotation(d, kRectangleAnnotation, 2, 0, 0, &shape, &created, nullptr);
         HostPageInfo after{32, 0, 0, {0, 0, 0, 0}, 0};
         HostGetPageInformation(d, 2, &after);
         clean = created == 0 && after.annotationCount == before.annotationCount;
         return r;
       }},
      {kOrdinalRemoveAnnotation,
       [](HostDocument d, bool& clean) {
         HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, 0};
         HostGetAnnotationInformation(d, 1, 0, 1, &info, nullptr);
         const HostResult r = HostRemoveAnnotation(d, info.handle, nullptr);
         HostAnnotationInfo again{32, 0, 0, 0, 0, 0, 0, 0};
         HostGetAnnotationInformation(d, 1, 0, 1, &again, nullptr);
         clean = again.handle == info.handle;
         return r;
       }},
      {kOrdinalSetAnnotationAttribute,
       [](HostDocument d, bool& clean) {
         HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, 0};
         HostGetAnnotationInformation(d, 1, 0, 1, &info, nullptr);
         std::int32_t before = 0;
         HostGetAnnotationAttribute(info.handle, "%FillStyle", &before, 4, nullptr);
         const std::int32_t value = before + 1;
         const HostResult r =
             HostSetAnnotationAttribute(d, info.handle, "%FillStyle", 0, &value, 0, nullptr);
         std::int32_t after = 0;
         HostGetAnnotationAttribute(info.handle, "%FillStyle", &after, 4, nullptr);
         clean = after == before;
         return r;
       }},
  };
}

TEST_F(HostSimTest, InjectedFailureHitsExactlyTheNamedCallOfEachOrdinal) {
  for (const Probe& probe : Probes()) {
    SCOPED_TRACE("ordinal " + std::to_string(probe.ordinal));
    hostsim::Reset();
    const HostResult injected = static_cast<HostResult>(0x80001000u) + probe.ordinal;
    json doc = BaseDocument();
    doc["host"]["failures"] =
        json::array({{{"ordinal", probe.ordinal}, {"call", 2}, {"result", injected}}});
    const HostDocument document = OpenOk(Write(doc));
    bool clean = false;
    EXPECT_EQ(probe.call(document, clean), kHostOk);
    EXPECT_FALSE(clean);
    EXPECT_EQ(probe.call(document, clean), injected);
    EXPECT_TRUE(clean) << "an injected failure has no effect";
    EXPECT_EQ(probe.call(document, clean), kHostOk);
    EXPECT_FALSE(clean);
  }
}

TEST_F(HostSimTest, InjectedFailuresOfOpenSaveAndClose) {
  json doc = BaseDocument();
  doc["host"]["failures"] =
      json::array({{{"ordinal", kOrdinalOpenDocument}, {"call", 1}, {"result", "0x80040003"}}});
  HostDocument document = 0;
  EXPECT_EQ(Open(Write(doc, "refused.json"), document), kHostNoRight);
  EXPECT_EQ(document, 0u);
  EXPECT_EQ(hostsim::OpenHandleCount(), 0);

  doc["host"]["failures"] =
      json::array({{{"ordinal", kOrdinalSaveDocument}, {"call", 1}, {"result", -5}},
                   {{"ordinal", kOrdinalCloseDocument}, {"call", 1}, {"result", "0x800e0005"}}});
  const std::string path = Write(doc);
  const std::string before = ReadFile(path);
  document = OpenOk(path);
  ASSERT_EQ(HostRemoveAnnotation(document, Info(document, 1, 1).handle, nullptr), kHostOk);
  EXPECT_EQ(HostSaveDocument(document, nullptr), -5);
  EXPECT_EQ(ReadFile(path), before) << "the failed save wrote nothing";
  EXPECT_EQ(HostCloseDocument(document, nullptr), kHostCannotOpen);
  EXPECT_EQ(hostsim::OpenHandleCount(), 1) << "the failed close kept the document open";
  EXPECT_EQ(HostSaveDocument(document, nullptr), kHostOk);
  EXPECT_EQ(HostCloseDocument(document, nullptr), kHostOk);
  EXPECT_EQ(hostsim::OpenHandleCount(), 0);
  EXPECT_EQ(json::parse(ReadFile(path))["pages"][0]["annotations"].size(), 2u);
}

TEST_F(HostSimTest, InjectedFailuresCountPerOpenedDocument) {
  json doc = BaseDocument();
  doc["host"]["failures"] =
      json::array({{{"ordinal", kOrdinalGetPageInformation}, {"call", 2}, {"result", -25}},
                   {{"ordinal", kOrdinalGetAnnotationAttribute}, {"call", 1}, {"result", -56}}});
  const std::string path = Write(doc);
  const HostDocument a = OpenOk(path);
  const HostDocument b = OpenOk(path);
  HostPageInfo info{32, 0, 0, {0, 0, 0, 0}, 0};
  EXPECT_EQ(HostGetPageInformation(a, 1, &info), kHostOk);
  EXPECT_EQ(HostGetPageInformation(b, 1, &info), kHostOk);
  EXPECT_EQ(HostGetPageInformation(a, 1, &info), -25);
  EXPECT_EQ(HostGetPageInformation(b, 2, &info), -25);
  EXPECT_EQ(HostGetPageInformation(a, 1, &info), kHostOk);

  // Attribute reads count against the document that owns the annotation.
  std::int32_t value = 0;
  const HostAnnotation inA = Info(a, 1, 1).handle;
  const HostAnnotation inB = Info(b, 1, 1).handle;
  EXPECT_EQ(Read(inA, "%BorderStyle", value), -56);
  EXPECT_EQ(Read(inA, "%BorderStyle", value), kHostOk);
  EXPECT_EQ(Read(inB, "%BorderStyle", value), -56);
  EXPECT_EQ(Read(inB, "%FillStyle", value), kHostOk);
}

// --- Call log and controls -------------------------------------------------

TEST_F(HostSimTest, CallsAreLoggedAsPassedIn) {
  const std::string path = Write(BaseDocument());
  HostDocument document = 0;
  HostOpenMode mode{12, 1, 1};
  ASSERT_EQ(HostOpenDocument(path.c_str(), &document, &mode), kHostOk);
  HostDocumentInfo documentInfo{40, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
  HostGetDocumentInformation(document, &documentInfo);
  HostPageInfo page{32, 1, 2, {3, 4, 5, 6}, 7};
  HostGetPageInformation(document, 1, &page);
  HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, kSentinel};
  HostGetAnnotationInformation(document, 1, 0, 1, &info, nullptr);
  std::int32_t value = 0;
  int reservedByte = 0;
  HostGetAnnotationAttribute(info.handle, "%FillStyle", &value, 4, &reservedByte);
  HostRectShape shape{24, kRectangleAnnotation, 0, 0, 300, 400};
  HostAnnotation created = 0;
  HostAddAnnotation(document, kRectangleAnnotation, 2, -10, 20, &shape, &created, nullptr);
  const std::int32_t zero = 0;
  HostSetAnnotationAttribute(document, created, "%BorderStyle", 0, &zero, 0, nullptr);
  HostRemoveAnnotation(document, info.handle, nullptr);
  HostSaveDocument(document, nullptr);
  HostCloseDocument(document, nullptr);
  HostGetPageInformation(document, 1, &page);  // after close

  const auto& calls = hostsim::Calls();
  ASSERT_EQ(calls.size(), 11u);
  using Args = std::vector<std::int64_t>;
  using Words = std::vector<std::int32_t>;
  const std::int64_t doc = document;

  EXPECT_EQ(calls[0].ordinal, kOrdinalOpenDocument);
  EXPECT_EQ(calls[0].args, Args({1}));
  EXPECT_EQ(calls[0].record, Words({12, 1, 1}));
  EXPECT_EQ(calls[0].text, path);
  EXPECT_EQ(calls[0].handleOut, document);
  EXPECT_EQ(calls[0].result, kHostOk);

  EXPECT_EQ(calls[1].ordinal, kOrdinalGetDocumentInformation);
  EXPECT_EQ(calls[1].args, Args({doc}));
  EXPECT_EQ(calls[1].record, Words({40, 0, 0, 0, 0, 0, 0, 0, 0, 3}));

  EXPECT_EQ(calls[2].ordinal, kOrdinalGetPageInformation);
  EXPECT_EQ(calls[2].args, Args({doc, 1}));
  EXPECT_EQ(calls[2].record, Words({32, 1, 2, 3, 4, 5, 6, 7})) << "the record before the call";

  EXPECT_EQ(calls[3].ordinal, kOrdinalGetAnnotationInformation);
  EXPECT_EQ(calls[3].args, Args({doc, 1, 0, 1, 0}));
  EXPECT_EQ(calls[3].record, Words({32, 0, 0, 0, 0, 0, 0, kSentinel}));

  EXPECT_EQ(calls[4].ordinal, kOrdinalGetAnnotationAttribute);
  EXPECT_EQ(calls[4].args, Args({info.handle, 4, 1}));
  EXPECT_EQ(calls[4].text, "%FillStyle");
  EXPECT_TRUE(calls[4].record.empty());

  EXPECT_EQ(calls[5].ordinal, kOrdinalAddAnnotation);
  EXPECT_EQ(calls[5].args, Args({doc, kRectangleAnnotation, 2, -10, 20, 1, 0}));
  EXPECT_EQ(calls[5].record, Words({24, kRectangleAnnotation, 0, 0, 300, 400}));
  EXPECT_EQ(calls[5].handleOut, created);

  EXPECT_EQ(calls[6].ordinal, kOrdinalSetAnnotationAttribute);
  EXPECT_EQ(calls[6].args, Args({doc, created, 0, 0, 0, 0}));
  EXPECT_EQ(calls[6].text, "%BorderStyle");

  EXPECT_EQ(calls[7].ordinal, kOrdinalRemoveAnnotation);
  EXPECT_EQ(calls[7].args, Args({doc, info.handle, 0}));
  EXPECT_EQ(calls[8].ordinal, kOrdinalSaveDocument);
  EXPECT_EQ(calls[8].args, Args({doc, 0}));
  EXPECT_EQ(calls[9].ordinal, kOrdinalCloseDocument);
  EXPECT_EQ(calls[9].args, Args({doc, 0}));
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(calls[i].result, kHostOk) << i;
  EXPECT_EQ(calls[10].result, kHostInvalidArgument);
  EXPECT_EQ(calls[10].handleOut, 0u);
}

TEST_F(HostSimTest, FailedCallsAreLoggedWithTheirResult) {
  HostDocument document = 0;
  const std::string missing = dir_.File("missing.json");
  Open(missing, document);
  HostGetPageInformation(1234, 1, nullptr);
  const std::int32_t value = -3;
  HostSetAnnotationAttribute(99, 98, "%X", 0, &value, 932, nullptr);

  const auto& calls = hostsim::Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].text, missing);
  EXPECT_EQ(calls[0].result, kHostFileNotFound);
  EXPECT_EQ(calls[0].handleOut, 0u);
  EXPECT_TRUE(calls[1].record.empty()) << "null record";
  EXPECT_EQ(calls[1].result, kHostInvalidArgument);
  EXPECT_EQ(calls[2].args, (std::vector<std::int64_t>{99, 98, 0, -3, 932, 0}));
  EXPECT_EQ(calls[2].result, kHostInvalidArgument);
}

TEST_F(HostSimTest, RecordingSwitchAndReset) {
  const std::string path = Write(BaseDocument());
  hostsim::SetRecording(false);
  const HostDocument document = OpenOk(path);
  HostDocumentInfo info{40, 0, {}};
  HostGetDocumentInformation(document, &info);
  HostGetDocumentInformation(document, &info);
  EXPECT_TRUE(hostsim::Calls().empty());
  EXPECT_EQ(HostSimCallCount(kOrdinalGetDocumentInformation), 2) << "counted even when not logged";
  EXPECT_EQ(HostSimCallCount(kOrdinalOpenDocument), 1);
  EXPECT_EQ(HostSimCallCount(kOrdinalSaveDocument), 0);

  hostsim::SetRecording(true);
  HostGetDocumentInformation(document, &info);
  EXPECT_EQ(hostsim::Calls().size(), 1u);

  HostSimReset();
  EXPECT_EQ(hostsim::OpenHandleCount(), 0) << "reset closes every document";
  EXPECT_TRUE(hostsim::Calls().empty());
  EXPECT_EQ(HostSimCallCount(kOrdinalGetDocumentInformation), 0);
  EXPECT_EQ(HostGetDocumentInformation(document, &info), kHostInvalidArgument);
  EXPECT_EQ(hostsim::Calls().size(), 1u) << "recording stays on";
}

// --- Paths in code page 932 --------------------------------------------------

TEST_F(HostSimTest, PathsAreConvertedFromCodePage932) {
  // "表" is 0x95 0x5C in code page 932: its second byte is a backslash.
  const std::string utf8Path = Write(BaseDocument(), "表の文書.json");
  const std::string ansiPath = hostsim::Utf8ToCp932(utf8Path).value();
  ASSERT_NE(ansiPath, utf8Path);
  const HostDocument document = OpenOk(ansiPath);
  EXPECT_EQ(hostsim::Calls().back().text, ansiPath) << "logged as passed";
  ASSERT_EQ(HostRemoveAnnotation(document, Info(document, 1, 1).handle, nullptr), kHostOk);
  ASSERT_EQ(HostSaveDocument(document, nullptr), kHostOk);
  EXPECT_EQ(json::parse(ReadFile(utf8Path))["pages"][0]["annotations"].size(), 2u);
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"表の文書.json"});

  // Bytes that are not code page 932 name no file: the open refuses them
  // rather than guessing.
  const std::string raw = Write(BaseDocument(), "raw\x81\x20name.json");
  HostDocument document2 = 0;
  EXPECT_EQ(Open(raw, document2), kHostBadName);
}

TEST(Cp932Test, ConvertsBothWaysAndReportsWhatItCannotConvert) {
  EXPECT_EQ(hostsim::Utf8ToCp932("D:\\docs\\表.xdw"), "D:\\docs\\\x95\x5C.xdw");
  EXPECT_EQ(hostsim::Cp932ToUtf8("D:\\docs\\\x95\x5C.xdw"), "D:\\docs\\表.xdw");
  EXPECT_EQ(hostsim::Cp932ToUtf8("\x83\x7D\x83\x58\x83\x4E"), "マスク");
  EXPECT_EQ(hostsim::Cp932ToUtf8(""), "");
  // Not code page 932: a lead byte without its trail byte, a bad trail byte.
  EXPECT_EQ(hostsim::Cp932ToUtf8("ab\x81"), std::nullopt);
  EXPECT_EQ(hostsim::Cp932ToUtf8("\x81\x20"), std::nullopt);
  // Not UTF-8, or not representable in code page 932.
  EXPECT_EQ(hostsim::Utf8ToCp932("a\xFF"), std::nullopt);
  EXPECT_EQ(hostsim::Utf8ToCp932("😀"), std::nullopt);
  EXPECT_EQ(hostsim::Utf8ToCp932("café"), std::nullopt);
  // For display every stray byte becomes U+FFFD and the rest is converted.
  EXPECT_EQ(hostsim::Cp932ToUtf8ForDisplay("a\x81\x20\x95\x5C\xFF"),
            "a\xEF\xBF\xBD 表\xEF\xBF\xBD");
  // Long text crosses the converter's internal buffer.
  std::string longUtf8;
  for (int i = 0; i < 500; ++i) longUtf8 += "表";
  EXPECT_EQ(hostsim::Cp932ToUtf8(hostsim::Utf8ToCp932(longUtf8).value()), longUtf8);
  EXPECT_EQ(hostsim::Utf8ToCp932(longUtf8).value().size(), 1000u);
}

}  // namespace

namespace {

class HostSimCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::SetRecording(true);
    hostsim::Reset();
  }
  void TearDown() override {
    hostsim::ReportFailuresTo(nullptr);
    hostsim::Reset();
  }

  // A page of `count` rectangles whose x is their index.
  HostDocument OpenRow(int count) {
    json annotations = json::array();
    for (int i = 0; i < count; ++i) {
      annotations.push_back({{"type", kRectangleAnnotation},
                             {"x", i},
                             {"y", 0},
                             {"width", 1},
                             {"height", 1},
                             {"attributes", {{"%BorderStyle", i}}}});
    }
    const std::string path = dir_.File("row.json");
    WriteFile(
        path,
        json{{"pages", {{{"width", 10}, {"height", 10}, {"annotations", annotations}}}}}.dump());
    HostDocument document = 0;
    HostOpenMode mode{12, 1, 1};
    EXPECT_EQ(HostOpenDocument(path.c_str(), &document, &mode), kHostOk);
    return document;
  }

  static HostAnnotationInfo At(HostDocument document, std::int32_t index) {
    HostAnnotationInfo info{32, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(HostGetAnnotationInformation(document, 1, 0, index, &info, nullptr), kHostOk);
    return info;
  }

  TempDir dir_;
};

// Handles keep naming their annotation however removals move the page's
// list, whether the caller walks it backwards (as the pass does), forwards,
// or holds on to handles it looked up long before.
TEST_F(HostSimCoreTest, HandlesFollowTheirAnnotationThroughRemovals) {
  const HostDocument document = OpenRow(12);
  std::vector<HostAnnotation> handles;
  for (std::int32_t i = 1; i <= 12; ++i) handles.push_back(At(document, i).handle);
  // Forwards, through handles from before any removal: 0, 2, 4, ...
  for (std::size_t i = 0; i < 12; i += 2) {
    ASSERT_EQ(HostRemoveAnnotation(document, handles[i], nullptr), kHostOk) << i;
  }
  // Backwards through fresh look-ups: the last two of the six left.
  ASSERT_EQ(HostRemoveAnnotation(document, At(document, 6).handle, nullptr), kHostOk);
  ASSERT_EQ(HostRemoveAnnotation(document, At(document, 5).handle, nullptr), kHostOk);
  // Left: x = 1, 3, 5, 7; every old handle still reads its own attribute.
  for (const std::size_t i : {std::size_t{1}, std::size_t{3}, std::size_t{5}, std::size_t{7}}) {
    std::int32_t value = -1;
    ASSERT_EQ(HostGetAnnotationAttribute(handles[i], "%BorderStyle", &value, 4, nullptr), kHostOk);
    EXPECT_EQ(value, static_cast<std::int32_t>(i));
    ASSERT_EQ(HostSetAnnotationAttribute(document, handles[i], "%FillStyle", 0, &value, 0, nullptr),
              kHostOk);
  }
  for (const std::size_t i : {std::size_t{0}, std::size_t{9}, std::size_t{11}}) {
    std::int32_t value = -1;
    EXPECT_EQ(HostGetAnnotationAttribute(handles[i], "%BorderStyle", &value, 4, nullptr),
              kHostInvalidArgument);
  }
  for (std::int32_t index = 1; index <= 4; ++index) {
    EXPECT_EQ(At(document, index).x, 2 * index - 1);
  }
  // The log says which page and annotation each call concerned.
  ASSERT_EQ(HostRemoveAnnotation(document, handles[5], nullptr), kHostOk);
  EXPECT_EQ(hostsim::Calls().back().page, 1);
  EXPECT_EQ(hostsim::Calls().back().annotation, 3);
}

std::vector<hostsim::CallFailure>& Failures() {
  static std::vector<hostsim::CallFailure> failures;
  return failures;
}

// Each failing call is reported with what it concerned; a refused add is not
// (the pass reports those pages), nor is a call that succeeds.
TEST_F(HostSimCoreTest, FailuresAreReportedWithTheirPageAnnotationAndReason) {
  Failures().clear();
  hostsim::ReportFailuresTo([](const hostsim::CallFailure& f) { Failures().push_back(f); });
  HostDocument missing = 0;
  HostOpenMode mode{12, 1, 1};
  const std::string absent = dir_.File("absent.json");
  EXPECT_EQ(HostOpenDocument(absent.c_str(), &missing, &mode), kHostFileNotFound);
  const HostDocument document = OpenRow(3);
  std::int32_t value = 0;
  EXPECT_EQ(HostGetAnnotationAttribute(At(document, 2).handle, "%FillStyle", &value, 4, nullptr),
            kHostInvalidArgument);
  HostRectShape tiny{24, kRectangleAnnotation, 0, 0, 0, 0};
  HostAnnotation created = 0;
  EXPECT_EQ(HostAddAnnotation(document, kRectangleAnnotation, 1, 0, 0, &tiny, &created, nullptr),
            kHostInvalidArgument);

  ASSERT_EQ(Failures().size(), 2u);
  EXPECT_EQ(Failures()[0].ordinal, kOrdinalOpenDocument);
  EXPECT_EQ(Failures()[0].hostPath, absent);
  EXPECT_EQ(Failures()[0].result, kHostFileNotFound);
  EXPECT_EQ(Failures()[0].reason, "No such file or directory");
  EXPECT_EQ(Failures()[1].ordinal, kOrdinalGetAnnotationAttribute);
  EXPECT_EQ(Failures()[1].hostPath, dir_.File("row.json"));
  EXPECT_EQ(Failures()[1].page, 1);
  EXPECT_EQ(Failures()[1].annotation, 2);
  EXPECT_EQ(Failures()[1].attribute, "%FillStyle");
}

// The log keeps each record as the call left it, too.
TEST_F(HostSimCoreTest, RecordsAreLoggedBeforeAndAfterTheCall) {
  const HostDocument document = OpenRow(2);
  At(document, 2);
  const hostsim::RecordedCall& call = hostsim::Calls().back();
  EXPECT_EQ(call.record, (std::vector<std::int32_t>{32, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(call.recordAfter.size(), 8u);
  EXPECT_EQ(call.recordAfter[2], 1) << "x";
  EXPECT_EQ(call.recordAfter[6], kRectangleAnnotation);
  EXPECT_EQ(call.page, 1);
  EXPECT_EQ(call.annotation, 2);
}

}  // namespace
