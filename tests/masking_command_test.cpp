#include "masking/masking_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hostsim/hostsim.h"
#include "tests/support/documents.h"
#include "tests/support/message_recorder.h"
#include "tests/support/pass_test.h"

namespace {

using masking::CommandOutcome;
using masking::IsMaskingCommand;
using masking::RunMaskingCommand;

using testdoc::Json;

const std::string kCommand = testdoc::Cp932("マスキング");

class MaskingCommandTest : public testpass::PassTest {
 protected:
  std::string MaskableDocument(const std::string& name) const {
    return dir_.Put(
        name,
        testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(100, 100, 200, 200)})}));
  }
};

TEST_F(MaskingCommandTest, OtherNamesAreNotOursAndTouchNothing) {
  const std::string path = MaskableDocument("a.json");
  const char* paths[] = {path.c_str()};
  const std::string others[] = {
      "", kCommand.substr(0, 8), kCommand.substr(0, 9), kCommand + "X", kCommand + " ", "masking"};
  for (const std::string& name : others) {
    EXPECT_FALSE(IsMaskingCommand(name.c_str()));
    EXPECT_EQ(RunMaskingCommand(name.c_str(), 1, paths), CommandOutcome::kNotOurs) << name;
  }
  EXPECT_EQ(RunMaskingCommand(nullptr, 1, paths), CommandOutcome::kNotOurs);
  EXPECT_TRUE(RecordedMessages().empty());
  EXPECT_TRUE(hostsim::Calls().empty());
}

TEST_F(MaskingCommandTest, NothingSelectedAsksForASelection) {
  const std::string ask = testdoc::Cp932("対象のXDW文書を選択してから実行してください。");
  const std::string path = MaskableDocument("a.json");
  const char* paths[] = {path.c_str()};
  for (std::int32_t count : {0, -1}) {
    RecordedMessages().clear();
    EXPECT_EQ(RunMaskingCommand(kCommand.c_str(), count, paths), CommandOutcome::kNothingSelected);
    EXPECT_EQ(RecordedMessages(), std::vector<std::string>{ask});
  }
  // A count without a list is no selection either.
  RecordedMessages().clear();
  EXPECT_EQ(RunMaskingCommand(kCommand.c_str(), 2, nullptr), CommandOutcome::kNothingSelected);
  EXPECT_EQ(RecordedMessages(), std::vector<std::string>{ask});
  EXPECT_TRUE(hostsim::Calls().empty());
}

TEST_F(MaskingCommandTest, EveryDocumentMaskedThenTheClosingMessage) {
  const std::string first = MaskableDocument("1.json");
  const std::string second = MaskableDocument("2.json");
  const char* paths[] = {first.c_str(), second.c_str()};
  EXPECT_EQ(RunMaskingCommand(kCommand.c_str(), 2, paths), CommandOutcome::kFinished);
  EXPECT_EQ(RecordedMessages(),
            std::vector<std::string>{testdoc::Cp932("マスキング処理を終了しました。")});
  EXPECT_EQ(OpenedPaths(), (std::vector<std::string>{first, second}));
  EXPECT_EQ(testdoc::ReadDocument(second)["pages"][0]["annotations"].size(), 4u);
}

TEST_F(MaskingCommandTest, RunStopsAtTheFirstFailingDocument) {
  const std::string first = MaskableDocument("1.json");
  const std::string missing = dir_.File("2.json");
  const std::string third = MaskableDocument("3.json");
  const std::string thirdBefore = testdoc::ReadFile(third);
  const char* paths[] = {first.c_str(), missing.c_str(), third.c_str()};
  EXPECT_EQ(RunMaskingCommand(kCommand.c_str(), 3, paths), CommandOutcome::kStopped);
  EXPECT_EQ(RecordedMessages(),
            (std::vector<std::string>{testdoc::Cp932("指定されたファイルが見つかりません。"),
                                      testdoc::Cp932("エラーのため中止します。")}));
  EXPECT_EQ(testdoc::ReadDocument(first)["pages"][0]["annotations"].size(), 4u) << "kept as masked";
  EXPECT_EQ(OpenedPaths(), (std::vector<std::string>{first, missing}))
      << "the third is never opened";
  EXPECT_EQ(testdoc::ReadFile(third), thirdBefore);
}

// A document whose save failed is still unmasked on disk: the run must not
// end with the closing message as if it had been masked.
TEST_F(MaskingCommandTest, FailedSaveStopsTheRun) {
  Json document =
      testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(100, 100, 200, 200)})});
  document["host"] = {
      {"failures", {{{"ordinal", kOrdinalSaveDocument}, {"call", 1}, {"result", "0x80070005"}}}}};
  const std::string first = dir_.Put("1.json", document);
  const std::string before = testdoc::ReadFile(first);
  const std::string second = MaskableDocument("2.json");
  const char* paths[] = {first.c_str(), second.c_str()};
  EXPECT_EQ(RunMaskingCommand(kCommand.c_str(), 2, paths), CommandOutcome::kStopped);
  EXPECT_EQ(RecordedMessages(),
            (std::vector<std::string>{testdoc::Cp932("指定されたファイルを開くことができません。"),
                                      testdoc::Cp932("エラーのため中止します。")}));
  EXPECT_EQ(testdoc::ReadFile(first), before);
  EXPECT_EQ(OpenedPaths(), std::vector<std::string>{first});
}

// A page whose pieces the host refused is reported, the run goes on and
// ends with the closing message, and its outcome says that parts of some
// page stay uncovered, even when a later document is wholly masked.
TEST_F(MaskingCommandTest, RefusedRectanglesFinishTheRunWithPartsUncovered) {
  Json document =
      testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(100, 100, 200, 200)})});
  document["host"] = {{"minAnnotationSize", 5000}};
  const std::string refusing = dir_.Put("1.json", document);
  const std::string plain = MaskableDocument("2.json");
  const char* paths[] = {refusing.c_str(), plain.c_str()};
  EXPECT_EQ(RunMaskingCommand(kCommand.c_str(), 2, paths), CommandOutcome::kFinishedUncovered);
  EXPECT_EQ(
      RecordedMessages(),
      (std::vector<std::string>{
          "1" + testdoc::Cp932("ページにマスクできない部分がありました。") + "(" + refusing + ")",
          testdoc::Cp932("マスキング処理を終了しました。")}));
  EXPECT_EQ(OpenedPaths(), (std::vector<std::string>{refusing, plain}));
}

TEST_F(MaskingCommandTest, MissingPathInTheListStopsTheRun) {
  const std::string first = MaskableDocument("1.json");
  const std::string third = MaskableDocument("3.json");
  const char* paths[] = {first.c_str(), nullptr, third.c_str()};
  EXPECT_EQ(RunMaskingCommand(kCommand.c_str(), 3, paths), CommandOutcome::kStopped);
  EXPECT_EQ(RecordedMessages(),
            std::vector<std::string>{testdoc::Cp932("エラーのため中止します。")});
  EXPECT_EQ(OpenedPaths(), std::vector<std::string>{first});
}

}  // namespace
