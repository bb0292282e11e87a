#include "masking/mask_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "hostsim/hostsim.h"
#include "masking/keep_frame.h"
#include "masking/mask_region.h"
#include "tests/support/documents.h"
#include "tests/support/failing_memory.h"
#include "tests/support/message_recorder.h"
#include "tests/support/pass_test.h"

namespace {

using masking::MaskDocument;
using masking::MaskPiece;
using masking::MaskRegion;

using hostsim::RecordedCall;
using testdoc::Json;
using Words = std::vector<std::int32_t>;
using Args = std::vector<std::int64_t>;

class MaskDocumentTest : public testpass::PassTest {};

// Every record that the pass hands to the host starts with its own size,
// whatever the call and the page; the records the host only fills are
// otherwise as the pass left them.
TEST_F(MaskDocumentTest, EveryRecordHandedToTheHostCarriesItsSize) {
  Json document = testdoc::Document(
      {testdoc::Page(1000, 1000,
                     {testdoc::TextNote(10, 20, 30, 40), testdoc::KeepFrame(100, 100, 200, 200)}),
       testdoc::Page(2000, 500, {testdoc::KeepFrame(0, 100, 2000, 300)})});
  document["host"] = {{"refuseOffPage", true}};
  const std::string path = dir_.Put("sized.json", document);
  ASSERT_TRUE(MaskDocument(path.c_str()));

  const std::map<int, std::int32_t> sizes = {{kOrdinalOpenDocument, 12},
                                             {kOrdinalGetDocumentInformation, 40},
                                             {kOrdinalGetPageInformation, 32},
                                             {kOrdinalGetAnnotationInformation, 32},
                                             {kOrdinalAddAnnotation, 24}};
  int checked = 0;
  for (const RecordedCall& call : hostsim::Calls()) {
    const auto size = sizes.find(call.ordinal);
    if (size == sizes.end()) continue;
    ASSERT_FALSE(call.record.empty()) << "ordinal " << call.ordinal;
    EXPECT_EQ(call.record[0], size->second) << "ordinal " << call.ordinal;
    EXPECT_EQ(call.record.size() * sizeof(std::int32_t), static_cast<std::size_t>(size->second));
    ++checked;
  }
  EXPECT_EQ(checked, 1 + 1 + 2 + 6 + 6)
      << "open, document, two pages, six annotation reads, six adds";
  EXPECT_EQ(CallsOf(kOrdinalOpenDocument)[0].record, (Words{12, 1, 1}));
  EXPECT_EQ(CallsOf(kOrdinalGetDocumentInformation)[0].record,
            (Words{40, 0, 0, 0, 0, 0, 0, 0, 0, 0}))
      << "zero-filled before the call";
  for (const RecordedCall& add : CallsOf(kOrdinalAddAnnotation)) {
    EXPECT_EQ((Words{add.record[0], add.record[1], add.record[2], add.record[3]}),
              (Words{24, testdoc::kRectangle, 0, 0}));
  }
}

// One record serves every annotation-information call: its size is set before
// each call, and the other fields keep what the host wrote the time before.
TEST_F(MaskDocumentTest, AnnotationRecordKeepsTheHostsLastAnswer) {
  const std::string path = dir_.Put(
      "reused.json", testdoc::Document({testdoc::Page(1000, 1000,
                                                      {testdoc::TextNote(10, 20, 30, 40),
                                                       testdoc::KeepFrame(100, 100, 200, 200)})}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  const std::vector<RecordedCall> reads = CallsOf(kOrdinalGetAnnotationInformation);
  ASSERT_EQ(reads.size(), 4u);
  EXPECT_EQ(reads[0].record, (Words{32, 0, 0, 0, 0, 0, 0, 0}));
  const std::int32_t note = reads[1].record[1];
  EXPECT_EQ(reads[1].record, (Words{32, note, 10, 20, 30, 40, testdoc::kTextNote, 0}));
  const std::int32_t frame = reads[2].record[1];
  EXPECT_EQ(reads[2].record, (Words{32, frame, 100, 100, 200, 200, testdoc::kRectangle, 0}));
  // Both passes ask for the annotations of page 1 at the host's indexes, the
  // second pass backwards.
  EXPECT_EQ(reads[1].args, (Args{reads[0].args[0], 1, 0, 2, 0}));
  EXPECT_EQ(reads[2].args, (Args{reads[0].args[0], 1, 0, 2, 0}));
  EXPECT_EQ(reads[3].args, (Args{reads[0].args[0], 1, 0, 1, 0}));
}

// Each mask is made borderless right after it is added, through its own
// handle, and with nothing else written.
TEST_F(MaskDocumentTest, EveryMaskIsMadeBorderlessThroughItsNewHandle) {
  const std::string path = dir_.Put(
      "masks.json",
      testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(100, 100, 200, 200)})}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  const std::vector<RecordedCall>& calls = hostsim::Calls();
  int masks = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].ordinal != kOrdinalAddAnnotation) continue;
    ++masks;
    ASSERT_LT(i + 1, calls.size());
    const RecordedCall& set = calls[i + 1];
    EXPECT_EQ(set.ordinal, kOrdinalSetAnnotationAttribute);
    EXPECT_EQ(set.args, (Args{calls[i].args[0], calls[i].handleOut, 0, 0, 0, 0}));
    EXPECT_EQ(set.text, "%BorderStyle");
  }
  EXPECT_EQ(masks, 4);
  EXPECT_EQ(static_cast<int>(CallsOf(kOrdinalSetAnnotationAttribute).size()), masks);
}

TEST_F(MaskDocumentTest, SavedDocumentHoldsTheMasksInsteadOfTheFrames) {
  const std::string path = dir_.Put(
      "saved.json", testdoc::Document({testdoc::Page(1000, 1000,
                                                     {testdoc::TextNote(10, 20, 30, 40),
                                                      testdoc::KeepFrame(100, 100, 200, 200)})}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  const Json annotations = testdoc::ReadDocument(path)["pages"][0]["annotations"];
  ASSERT_EQ(annotations.size(), 5u);
  EXPECT_EQ(annotations[0], testdoc::TextNote(10, 20, 30, 40));
  for (std::size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(annotations[i]["type"], testdoc::kRectangle);
    EXPECT_EQ(annotations[i]["attributes"][kBorderStyleAttribute], kBorderlessStyle);
    EXPECT_EQ(annotations[i]["attributes"][kFillStyleAttribute], hostsim::kNewRectangleFillStyle)
        << "other attributes stay the host's";
  }
  EXPECT_EQ(annotations[4]["y"], -kMinimumRectangleSize)
      << "grown pieces go to the host as they lie";
}

TEST_F(MaskDocumentTest, DocumentWithoutPagesIsSavedAndClosed) {
  const std::string path = dir_.Put("empty.json", testdoc::Document(Json::array()));
  EXPECT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(Ordinals(), (std::vector<int>{kOrdinalOpenDocument, kOrdinalGetDocumentInformation,
                                          kOrdinalSaveDocument, kOrdinalCloseDocument}));
  EXPECT_TRUE(RecordedMessages().empty());
}

// A host that cannot describe the document has not said how many pages it
// has: saving it as it is would report an unmasked document as masked.
TEST_F(MaskDocumentTest, FailingDocumentInformationGivesUpWithoutSaving) {
  Json document = testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(0, 0, 5, 5)})});
  document["host"] = {
      {"failures",
       {{{"ordinal", kOrdinalGetDocumentInformation}, {"call", 1}, {"result", "0x80070005"}}}}};
  const std::string path = dir_.Put("info.json", document);
  const std::string before = testdoc::ReadFile(path);
  EXPECT_FALSE(MaskDocument(path.c_str()));
  EXPECT_EQ(Ordinals(), (std::vector<int>{kOrdinalOpenDocument, kOrdinalGetDocumentInformation,
                                          kOrdinalCloseDocument}));
  EXPECT_EQ(RecordedMessages(),
            std::vector<std::string>{testdoc::Cp932("指定されたファイルを開くことができません。")});
  EXPECT_EQ(testdoc::ReadFile(path), before);
}

TEST_F(MaskDocumentTest, PageWithoutKeepFramesIsReadTwiceAndLeftAlone) {
  const Json annotations = {testdoc::Rectangle(0, 0, 50, 50, 1, 1),
                            testdoc::Rectangle(100, 0, 50, 50, 0, 0),
                            testdoc::TextNote(200, 0, 50, 50)};
  const std::string path =
      dir_.Put("plain.json", testdoc::Document({testdoc::Page(1000, 1000, annotations)}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(CallsOf(kOrdinalGetAnnotationInformation).size(), 6u);
  EXPECT_EQ(CallsOf(kOrdinalGetAnnotationAttribute).size(), 8u)
      << "both attributes of both rectangles, in both passes";
  EXPECT_TRUE(CallsOf(kOrdinalAddAnnotation).empty());
  EXPECT_TRUE(CallsOf(kOrdinalRemoveAnnotation).empty());
  EXPECT_EQ(testdoc::ReadDocument(path)["pages"][0]["annotations"], annotations);
}

TEST_F(MaskDocumentTest, FramesCoveringThePageLeaveNoMask) {
  const std::string path = dir_.Put(
      "covered.json",
      testdoc::Document({testdoc::Page(
          1000, 1000,
          {testdoc::KeepFrame(0, 0, 1000, 600), testdoc::KeepFrame(-10, 500, 1100, 600)})}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(CallsOf(kOrdinalRemoveAnnotation).size(), 2u);
  EXPECT_TRUE(CallsOf(kOrdinalAddAnnotation).empty());
  EXPECT_TRUE(RecordedMessages().empty());
  EXPECT_TRUE(testdoc::ReadDocument(path)["pages"][0]["annotations"].empty());
}

TEST_F(MaskDocumentTest, FramesAreCarvedForwardAndRemovedBackward) {
  const Json second = testdoc::KeepFrame(100, 100, 200, 200);
  const Json fifth = testdoc::KeepFrame(150, 500, 500, 300);
  const std::string path =
      dir_.Put("order.json",
               testdoc::Document({testdoc::Page(
                   1000, 1000,
                   {testdoc::TextNote(0, 0, 1, 1), second, testdoc::Rectangle(0, 0, 9, 9, 1, 1),
                    testdoc::TextNote(0, 0, 2, 2), fifth, testdoc::TextNote(0, 0, 3, 3)})}));
  ASSERT_TRUE(MaskDocument(path.c_str()));

  // Removal: index 5 first, then index 2 (the collecting pass saw them as
  // the 4th and 2nd rectangle, whose handles the attribute reads name).
  const std::vector<RecordedCall> removals = CallsOf(kOrdinalRemoveAnnotation);
  ASSERT_EQ(removals.size(), 2u);
  const std::vector<RecordedCall> reads = CallsOf(kOrdinalGetAnnotationAttribute);
  ASSERT_EQ(reads.size(), 12u);
  EXPECT_EQ(removals[0].args[1], reads[4].args[0]);
  EXPECT_EQ(removals[1].args[1], reads[0].args[0]);

  // Carving: the masks follow the list of a region carved in the order 2, 5.
  MaskRegion* region = MaskRegion::Create(1000, 1000);
  ASSERT_TRUE(region->Exclude(100, 100, 200, 200));
  ASSERT_TRUE(region->Exclude(150, 500, 500, 300));
  region->GrowSlivers(kMinimumRectangleSize);
  const std::vector<RecordedCall> adds = CallsOf(kOrdinalAddAnnotation);
  std::size_t i = 0;
  for (const MaskPiece* p = region->First(); p != nullptr; p = p->next, ++i) {
    ASSERT_LT(i, adds.size());
    EXPECT_EQ(adds[i].args[3], p->x);
    EXPECT_EQ(adds[i].args[4], p->y);
    EXPECT_EQ(adds[i].record[4], p->width);
    EXPECT_EQ(adds[i].record[5], p->height);
  }
  EXPECT_EQ(i, adds.size());
  MaskRegion::Destroy(region);
}

TEST_F(MaskDocumentTest, UnreadableFillStyleEndsThePassQuietly) {
  Json rect = testdoc::Rectangle(0, 0, 50, 50, 0, 0);
  rect["attributes"].erase("%FillStyle");
  const Json document =
      testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(0, 0, 10, 10), rect})});
  const std::string path = dir_.Put("fill.json", document);
  const std::string before = testdoc::ReadFile(path);
  EXPECT_FALSE(MaskDocument(path.c_str()));
  EXPECT_TRUE(RecordedMessages().empty());
  EXPECT_TRUE(CallsOf(kOrdinalSaveDocument).empty());
  EXPECT_EQ(CallsOf(kOrdinalCloseDocument).size(), 1u);
  EXPECT_EQ(testdoc::ReadFile(path), before);
}

// Refused rectangles: the rest of the page is still masked, each page with a
// refusal is named once, in page order, and the document is saved.
TEST_F(MaskDocumentTest, RefusedPiecesAreReportedOncePerPage) {
  // Frames near the top edge leave a low strip that grows off the page.
  const Json refusing = testdoc::Page(1000, 1000, {testdoc::KeepFrame(0, 100, 1000, 800)});
  const Json plain = testdoc::Page(1000, 1000, {testdoc::TextNote(0, 0, 5, 5)});
  Json document = testdoc::Document({plain, refusing, plain, refusing});
  document["host"] = {{"refuseOffPage", true}};
  const std::string path = dir_.Put("refuse.json", document);
  ASSERT_TRUE(MaskDocument(path.c_str()));
  const std::string suffix = testdoc::Cp932("ページにマスクできない部分がありました。");
  EXPECT_EQ(RecordedMessages(), (std::vector<std::string>{"2" + suffix + "(" + path + ")",
                                                          "4" + suffix + "(" + path + ")"}));
  const Json saved = testdoc::ReadDocument(path);
  // (0, 900, 1000, 100) grows to the page bottom and beyond: refused. The top
  // strip (0, 0, 1000, 100) grows upward: refused as well. Nothing is left.
  EXPECT_TRUE(saved["pages"][1]["annotations"].empty());
  EXPECT_EQ(CallsOf(kOrdinalAddAnnotation).size(), 4u);
  EXPECT_TRUE(CallsOf(kOrdinalSetAnnotationAttribute).empty());
  EXPECT_EQ(CallsOf(kOrdinalSaveDocument).size(), 1u);
}

TEST_F(MaskDocumentTest, PiecesBesideARefusedOneAreStillMasked) {
  Json document =
      testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(400, 100, 200, 200)})});
  document["host"] = {{"refuseOffPage", true}};
  const std::string path = dir_.Put("partly.json", document);
  ASSERT_TRUE(MaskDocument(path.c_str()));
  // The top strip grows off the page and is refused; the side pieces grow
  // into the bottom strip and stay on the page.
  EXPECT_EQ(RecordedMessages().size(), 1u);
  EXPECT_EQ(CallsOf(kOrdinalAddAnnotation).size(), 4u);
  const Json saved = testdoc::ReadDocument(path)["pages"][0]["annotations"];
  const std::vector<std::vector<int>> expected = {
      {600, 100, 400, 900}, {0, 100, 400, 900}, {0, 300, 1000, 700}};
  ASSERT_EQ(saved.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(
        (std::vector<int>{saved[i]["x"], saved[i]["y"], saved[i]["width"], saved[i]["height"]}),
        expected[i]);
    EXPECT_EQ(saved[i]["attributes"][kBorderStyleAttribute], kBorderlessStyle);
  }
}

// Only a border style of exactly 1 with a fill style other than 1 makes a
// keep-frame; any other pair of values leaves the rectangle alone.
TEST_F(MaskDocumentTest, KeepFramesAreRectanglesWithBorderOneAndFillNotOne) {
  struct Styles {
    std::int32_t border;
    std::int32_t fill;
    bool keep;
  };
  const Styles styles[] = {{1, 0, true},   {1, 2, true},  {1, -1, true},
                           {1, 1, false},  {0, 0, false}, {2, 0, false},
                           {-1, 0, false}, {2, 2, false}, {0, 1, false}};
  Json annotations = Json::array();
  Json kept = Json::array();
  std::int32_t x = 0;
  for (const Styles& s : styles) {
    const Json rectangle = testdoc::Rectangle(x, 0, 10, 10, s.border, s.fill);
    annotations.push_back(rectangle);
    if (!s.keep) kept.push_back(rectangle);
    x += 20;
  }
  annotations.push_back(testdoc::Annotation(testdoc::kTextNote, 0, 0, 10, 10,
                                            {{"%BorderStyle", 1}, {"%FillStyle", 0}}));
  kept.push_back(annotations.back());
  const std::string path =
      dir_.Put("styles.json", testdoc::Document({testdoc::Page(1000, 1000, annotations)}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  const Json saved = testdoc::ReadDocument(path)["pages"][0]["annotations"];
  ASSERT_GE(saved.size(), kept.size());
  EXPECT_EQ(Json(std::vector<Json>(saved.begin(),
                                   saved.begin() + static_cast<std::ptrdiff_t>(kept.size()))),
            kept)
      << "all but the three keep-frames stay, in order, before the masks";
  EXPECT_EQ(CallsOf(kOrdinalRemoveAnnotation).size(), 3u);
}

// The pictures and the tests tell masks from other rectangles by this rule:
// borderless only, not "anything but bordered".
TEST(KeepFrameRule, OnlyBorderlessRectanglesAreMasks) {
  EXPECT_TRUE(masking::IsMask(kRectangleAnnotation, 0));
  for (const std::int32_t border : {1, 2, -1}) {
    EXPECT_FALSE(masking::IsMask(kRectangleAnnotation, border)) << "border style " << border;
  }
  EXPECT_FALSE(masking::IsMask(testdoc::kTextNote, 0));
}

TEST_F(MaskDocumentTest, FilledRectangleIsNeitherCarvedNorRemoved) {
  const Json filled = testdoc::Rectangle(100, 100, 200, 200, 1, 1);
  const std::string path =
      dir_.Put("filled.json", testdoc::Document({testdoc::Page(
                                  1000, 1000, {filled, testdoc::KeepFrame(0, 0, 1000, 1000)})}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(testdoc::ReadDocument(path)["pages"][0]["annotations"], Json::array({filled}));
}

TEST_F(MaskDocumentTest, OpenFailureShowsTheHostMessageAndClosesNothing) {
  const std::string missing = dir_.File("missing.json");
  EXPECT_FALSE(MaskDocument(missing.c_str()));
  EXPECT_EQ(RecordedMessages(),
            std::vector<std::string>{testdoc::Cp932("指定されたファイルが見つかりません。")});
  EXPECT_EQ(Ordinals(), std::vector<int>{kOrdinalOpenDocument});

  RecordedMessages().clear();
  Json document = testdoc::Document(Json::array());
  document["host"] = {
      {"failures", {{{"ordinal", kOrdinalOpenDocument}, {"call", 1}, {"result", -12345}}}}};
  const std::string odd = dir_.Put("odd.json", document);
  EXPECT_FALSE(MaskDocument(odd.c_str()));
  EXPECT_EQ(RecordedMessages(), std::vector<std::string>{testdoc::Cp932("エラーが発生しました。")});
  EXPECT_TRUE(CallsOf(kOrdinalCloseDocument).empty());
}

TEST_F(MaskDocumentTest, PageMessageCopiesAnyPathVerbatim) {
  // A "%" in the path must not be read as a format, and no buffer limits its length.
  std::filesystem::path folder = std::filesystem::path(dir_.path()) / "100%d %s %n";
  for (int i = 0; i < 12; ++i) folder /= std::string(40, static_cast<char>('a' + i));
  std::filesystem::create_directories(folder);
  Json document =
      testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(0, 100, 1000, 800)})});
  document["host"] = {{"minAnnotationSize", 5000}};
  const std::string path = (folder / "doc.json").string();
  testdoc::WriteFile(path, document.dump());
  ASSERT_GT(path.size(), 500u);
  ASSERT_TRUE(MaskDocument(path.c_str()));
  ASSERT_EQ(RecordedMessages().size(), 1u);
  EXPECT_EQ(RecordedMessages()[0],
            "1" + testdoc::Cp932("ページにマスクできない部分がありました。") + "(" + path + ")");
}

TEST_F(MaskDocumentTest, PageMessageWithoutMemoryStillNamesThePage) {
  Json document =
      testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(0, 100, 1000, 800)})});
  document["host"] = {{"minAnnotationSize", 5000}};
  const std::string path = dir_.Put("short.json", document);
  ASSERT_TRUE(MaskDocument(path.c_str()));
  const long requests = AllocationRequests();  // the message's text is the last one

  hostsim::Reset();
  RecordedMessages().clear();
  testdoc::WriteFile(path, document.dump());
  FailAllocationAfter(requests);
  EXPECT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(
      RecordedMessages(),
      std::vector<std::string>{"1" + testdoc::Cp932("ページにマスクできない部分がありました。")});
}

}  // namespace
