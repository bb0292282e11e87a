// Nothing lost: the stand-in host's save failing at each of its steps, and
// the masking pass failing at each host call and each allocation, never
// change the document's file and never leave a temporary file beside it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "hostsim/file_access.h"
#include "hostsim/hostsim.h"
#include "masking/mask_document.h"
#include "tests/support/documents.h"
#include "tests/support/failing_memory.h"
#include "tests/support/message_recorder.h"
#include "tests/support/pass_test.h"

namespace {

using masking::MaskDocument;

using hostsim::SaveStep;
using testdoc::Json;

struct StepCase {
  SaveStep step;
  int code;           // the system error it fails with
  const char* error;  // how ReplaceFileWith's error text begins
  HostResult result;  // what the host's save answers
};

// Every step before the document is replaced, failing as the system makes
// it fail: only a refused access is the host's "cannot open".
const StepCase kSteps[] = {
    {SaveStep::kCreateTemporary, EMFILE, "cannot create a temporary file next to ", kHostFail},
    {SaveStep::kCreateTemporary, EACCES, "cannot create a temporary file next to ",
     kHostAccessDenied},
    {SaveStep::kWriteTemporary, ENOSPC, "cannot write ", kHostFail},
    {SaveStep::kWriteTemporary, EFBIG, "cannot write ", kHostFail},
    {SaveStep::kFlushTemporary, EIO, "cannot write ", kHostFail},
    {SaveStep::kName, EACCES, "cannot create a temporary file next to ", kHostAccessDenied},
    {SaveStep::kExchange, EXDEV, "cannot replace ", kHostFail},
};

std::string StepName(const StepCase& c) {
  return std::to_string(static_cast<int>(c.step)) + " with " + std::strerror(c.code);
}

// Three pages: keep-frames among other annotations, a page without frames,
// and a page whose low top strip is smaller than the host accepts.
Json ThreePages() {
  Json document = testdoc::Document(
      {testdoc::Page(
           21000, 29700,
           {testdoc::TextNote(1000, 1000, 4000, 500), testdoc::KeepFrame(1000, 2000, 8000, 3000),
            testdoc::KeepFrame(12000, 15000, 6000, 4000)}),
       testdoc::Page(21000, 29700, {testdoc::Rectangle(100, 100, 500, 500, 1, 1)}),
       testdoc::Page(1000, 1000, {testdoc::KeepFrame(0, 50, 1000, 900)})});
  document["host"] = {{"minAnnotationSize", 400}};
  return document;
}

class SaveTest : public testpass::PassTest {};

TEST_F(SaveTest, AtomicWriteFailingAtEachStepKeepsTheOriginalAndSaysWhy) {
  const std::string path = dir_.File("doc.json");
  const std::string original(100000, 'o');
  for (const StepCase& c : kSteps) {
    SCOPED_TRACE(StepName(c));
    testdoc::WriteFile(path, original);
    hostsim::FailSaveStepForTesting(c.step, c.code);
    std::string error;
    EXPECT_NE(hostsim::ReplaceFileContent(path, std::string(200000, 'n'), {}, error),
              hostsim::FileStatus::kOk);
    hostsim::FailSaveStepForTesting(SaveStep::kNone);
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_NE(error.find(std::strerror(c.code)), std::string::npos) << error;
    EXPECT_EQ(testdoc::ReadFile(path), original);
    EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"}) << "no temporary file";
  }
  // The hook is off again: the next write goes through.
  std::string error;
  ASSERT_EQ(hostsim::ReplaceFileContent(path, "new", {}, error), hostsim::FileStatus::kOk) << error;
  EXPECT_EQ(testdoc::ReadFile(path), "new");
}

TEST_F(SaveTest, HostSaveFailingAtEachStepReportsItAndKeepsTheDocumentOpen) {
  const std::string path = dir_.Put("doc.json", ThreePages());
  const std::string before = testdoc::ReadFile(path);
  HostDocument document = 0;
  HostOpenMode mode{sizeof(HostOpenMode), 1, 1};
  ASSERT_EQ(HostOpenDocument(path.c_str(), &document, &mode), kHostOk);
  HostAnnotationInfo info{sizeof(HostAnnotationInfo), 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(HostGetAnnotationInformation(document, 1, 0, 2, &info, nullptr), kHostOk);
  ASSERT_EQ(HostRemoveAnnotation(document, info.handle, nullptr), kHostOk);
  for (const StepCase& c : kSteps) {
    SCOPED_TRACE(StepName(c));
    hostsim::FailSaveStepForTesting(c.step, c.code);
    EXPECT_EQ(HostSaveDocument(document, nullptr), c.result);
    hostsim::FailSaveStepForTesting(SaveStep::kNone);
    EXPECT_EQ(testdoc::ReadFile(path), before);
    EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
  }
  // The changes are still there to be saved.
  EXPECT_EQ(HostSaveDocument(document, nullptr), kHostOk);
  EXPECT_EQ(HostCloseDocument(document, nullptr), kHostOk);
  EXPECT_EQ(testdoc::ReadDocument(path)["pages"][0]["annotations"].size(), 2u);
}

// The pass examines the save: a document whose save failed stays unmasked on
// disk and must not be reported as done.
TEST_F(SaveTest, PassWhoseSaveFailsAtAnyStepEndsWithTheHostMessage) {
  const std::string path = dir_.File("doc.json");
  const std::string bytes = ThreePages().dump(2);
  testdoc::WriteFile(path, bytes);
  ASSERT_TRUE(MaskDocument(path.c_str()));
  const std::vector<std::string> pageMessages = RecordedMessages();
  ASSERT_EQ(pageMessages.size(), 1u) << "page 3's strips are too low for the host";
  for (const StepCase& c : kSteps) {
    SCOPED_TRACE(StepName(c));
    testdoc::WriteFile(path, bytes);
    hostsim::Reset();
    RecordedMessages().clear();
    hostsim::FailSaveStepForTesting(c.step, c.code);
    EXPECT_FALSE(MaskDocument(path.c_str()));
    hostsim::FailSaveStepForTesting(SaveStep::kNone);
    const std::vector<int> ordinals = Ordinals();
    ASSERT_GE(ordinals.size(), 2u);
    EXPECT_EQ(ordinals[ordinals.size() - 2], kOrdinalSaveDocument);
    EXPECT_EQ(ordinals.back(), kOrdinalCloseDocument);
    EXPECT_EQ(hostsim::OpenHandleCount(), 0);
    std::vector<std::string> expected = pageMessages;
    expected.push_back(testdoc::Cp932(c.result == kHostAccessDenied
                                          ? "指定されたファイルを開くことができません。"
                                          : "エラーが発生しました。"));
    EXPECT_EQ(RecordedMessages(), expected);
    EXPECT_EQ(testdoc::ReadFile(path), bytes);
    EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
  }
}

// Every host call of a whole pass failing in turn, and every allocation: the
// file is either untouched or a whole document again, and the folder holds
// nothing else.
TEST_F(SaveTest, FailingPassNeverLeavesATemporaryFile) {
  const std::string path = dir_.File("doc.json");
  testdoc::WriteFile(path, ThreePages().dump(2));
  ASSERT_TRUE(MaskDocument(path.c_str()));
  const std::vector<int> baseline = Ordinals();
  const long allocations = AllocationRequests();
  ASSERT_GT(baseline.size(), 40u);
  ASSERT_GE(allocations, 3) << "a region for each page";

  const auto run = [&](const Json& document, long failingAllocation) {
    const std::string before = document.dump(2);
    testdoc::WriteFile(path, before);
    hostsim::Reset();
    FailAllocationAfter(failingAllocation);
    const bool result = MaskDocument(path.c_str());
    FailAllocationAfter(0);
    // A close that fails keeps the stand-in's handle after a good save.
    if (hostsim::OpenHandleCount() != 0) {
      EXPECT_TRUE(result);
      EXPECT_EQ(hostsim::Calls().back().ordinal, kOrdinalCloseDocument);
      hostsim::Reset();
    }
    EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
    EXPECT_EQ(LiveBlocks(), 0);
    if (result) {
      EXPECT_EQ(Json::parse(testdoc::ReadFile(path))["pages"].size(), 3u);
    } else {
      EXPECT_EQ(testdoc::ReadFile(path), before) << "a failed pass leaves the file as it was";
    }
  };

  std::map<int, int> seen;
  for (const int ordinal : baseline) {
    const int call = ++seen[ordinal];
    SCOPED_TRACE("ordinal " + std::to_string(ordinal) + " call " + std::to_string(call));
    Json document = ThreePages();
    document["host"]["failures"] = {
        {{"ordinal", ordinal}, {"call", call}, {"result", "0x80004005"}}};
    run(document, 0);
  }
  for (long failing = 1; failing <= allocations; ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing));
    run(ThreePages(), failing);
  }
}

}  // namespace
