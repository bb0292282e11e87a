// The fixture of the tests that run the masking pass, or the whole command,
// over the stand-in host. Each test starts from a fresh host with its call log
// on, no messages shown, an allocator that fails nothing and saves that fail
// at no step; each must end with every document closed and every block of
// the engine released.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "hostsim/file_access.h"
#include "hostsim/hostsim.h"
#include "masking/mask_document.h"
#include "tests/support/documents.h"
#include "tests/support/failing_memory.h"
#include "tests/support/message_recorder.h"

namespace testpass {

// What one run of the pass did.
struct PassRun {
  bool result = false;
  std::vector<std::string> messages;
  std::vector<int> ordinals;
};

class PassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FailAllocationAfter(0);
    hostsim::FailSaveStepForTesting(hostsim::SaveStep::kNone);
    hostsim::SetRecording(true);
    StartAfresh();
  }

  void TearDown() override {
    EXPECT_EQ(hostsim::OpenHandleCount(), 0) << "every opened document is closed";
    EXPECT_EQ(LiveBlocks(), 0) << "no region or message outlives its use";
    FailAllocationAfter(0);
    hostsim::FailSaveStepForTesting(hostsim::SaveStep::kNone);
  }

  // A fresh host and no messages. The host drops what it still holds open,
  // such as the handle of a document whose close it was told to fail.
  static void StartAfresh() {
    hostsim::Reset();
    RecordedMessages().clear();
  }

  // Masks the document at `path` from a fresh start, with the allocator as
  // the test has set it.
  static PassRun MaskOnce(const std::string& path) {
    StartAfresh();
    PassRun run;
    run.result = masking::MaskDocument(path.c_str());
    run.messages = RecordedMessages();
    run.ordinals = Ordinals();
    return run;
  }

  // The logged calls of one ordinal, in order.
  static std::vector<hostsim::RecordedCall> CallsOf(int ordinal) {
    std::vector<hostsim::RecordedCall> calls;
    for (const hostsim::RecordedCall& call : hostsim::Calls()) {
      if (call.ordinal == ordinal) calls.push_back(call);
    }
    return calls;
  }

  // The ordinals of the logged calls, in order.
  static std::vector<int> Ordinals() {
    std::vector<int> ordinals;
    for (const hostsim::RecordedCall& call : hostsim::Calls()) ordinals.push_back(call.ordinal);
    return ordinals;
  }

  // The paths that the open calls were given, in order.
  static std::vector<std::string> OpenedPaths() {
    std::vector<std::string> paths;
    for (const hostsim::RecordedCall& call : CallsOf(kOrdinalOpenDocument)) {
      paths.push_back(call.text);
    }
    return paths;
  }

  static int Count(const std::vector<int>& ordinals, int ordinal) {
    int n = 0;
    for (const int o : ordinals) n += o == ordinal ? 1 : 0;
    return n;
  }

  testdoc::DocumentDir dir_;
};

}  // namespace testpass
