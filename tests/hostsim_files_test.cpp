// What the stand-in keeps safe on disk: another writer's change, whenever
// and however it lands; the document's access, ACL included; no copy left
// behind, whatever ends the process; and the agreement between what it
// writes and what it reads back.
#include <acl/libacl.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
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
    hostsim::FailSaveStepForTesting(hostsim::SaveStep::kNone);
    hostsim::Reset();
  }
  testdoc::DocumentDir dir_;
};

// Another writer's change between the open and the save wins: the save fails
// with the host's generic error (not "cannot open"), says why on the side,
// and the file keeps what the other writer put there.
TEST_F(SafeSaveTest, ChangeOnDiskSinceTheOpenFailsTheSave) {
  const std::string path = dir_.Put("doc.json", OneFrame());
  const HostDocument document = OpenOk(path);
  ASSERT_EQ(HostRemoveAnnotation(document, First(document), nullptr), kHostOk);
  const std::string theirs = testdoc::ReadFile(path) + " ";
  testdoc::WriteFile(path, theirs);  // same inode, new size and time
  EXPECT_EQ(HostSaveDocument(document, nullptr), kHostFail);
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
  EXPECT_EQ(HostSaveDocument(replaced, nullptr), kHostFail);
  EXPECT_EQ(testdoc::ReadFile(path), content);

  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_EQ(HostSaveDocument(removed, nullptr), kHostFail);
  EXPECT_TRUE(dir_.List().empty()) << "a removed document does not come back";
  EXPECT_NE(Reported().back().reason.find("removed"), std::string::npos);
}

// Another program's save in the last moment before the exchange, in place or
// as an editor makes it (a new file renamed over the document, here of the
// same size and modification time): the save swaps back and fails, and the
// other program's content stays.
TEST_F(SafeSaveTest, ChangeAtTheLastMomentIsNeverLost) {
  static std::string path;
  static std::string theirs;
  static bool inPlace = false;
  for (const bool place : {true, false}) {
    SCOPED_TRACE(place ? "in place" : "renamed over it");
    inPlace = place;
    path = dir_.Put("doc.json", OneFrame());
    theirs = testdoc::ReadFile(path);
    theirs[theirs.find("1")] = '7';
    const HostDocument document = OpenOk(path);
    ASSERT_EQ(HostRemoveAnnotation(document, First(document), nullptr), kHostOk);
    hostsim::WatchSaveStepsForTesting([](hostsim::SaveStep step) {
      if (step != hostsim::SaveStep::kExchange) return;
      if (inPlace) {
        testdoc::WriteFile(path, theirs);
        return;
      }
      struct stat original {};
      ::stat(path.c_str(), &original);
      const std::string next = path + ".new";
      testdoc::WriteFile(next, theirs);
      const struct timespec times[2] = {original.st_atim, original.st_mtim};
      ::utimensat(AT_FDCWD, next.c_str(), times, 0);
      ::rename(next.c_str(), path.c_str());
    });
    EXPECT_EQ(HostSaveDocument(document, nullptr), kHostFail);
    hostsim::WatchSaveStepsForTesting(nullptr);
    EXPECT_EQ(testdoc::ReadFile(path), theirs);
    EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
    EXPECT_NE(Reported().back().reason.find("changed by someone else"), std::string::npos);
    HostCloseDocument(document, nullptr);
  }
}

// A write in place that left the file's times as they were (a coarse clock)
// is caught by the content, and a version that differs in any one of its
// parts is a change.
TEST_F(SafeSaveTest, ContentAndEveryPartOfTheVersionAreCompared) {
  const std::string path = dir_.File("doc.json");
  testdoc::WriteFile(path, "mine");
  hostsim::FileVersion read;
  std::string content;
  std::string error;
  ASSERT_EQ(hostsim::ReadWholeFile(path, 100, content, read, error), hostsim::FileStatus::kOk);
  testdoc::WriteFile(path, "them");  // same size
  hostsim::FileVersion now;
  std::string theirs;
  ASSERT_EQ(hostsim::ReadWholeFile(path, 100, theirs, now, error), hostsim::FileStatus::kOk);
  hostsim::ReplaceRules rules;
  rules.unchangedSince = &now;  // as if the clock had not moved
  rules.unchangedContent = &content;
  EXPECT_EQ(hostsim::ReplaceFileContent(path, "masked", rules, error),
            hostsim::FileStatus::kChanged);
  EXPECT_EQ(testdoc::ReadFile(path), "them");
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});

  const auto differs = [&now](std::uint64_t hostsim::FileVersion::*field) {
    hostsim::FileVersion other = now;
    other.*field += 1;
    return other != now;
  };
  EXPECT_TRUE(differs(&hostsim::FileVersion::size));
  EXPECT_TRUE(differs(&hostsim::FileVersion::links));
  for (const auto time : {&hostsim::FileVersion::modified, &hostsim::FileVersion::changed}) {
    hostsim::FileVersion other = now;
    other.*time += 1;
    EXPECT_NE(other, now);
  }
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

std::string AclText(const std::string& path) {
  acl_t acl = ::acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
  if (acl == nullptr) return "none";
  char* text = ::acl_to_any_text(acl, nullptr, ',', 0);
  std::string result = text != nullptr ? text : "?";
  ::acl_free(text);
  ::acl_free(acl);
  return result;
}

bool SetAcl(const std::string& path, acl_type_t type, const char* text) {
  acl_t acl = ::acl_from_text(text);
  const bool set = acl != nullptr && ::acl_set_file(path.c_str(), type, acl) == 0;
  ::acl_free(acl);
  return set;
}

// The new file carries exactly the document's access: the folder's default
// ACL, which a new file inherits, lets nobody in who could not read it before.
TEST_F(SafeSaveTest, TheSavedFileHasExactlyTheOriginalsAccess) {
  if (!SetAcl(dir_.path(), ACL_TYPE_DEFAULT, "u::rwx,u:1234:rw,g::r-x,m::rwx,o::---")) {
    GTEST_SKIP() << "this file system has no ACLs";
  }
  const std::string plain = dir_.Put("plain.json", OneFrame());
  ASSERT_EQ(::acl_delete_def_file(dir_.path().c_str()), 0);
  ASSERT_TRUE(SetAcl(plain, ACL_TYPE_ACCESS, "u::rw-,g::r--,o::---"));
  ASSERT_TRUE(SetAcl(dir_.path(), ACL_TYPE_DEFAULT, "u::rwx,u:1234:rw,g::r-x,m::rwx,o::---"));
  const std::string shared = dir_.Put("shared.json", OneFrame());
  ASSERT_TRUE(SetAcl(shared, ACL_TYPE_ACCESS, "u::rw-,u:4321:r--,g::r--,m::r--,o::---"));
  // A group other than the owner's own (owner kept), and special bits.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(plain.c_str(), 0, 65534), 0);
  }
  ASSERT_EQ(::chmod(plain.c_str(), 07640), 0);
  const std::string plainAcl = AclText(plain);
  const std::string sharedAcl = AclText(shared);
  ASSERT_EQ(plainAcl, "user::rw-,group::r--,other::---");

  for (const std::string& path : {plain, shared}) {
    const HostDocument document = OpenOk(path);
    ASSERT_EQ(HostRemoveAnnotation(document, First(document), nullptr), kHostOk);
    ASSERT_EQ(HostSaveDocument(document, nullptr), kHostOk);
    HostCloseDocument(document, nullptr);
  }
  EXPECT_EQ(AclText(plain), plainAcl) << "no inherited entry";
  EXPECT_EQ(AclText(shared), sharedAcl);
  struct stat info {};
  ASSERT_EQ(::stat(plain.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 07640u);
  if (root) {
    EXPECT_EQ(info.st_gid, 65534u) << "the group is kept when only the group differs";
  }
  EXPECT_TRUE(testdoc::ReadDocument(plain)["pages"][0]["annotations"].empty());
}

// Each signal that ends a process, at each step of the save: the process
// ends by it, the document is either as it was or wholly saved, and no copy
// is left. From the last look on, signals are held back until the exchange
// is done; SIGKILL cannot be, and is not tried while the hidden name exists.
TEST_F(SafeSaveTest, SignalAtAnyStepLeavesNoCopy) {
  static int signal = 0;
  static hostsim::SaveStep at = hostsim::SaveStep::kNone;
  for (const hostsim::SaveStep step :
       {hostsim::SaveStep::kWriteTemporary, hostsim::SaveStep::kFlushTemporary,
        hostsim::SaveStep::kName, hostsim::SaveStep::kExchange}) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGKILL}) {
      if (sig == SIGKILL && step == hostsim::SaveStep::kExchange) continue;
      SCOPED_TRACE("signal " + std::to_string(sig) + " at step " +
                   std::to_string(static_cast<int>(step)));
      const std::string path = dir_.Put("doc.json", OneFrame());
      const std::string before = testdoc::ReadFile(path);
      signal = sig;
      at = step;
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        // Whatever the caller ignored (a shell's background job ignores
        // SIGINT and SIGQUIT, nohup SIGHUP) must end this process here.
        for (const int each : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1}) ::signal(each, SIG_DFL);
        hostsim::WatchSaveStepsForTesting([](hostsim::SaveStep now) {
          if (now == at) ::raise(signal);
        });
        const HostDocument document = OpenOk(path);
        HostRemoveAnnotation(document, First(document), nullptr);
        HostSaveDocument(document, nullptr);
        ::_exit(0);  // not reached: the signal ends the process
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
      if (sig != SIGKILL &&
          (step == hostsim::SaveStep::kName || step == hostsim::SaveStep::kExchange)) {
        EXPECT_TRUE(testdoc::ReadDocument(path)["pages"][0]["annotations"].empty());
      } else {
        EXPECT_EQ(testdoc::ReadFile(path), before);
      }
      EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"}) << "no copy left";
    }
  }
}

// Signals the caller ignores (nohup) stay ignored: the save goes on.
TEST_F(SafeSaveTest, IgnoredSignalsStayIgnored) {
  const std::string path = dir_.Put("doc.json", OneFrame());
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGTERM, SIG_IGN);
    hostsim::WatchSaveStepsForTesting([](hostsim::SaveStep step) {
      if (step == hostsim::SaveStep::kWriteTemporary || step == hostsim::SaveStep::kFlushFolder) {
        ::raise(SIGINT);
        ::raise(SIGTERM);
      }
    });
    const HostDocument document = OpenOk(path);
    HostRemoveAnnotation(document, First(document), nullptr);
    ::_exit(HostSaveDocument(document, nullptr) == kHostOk ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(testdoc::ReadDocument(path)["pages"][0]["annotations"].empty());
}

// Memory that runs out while the content is written: the exception goes to
// the caller, and neither the document nor a copy of it is touched or left.
TEST_F(SafeSaveTest, AllocationFailureWhileWritingLeavesNothing) {
  const std::string path = dir_.File("doc.json");
  testdoc::WriteFile(path, "original");
  std::string error;
  EXPECT_THROW(hostsim::ReplaceFileWith(
                   path, {},
                   [](const hostsim::TextSink& sink, std::string&) -> bool {
                     sink(std::string(100000, 'x'));
                     throw std::bad_alloc();
                   },
                   nullptr, error),
               std::bad_alloc);
  EXPECT_EQ(testdoc::ReadFile(path), "original");
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
}

// A folder where a name could not be removed again is refused before any
// name is made; a file system that cannot save safely is refused too.
TEST_F(SafeSaveTest, FoldersAndFileSystemsWhereASaveWouldLeaveACopyAreRefused) {
  const std::string path = dir_.File("doc.json");
  testdoc::WriteFile(path, "original");
  std::string error;
  for (const auto& [step, code] : {std::pair{hostsim::SaveStep::kCreateTemporary, EOPNOTSUPP},
                                   std::pair{hostsim::SaveStep::kExchange, EINVAL}}) {
    hostsim::FailSaveStepForTesting(step, code);
    EXPECT_EQ(hostsim::ReplaceFileContent(path, "new", {}, error), hostsim::FileStatus::kFailed);
    hostsim::FailSaveStepForTesting(hostsim::SaveStep::kNone);
    EXPECT_NE(error.find("safely"), std::string::npos) << error;
    EXPECT_EQ(testdoc::ReadFile(path), "original");
    EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
  }

  const int folder = ::open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  int flags = 0;
  const bool appendOnly = ::ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 &&
                          (flags |= FS_APPEND_FL, ::ioctl(folder, FS_IOC_SETFLAGS, &flags) == 0);
  if (appendOnly) {
    EXPECT_EQ(hostsim::ReplaceFileContent(path, "new", {}, error),
              hostsim::FileStatus::kAccessDenied);
    EXPECT_NE(error.find("append-only"), std::string::npos) << error;
    flags &= ~FS_APPEND_FL;
    ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
    EXPECT_EQ(testdoc::ReadFile(path), "original");
    EXPECT_EQ(dir_.List(), std::vector<std::string>{"doc.json"});
  }
  ::close(folder);
  if (!appendOnly) GTEST_SKIP() << "no append-only folders here (needs root on ext4 or tmpfs)";
}

// A new file beside the input: never over an existing one unless replacing
// is allowed; one that appears while it is written wins. The save flushes
// the folder after the exchange.
TEST_F(SafeSaveTest, NewFilesNeverOverwriteAndEverySaveFlushesItsFolder) {
  static std::string path;
  path = dir_.File("out.svg");
  hostsim::ReplaceRules create;
  create.mayCreate = true;
  create.mayReplace = false;
  std::string error;
  ASSERT_EQ(hostsim::ReplaceFileContent(path, "first", create, error), hostsim::FileStatus::kOk);
  EXPECT_EQ(hostsim::ReplaceFileContent(path, "second", create, error),
            hostsim::FileStatus::kExists);
  EXPECT_EQ(testdoc::ReadFile(path), "first");
  ASSERT_EQ(::unlink(path.c_str()), 0);
  hostsim::WatchSaveStepsForTesting([](hostsim::SaveStep step) {
    if (step == hostsim::SaveStep::kName) testdoc::WriteFile(path, "theirs");
  });
  EXPECT_EQ(hostsim::ReplaceFileContent(path, "mine", create, error), hostsim::FileStatus::kExists);
  EXPECT_EQ(testdoc::ReadFile(path), "theirs");

  static std::vector<hostsim::SaveStep> steps;
  steps.clear();
  hostsim::WatchSaveStepsForTesting([](hostsim::SaveStep step) { steps.push_back(step); });
  hostsim::ReplaceRules force = create;
  force.mayReplace = true;
  ASSERT_EQ(hostsim::ReplaceFileContent(path, "forced", force, error), hostsim::FileStatus::kOk);
  EXPECT_EQ(testdoc::ReadFile(path), "forced");
  ASSERT_GE(steps.size(), 2u);
  EXPECT_EQ(steps[steps.size() - 2], hostsim::SaveStep::kExchange);
  EXPECT_EQ(steps.back(), hostsim::SaveStep::kFlushFolder);

  // A folder that cannot be flushed: the file is replaced, but that is not
  // called a success.
  hostsim::FailSaveStepForTesting(hostsim::SaveStep::kFlushFolder);
  EXPECT_EQ(hostsim::ReplaceFileContent(path, "unflushed", force, error),
            hostsim::FileStatus::kFailed);
  hostsim::FailSaveStepForTesting(hostsim::SaveStep::kNone);
  EXPECT_NE(error.find("could not be flushed"), std::string::npos) << error;
  EXPECT_EQ(dir_.List(), std::vector<std::string>{"out.svg"});
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
  EXPECT_EQ(HostSaveDocument(opened, nullptr), kHostFail);
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
