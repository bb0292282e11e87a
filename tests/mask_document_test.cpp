#include "masking/mask_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "hostsim/hostsim.h"
#include "masking/mask_region.h"
#include "tests/support/documents.h"
#include "tests/support/failing_memory.h"
#include "tests/support/message_recorder.h"

namespace {

using hostsim::RecordedCall;
using testdoc::Json;
using Words = std::vector<std::int32_t>;
using Args = std::vector<std::int64_t>;

class MaskDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::Reset();
    RecordedMessages().clear();
    FailAllocationAfter(0);
  }
  void TearDown() override {
    EXPECT_EQ(hostsim::OpenHandleCount(), 0) << "every opened document is closed";
    EXPECT_EQ(LiveBlocks(), 0) << "no region outlives its page";
  }

  std::vector<RecordedCall> CallsOf(int ordinal) const {
    std::vector<RecordedCall> calls;
    for (const RecordedCall& c : hostsim::Calls()) {
      if (c.ordinal == ordinal) calls.push_back(c);
    }
    return calls;
  }

  std::vector<int> Ordinals() const {
    std::vector<int> ordinals;
    for (const RecordedCall& c : hostsim::Calls()) ordinals.push_back(c.ordinal);
    return ordinals;
  }

  testdoc::DocumentDir dir_;
};

// The whole conversation with the host for one page with a text note at
// index 1 and a keep-frame at index 2.
TEST_F(MaskDocumentTest, CallsTheHostInOrderWithSizedRecords) {
  const std::string path = dir_.Put(
      "one.json", testdoc::Document({testdoc::Page(1000, 1000,
                                                   {testdoc::TextNote(10, 20, 30, 40),
                                                    testdoc::KeepFrame(100, 100, 200, 200)})}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  EXPECT_TRUE(RecordedMessages().empty());

  EXPECT_EQ(Ordinals(), (std::vector<int>{22, 24, 25,                      // open, document, page
                                          55, 55, 56, 56,                  // collecting pass
                                          55, 56, 56, 65, 55,              // removal pass, backward
                                          64, 66, 64, 66, 64, 66, 64, 66,  // four masks
                                          32, 23}));
  const std::vector<RecordedCall>& calls = hostsim::Calls();
  const std::int64_t doc = calls[0].handleOut;
  ASSERT_NE(doc, 0);
  EXPECT_EQ(calls[0].text, path);
  EXPECT_EQ(calls[0].record, (Words{12, 1, 1}));
  EXPECT_EQ(calls[1].args, (Args{doc}));
  EXPECT_EQ(calls[1].record, (Words{40, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(calls[2].args, (Args{doc, 1}));
  EXPECT_EQ(calls[2].record, (Words{32, 0, 0, 0, 0, 0, 0, 0}));

  // The annotation record is sized before every call and otherwise keeps
  // what the host wrote last.
  EXPECT_EQ(calls[3].args, (Args{doc, 1, 0, 1, 0}));
  EXPECT_EQ(calls[3].record, (Words{32, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(calls[4].args, (Args{doc, 1, 0, 2, 0}));
  const std::int32_t noteHandle = calls[4].record[1];
  EXPECT_EQ(calls[4].record, (Words{32, noteHandle, 10, 20, 30, 40, testdoc::kTextNote, 0}));
  const std::int32_t frameHandle = calls[7].record[1];
  EXPECT_EQ(calls[7].record, (Words{32, frameHandle, 100, 100, 200, 200, testdoc::kRectangle, 0}));
  EXPECT_EQ(calls[5].args, (Args{frameHandle, 4, 0}));
  EXPECT_EQ(calls[5].text, "%BorderStyle");
  EXPECT_EQ(calls[6].args, (Args{frameHandle, 4, 0}));
  EXPECT_EQ(calls[6].text, "%FillStyle");
  EXPECT_EQ(calls[7].args, (Args{doc, 1, 0, 2, 0}));
  EXPECT_EQ(calls[10].args, (Args{doc, frameHandle, 0}));
  EXPECT_EQ(calls[11].args, (Args{doc, 1, 0, 1, 0}));

  // The masks: the region's pieces in list order, each made borderless.
  const std::vector<std::vector<std::int32_t>> pieces = {
      {300, 100, 700, 900}, {-300, 100, 400, 900}, {0, 300, 1000, 700}, {0, -300, 1000, 400}};
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const RecordedCall& add = calls[12 + 2 * i];
    const RecordedCall& set = calls[13 + 2 * i];
    const auto& p = pieces[i];
    EXPECT_EQ(add.args, (Args{doc, testdoc::kRectangle, 1, p[0], p[1], 1, 0})) << "piece " << i;
    EXPECT_EQ(add.record, (Words{24, testdoc::kRectangle, 0, 0, p[2], p[3]})) << "piece " << i;
    EXPECT_EQ(set.args, (Args{doc, add.handleOut, 0, 0, 0, 0})) << "piece " << i;
    EXPECT_EQ(set.text, "%BorderStyle");
  }
  EXPECT_EQ(calls[20].args, (Args{doc, 0}));
  EXPECT_EQ(calls[21].args, (Args{doc, 0}));
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
    EXPECT_EQ(annotations[i]["attributes"]["%BorderStyle"], 0);
    EXPECT_EQ(annotations[i]["attributes"]["%FillStyle"], 1) << "other attributes stay the host's";
  }
  EXPECT_EQ(annotations[4]["y"], -300) << "grown pieces go to the host as they lie";
}

TEST_F(MaskDocumentTest, DocumentWithoutPagesIsSavedAndClosed) {
  const std::string path = dir_.Put("empty.json", testdoc::Document(Json::array()));
  EXPECT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(Ordinals(), (std::vector<int>{22, 24, 32, 23}));
  EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(MaskDocumentTest, FailingDocumentInformationLeavesAPageCountOfZero) {
  Json document = testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(0, 0, 5, 5)})});
  document["host"] = {{"failures", {{{"ordinal", 24}, {"call", 1}, {"result", "0x80004005"}}}}};
  const std::string path = dir_.Put("info.json", document);
  EXPECT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(Ordinals(), (std::vector<int>{22, 24, 32, 23}));
  EXPECT_TRUE(RecordedMessages().empty());
  EXPECT_EQ(testdoc::ReadDocument(path)["pages"][0]["annotations"].size(), 1u);
}

TEST_F(MaskDocumentTest, PageWithoutKeepFramesIsReadTwiceAndLeftAlone) {
  const Json annotations = {testdoc::Rectangle(0, 0, 50, 50, 1, 1),
                            testdoc::Rectangle(100, 0, 50, 50, 0, 0),
                            testdoc::TextNote(200, 0, 50, 50)};
  const std::string path =
      dir_.Put("plain.json", testdoc::Document({testdoc::Page(1000, 1000, annotations)}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(CallsOf(55).size(), 6u);
  EXPECT_EQ(CallsOf(56).size(), 8u) << "both attributes of both rectangles, in both passes";
  EXPECT_TRUE(CallsOf(64).empty());
  EXPECT_TRUE(CallsOf(65).empty());
  EXPECT_EQ(testdoc::ReadDocument(path)["pages"][0]["annotations"], annotations);
}

TEST_F(MaskDocumentTest, FramesCoveringThePageLeaveNoMask) {
  const std::string path = dir_.Put(
      "covered.json",
      testdoc::Document({testdoc::Page(
          1000, 1000,
          {testdoc::KeepFrame(0, 0, 1000, 600), testdoc::KeepFrame(-10, 500, 1100, 600)})}));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  EXPECT_EQ(CallsOf(65).size(), 2u);
  EXPECT_TRUE(CallsOf(64).empty());
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
  const std::vector<RecordedCall> removals = CallsOf(65);
  ASSERT_EQ(removals.size(), 2u);
  const std::vector<RecordedCall> reads = CallsOf(56);
  ASSERT_EQ(reads.size(), 12u);
  EXPECT_EQ(removals[0].args[1], reads[4].args[0]);
  EXPECT_EQ(removals[1].args[1], reads[0].args[0]);

  // Carving: the masks follow the list of a region carved in the order 2, 5.
  MaskRegion* region = MaskRegion::Create(1000, 1000);
  ASSERT_TRUE(region->Exclude(100, 100, 200, 200));
  ASSERT_TRUE(region->Exclude(150, 500, 500, 300));
  region->GrowSlivers(300);
  const std::vector<RecordedCall> adds = CallsOf(64);
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
  EXPECT_TRUE(CallsOf(32).empty());
  EXPECT_EQ(CallsOf(23).size(), 1u);
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
  EXPECT_EQ(CallsOf(64).size(), 4u);
  EXPECT_TRUE(CallsOf(66).empty());
  EXPECT_EQ(CallsOf(32).size(), 1u);
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
  EXPECT_EQ(CallsOf(64).size(), 4u);
  const Json saved = testdoc::ReadDocument(path)["pages"][0]["annotations"];
  const std::vector<std::vector<int>> expected = {
      {600, 100, 400, 900}, {0, 100, 400, 900}, {0, 300, 1000, 700}};
  ASSERT_EQ(saved.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(
        (std::vector<int>{saved[i]["x"], saved[i]["y"], saved[i]["width"], saved[i]["height"]}),
        expected[i]);
    EXPECT_EQ(saved[i]["attributes"]["%BorderStyle"], 0);
  }
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
  EXPECT_EQ(Ordinals(), std::vector<int>{22});

  RecordedMessages().clear();
  Json document = testdoc::Document(Json::array());
  document["host"] = {{"failures", {{{"ordinal", 22}, {"call", 1}, {"result", -12345}}}}};
  const std::string odd = dir_.Put("odd.json", document);
  EXPECT_FALSE(MaskDocument(odd.c_str()));
  EXPECT_EQ(RecordedMessages(), std::vector<std::string>{testdoc::Cp932("エラーが発生しました。")});
  EXPECT_TRUE(CallsOf(23).empty());
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

TEST(ShowHostError, PicksTheTextByExactCode) {
  const std::pair<std::uint32_t, const char*> table[] = {
      {0x80040001u, "DocuWorksがインストールされていません。"},
      {0x80040003u, "指定された操作をする権利がありません。"},
      {0x80070002u, "指定されたファイルが見つかりません。"},
      {0x80070005u, "指定されたファイルを開くことができません。"},
      {0x8007007Bu, "指定されたファイルを開くことができません。"},
      {0x800E0005u, "指定されたファイルを開くことができません。"},
      {0x8007000Bu, "指定されたファイルは正しいフォーマットではありません。"},
      {0x80070050u, "指定されたファイルはすでに存在します。"},
      {0x80070003u, "エラーが発生しました。"},
      {0x80040002u, "エラーが発生しました。"},
      {0x80004005u, "エラーが発生しました。"},
      {0x80070057u, "エラーが発生しました。"},
  };
  for (const auto& [code, text] : table) {
    RecordedMessages().clear();
    ShowHostError(static_cast<HostResult>(code));
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>{testdoc::Cp932(text)})
        << std::hex << code;
  }
}

}  // namespace
