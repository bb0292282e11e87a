// Makes each host call of a realistic run fail in turn, and each allocation,
// and checks that the pass always ends the way its failure rules say: the
// right result and message, the document closed, saved only on success, and
// the file untouched whenever the pass gave up.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "hostsim/hostsim.h"
#include "masking/mask_document.h"
#include "tests/support/documents.h"
#include "tests/support/failing_memory.h"
#include "tests/support/message_recorder.h"
#include "tests/support/pass_test.h"

namespace {

using testdoc::Json;
using testpass::PassRun;

// Three pages: keep-frames among other annotations, a page without frames,
// and a page where the host refuses the pieces that grow off the page.
Json SweepDocument(bool refuseOffPage) {
  Json document =
      testdoc::Document({testdoc::Page(21000, 29700,
                                       {testdoc::TextNote(1000, 1000, 4000, 500),
                                        testdoc::KeepFrame(1000, 2000, 8000, 3000),
                                        testdoc::Rectangle(5000, 9000, 2000, 2000, 1, 1),
                                        testdoc::KeepFrame(12000, 15000, 6000, 4000)}),
                         testdoc::Page(21000, 29700,
                                       {testdoc::Rectangle(100, 100, 500, 500, 0, 0),
                                        testdoc::TextNote(10, 10, 20, 20)}),
                         testdoc::Page(1000, 1000, {testdoc::KeepFrame(200, 100, 600, 600)})});
  document["host"] = {{"refuseOffPage", refuseOffPage}};
  return document;
}

// The sweep document with a fourth page ruled by 16 vertical and 16
// horizontal hairline keep-frames: 289 pieces, most of them lower than the
// minimum, enough for the page's region to look their neighbours up through
// a grid, beside a bitmap of the pieces' edge values, whose allocations fail
// too.
Json SweepDocumentWithRuledPage() {
  Json document = SweepDocument(false);
  Json frames = Json::array();
  for (int i = 1; i <= 16; ++i) frames.push_back(testdoc::KeepFrame(i * 1200, 0, 20, 29700));
  for (int i = 1; i <= 16; ++i) frames.push_back(testdoc::KeepFrame(0, i * 250, 21000, 20));
  document["pages"].push_back(testdoc::Page(21000, 29700, frames));
  return document;
}

// The sweeps run one pass after another; a close that is made to fail leaves
// its handle with the stand-in, which the next pass's fresh start drops.
class FaultSweep : public testpass::PassTest {
 protected:
  void TearDown() override {
    StartAfresh();
    PassTest::TearDown();
  }
};

TEST_F(FaultSweep, EveryFailingHostCallEndsThePassByTheRules) {
  const std::string path = dir_.File("sweep.json");
  testdoc::WriteFile(path, SweepDocument(true).dump(2));
  const PassRun baseline = MaskOnce(path);
  ASSERT_TRUE(baseline.result);
  ASSERT_EQ(baseline.messages.size(), 1u) << "page 3 has refused pieces";
  ASSERT_GT(baseline.ordinals.size(), 40u);

  int cases = 0;
  for (const char* code : {"0x80004005", "0x80070002"}) {
    const HostResult failing = static_cast<HostResult>(std::stoul(code, nullptr, 16));
    const std::string hostMessage =
        testdoc::Cp932(failing == kHostFileNotFound ? "指定されたファイルが見つかりません。"
                                                    : "エラーが発生しました。");
    std::map<int, int> seen;
    for (std::size_t index = 0; index < baseline.ordinals.size(); ++index) {
      const int ordinal = baseline.ordinals[index];
      const int call = ++seen[ordinal];
      Json document = SweepDocument(true);
      document["host"]["failures"] = {{{"ordinal", ordinal}, {"call", call}, {"result", code}}};
      const std::string bytes = document.dump(2);
      testdoc::WriteFile(path, bytes);
      const PassRun run = MaskOnce(path);
      ++cases;
      SCOPED_TRACE("ordinal " + std::to_string(ordinal) + " call " + std::to_string(call) +
                   " fails with " + code);
      // A close that fails keeps its handle in the stand-in; the pass asked
      // to close it all the same.
      if (ordinal != kOrdinalCloseDocument) {
        EXPECT_EQ(hostsim::OpenHandleCount(), 0);
      }
      EXPECT_EQ(LiveBlocks(), 0);
      switch (ordinal) {
        case kOrdinalOpenDocument:
          EXPECT_FALSE(run.result);
          EXPECT_EQ(run.messages, std::vector<std::string>{hostMessage});
          EXPECT_EQ(run.ordinals, std::vector<int>{kOrdinalOpenDocument}) << "nothing to close";
          break;
        case kOrdinalSaveDocument:  // the document stays unmasked: never reported as done
          EXPECT_FALSE(run.result);
          EXPECT_EQ(run.messages.back(), hostMessage);
          EXPECT_EQ(run.ordinals, baseline.ordinals);
          break;
        case kOrdinalCloseDocument:  // after a good save nothing is lost
          EXPECT_TRUE(run.result);
          EXPECT_EQ(run.messages, baseline.messages);
          EXPECT_EQ(run.ordinals, baseline.ordinals);
          break;
        case kOrdinalGetDocumentInformation:
        case kOrdinalGetPageInformation:
        case kOrdinalGetAnnotationInformation:
          EXPECT_FALSE(run.result);
          EXPECT_EQ(run.messages, std::vector<std::string>{hostMessage});
          break;
        default:  // attribute read and write, removal, add: quietly
          EXPECT_FALSE(run.result);
          EXPECT_TRUE(run.messages.empty());
          break;
      }
      if (!run.result) {
        if (ordinal != kOrdinalOpenDocument) {
          // The pass stops at the failing call: the close alone follows it.
          std::vector<int> expected(
              baseline.ordinals.begin(),
              baseline.ordinals.begin() + static_cast<std::ptrdiff_t>(index) + 1);
          expected.push_back(kOrdinalCloseDocument);
          EXPECT_EQ(run.ordinals, expected);
        }
        EXPECT_EQ(Count(run.ordinals, kOrdinalSaveDocument),
                  ordinal == kOrdinalSaveDocument ? 1 : 0);
        EXPECT_EQ(testdoc::ReadFile(path), bytes) << "a failed pass leaves the file as it was";
      }
    }
  }
  EXPECT_EQ(cases, 2 * static_cast<int>(baseline.ordinals.size()));
  // The README quotes this count.
  std::printf(
      "fault sweep: each of the %zu host calls of a three-page pass failed in turn, "
      "with 2 result codes: %d cases\n",
      baseline.ordinals.size(), cases);
}

// A failing allocation of a region's pieces or of a message gives up on the
// document; one of a region's grid, edge values or index of edges only makes
// the region look up pieces another way, and the pass saves exactly the masks
// it saves with all the memory it wants.
TEST_F(FaultSweep, EveryFailingAllocationGivesUpOrChangesNothing) {
  const std::string path = dir_.File("memory.json");
  const std::string bytes = SweepDocumentWithRuledPage().dump(2);
  testdoc::WriteFile(path, bytes);
  FailAllocationAfter(0);
  const PassRun baseline = MaskOnce(path);
  ASSERT_TRUE(baseline.result);
  ASSERT_TRUE(baseline.messages.empty());
  const std::string masked = testdoc::ReadFile(path);
  const long requests = AllocationRequests();
  ASSERT_GE(requests, 4 + 3) << "four regions, slabs of pieces and an index of edges";

  int gaveUp = 0;
  int finished = 0;
  for (long failing = 1; failing <= requests; ++failing) {
    testdoc::WriteFile(path, bytes);
    FailAllocationAfter(failing);
    const PassRun run = MaskOnce(path);
    FailAllocationAfter(0);
    SCOPED_TRACE("allocation " + std::to_string(failing));
    EXPECT_EQ(run.ordinals.back(), kOrdinalCloseDocument);
    EXPECT_EQ(hostsim::OpenHandleCount(), 0);
    EXPECT_EQ(LiveBlocks(), 0);
    if (run.result) {
      ++finished;
      EXPECT_TRUE(run.messages.empty());
      EXPECT_EQ(run.ordinals, baseline.ordinals);
      EXPECT_EQ(testdoc::ReadFile(path), masked);
    } else {
      ++gaveUp;
      EXPECT_EQ(run.messages, std::vector<std::string>{testdoc::Cp932("エラーが発生しました。")});
      EXPECT_EQ(Count(run.ordinals, kOrdinalSaveDocument), 0);
      EXPECT_EQ(testdoc::ReadFile(path), bytes);
    }
  }
  EXPECT_GT(finished, 0) << "the index's allocation was among those failed";
  EXPECT_GE(gaveUp, 4 + 2) << "so were those of every region and slab of pieces";
  // The README quotes this count.
  std::printf(
      "fault sweep: each of the %ld allocations of a four-page pass failed in turn: "
      "%ld cases, %d gave up on the document, %d masked it all the same\n",
      requests, requests, gaveUp, finished);
}

}  // namespace
