// What the stand-in keeps safe on disk: another writer's change, a removed
// file, a save cut short by a signal or by a disk that takes nothing, and the
// agreement between what it writes and what it reads back.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "hostapi/host_api.h"
#include "hostsim/document_json.h"
#include "hostsim/file_access.h"
#include "hostsim/hostsim.h"
#include "hostsim/write_all.h"
#include "tests/support/documents.h"

namespace {

using testdoc::Json;

HostDocument OpenOk(const std::string& path) {
  HostDocument document = 0;
  HostOpenMode mode{sizeof(HostOpenMode), 1, 1};
  EXPECT_EQ(HostOpenDocument(path.c_str(), &document, &mode), kHostOk);
  return document;
}

HostAnnotation First(HostDocument document) {
  HostAnnotationInfo info{sizeof(HostAnnotationInfo), 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(HostGetAnnotationInformation(document, 1, 0, 1, &info, nullptr), kHostOk);
  return info.handle;
}

Json OneFrame() {
  return testdoc::Document({testdoc::Page(1000, 1000, {testdoc::KeepFrame(1, 2, 3, 4)})});
}

std::vector<hostsim::CallFailure>& Reported() {
  static std::vector<hostsim::CallFailure> failures;
  return failures;
}

void Record(const hostsim::CallFailure& failure) { Reported().push_back(failure); }

class SafeSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hostsim::Reset();
    Reported().clear();
    hostsim::ReportFailuresTo(Record);
  }
  void TearDown() override {
    hostsim::ReportFailuresTo(nullptr);
    hostsim::WatchSaveStepsForTesting(nullptr);
    hostsim::Reset();
  }
  testdoc::DocumentDir dir_;
};

// Another writer's change between the open and the save wins: the save fails
// and says why, and the file keeps what the other writer put there.
TEST_F(SafeSaveTest, ChangeOnDiskSinceTheOpenFailsTheSave) {
  const std::string path = dir_.Put("doc.json", OneFrame());
  const HostDocument document = OpenOk(path);
  ASSERT_EQ(HostRemoveAnnotation(document, First(document), nullptr), kHostOk);
  const std::string theirs = testdoc::ReadFile(path) + " ";
  testdoc::WriteFile(path, theirs);  // same inode, new size and time
  EXPECT_EQ(HostSaveDocument(document, nullptr), kHostAccessDenied);
  EXPECT_EQ(testdoc::ReadFile(path), theirs);
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
  ASSERT_EQ(Reported().size(), 1u);
  EXPECT_EQ(Reported()[0].ordinal, kOrdinalSaveDocument);
  EXPECT_NE(Reported()[0].reason.find("changed by someone else"), std::string::npos)
      << Reported()[0].reason;
}

TEST_F(SafeSaveTest, FileReplacedOrRemovedSinceTheOpenIsNotWrittenBack) {
  const std::string path = dir_.Put("doc.json", OneFrame());
  const HostDocument replaced = OpenOk(path);
  const HostDocument removed = OpenOk(path);
  // Same size and content, but another file (as an editor's save makes it).
  const std::string content = testdoc::ReadFile(path);
  testdoc::WriteFile(dir_.File("new.json"), content);
  ASSERT_EQ(::rename(dir_.File("new.json").c_str(), path.c_str()), 0);
  EXPECT_EQ(HostSaveDocument(replaced, nullptr), kHostAccessDenied);
  EXPECT_EQ(testdoc::ReadFile(path), content);

  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_EQ(HostSaveDocument(removed, nullptr), kHostAccessDenied);
  EXPECT_TRUE(dir_.List().empty()) << "a removed document does not come back";
  EXPECT_NE(Reported().back().reason.find("removed"), std::string::npos);
}

// A change that lands while the save writes its temporary file is caught at
// the rename.
TEST_F(SafeSaveTest, ChangeDuringTheSaveIsCaughtBeforeTheRename) {
  static std::string path;
  path = dir_.Put("doc.json", OneFrame());
  const HostDocument document = OpenOk(path);
  hostsim::WatchSaveStepsForTesting([](hostsim::SaveStep step) {
    if (step == hostsim::SaveStep::kRename) testdoc::WriteFile(path, "theirs");
  });
  EXPECT_EQ(HostSaveDocument(document, nullptr), kHostAccessDenied);
  EXPECT_EQ(testdoc::ReadFile(path), "theirs");
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
}

// Saving twice through one open works: the second save checks against what
// the first one wrote.
TEST_F(SafeSaveTest, SecondSaveOfTheSameOpenSucceeds) {
  const std::string path = dir_.Put("doc.json", OneFrame());
  const HostDocument document = OpenOk(path);
  ASSERT_EQ(HostSaveDocument(document, nullptr), kHostOk);
  ASSERT_EQ(HostRemoveAnnotation(document, First(document), nullptr), kHostOk);
  EXPECT_EQ(HostSaveDocument(document, nullptr), kHostOk);
  EXPECT_TRUE(testdoc::ReadDocument(path)["pages"][0]["annotations"].empty());
}

// SIGINT or SIGTERM in the middle of writing: the process ends by that signal
// and leaves only the original document.
TEST_F(SafeSaveTest, SignalDuringTheSaveRemovesTheTemporaryFile) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const std::string path = dir_.Put("doc.json", OneFrame());
    const std::string before = testdoc::ReadFile(path);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      static int which = 0;
      which = signal;
      hostsim::WatchSaveStepsForTesting([](hostsim::SaveStep step) {
        if (step == hostsim::SaveStep::kFlushTemporary) ::raise(which);
      });
      const HostDocument document = OpenOk(path);
      HostRemoveAnnotation(document, First(document), nullptr);
      HostSaveDocument(document, nullptr);
      ::_exit(0);  // not reached: the signal ends the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(testdoc::ReadFile(path), before);
    EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"}) << "no temporary file left";
  }
}

ssize_t WritesNothing(int, const void*, std::size_t) { return 0; }
ssize_t WritesThreeBytes(int, const void*, std::size_t size) {
  return static_cast<ssize_t>(size < 3 ? size : 3);
}

TEST(WriteAllTest, AWriteThatMakesNoProgressIsAnError) {
  int error = 0;
  EXPECT_FALSE(hostsim::WriteAll(-1, "content", WritesNothing, error));
  EXPECT_EQ(error, EIO);
  EXPECT_TRUE(hostsim::WriteAll(-1, "content", WritesThreeBytes, error)) << "short writes go on";
}

// What the writer writes, the reader reads: a save that would pass the
// reader's size limit fails and leaves the file as it was.
TEST_F(SafeSaveTest, SaveBeyondTheReadersSizeLimitFails) {
  Json document = OneFrame();
  document["padding"] = "";
  const std::size_t bare = document.dump().size();
  document["padding"] = std::string(hostsim::kMaxDocumentSize - bare - 50, 'p');
  const std::string path = dir_.File("doc.json");
  testdoc::WriteFile(path, document.dump());
  const std::string before = testdoc::ReadFile(path);
  const HostDocument opened = OpenOk(path);
  HostRectShape shape{sizeof(HostRectShape), kRectangleAnnotation, 0, 0, 10, 10};
  for (int i = 0; i < 10; ++i) {
    HostAnnotation created = 0;
    ASSERT_EQ(HostAddAnnotation(opened, kRectangleAnnotation, 1, 0, 0, &shape, &created, nullptr),
              kHostOk);
  }
  EXPECT_EQ(HostSaveDocument(opened, nullptr), kHostAccessDenied);
  EXPECT_EQ(testdoc::ReadFile(path), before);
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
  ASSERT_FALSE(Reported().empty());
  EXPECT_NE(Reported().back().reason.find("larger than"), std::string::npos);
}

// An annotation can hold as many attributes as an object may have members,
// and no more: the next new one is refused rather than saved unreadable.
TEST_F(SafeSaveTest, AttributesStopAtTheReadersMemberLimit) {
  const std::string path = dir_.Put("doc.json", OneFrame());
  const HostDocument document = OpenOk(path);
  const HostAnnotation frame = First(document);
  HostResult result = kHostOk;
  std::size_t count = 2;
  for (; count < hostsim::kMaxObjectMembers + 5 && result == kHostOk; ++count) {
    const std::string name = "a" + std::to_string(count);
    const std::int32_t value = 1;
    result = HostSetAnnotationAttribute(document, frame, name.c_str(), 0, &value, 0, nullptr);
  }
  EXPECT_EQ(result, kHostInvalidArgument);
  EXPECT_EQ(count, hostsim::kMaxObjectMembers + 1);
  ASSERT_EQ(HostSaveDocument(document, nullptr), kHostOk);
  hostsim::Document reread;
  std::string error;
  EXPECT_TRUE(hostsim::ParseDocument(testdoc::ReadFile(path), reread, error)) << error;
}

}  // namespace
