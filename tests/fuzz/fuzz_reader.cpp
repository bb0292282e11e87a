// Fuzz target: the stand-in host's document reader and writer, on their own
// and through the open call, with any bytes as the document file.
//
// Any input is either a document or refused with 0x8007000B (bad format) by
// the open call, never a crash, and both ways agree. A document that is read
// is written back by the stand-in as text that reads as the same document and
// is written the same again. Deep nesting, huge objects and huge inputs are
// bounded by the reader's limits (hostsim/document.h); runs use -rss_limit_mb
// and -timeout to catch any input that costs more than it should.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hostapi/host_api.h"
#include "hostsim/document_json.h"
#include "hostsim/hostsim.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The open call reads a file: the input goes to a file of this process in
// memory (/dev/shm, where there is one; a disk would make each run wait for
// it), kept for the whole run.
const std::string& DocumentPath() {
  static const std::string path = [] {
    const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string name =
        std::string(folder) + "/velumo-fuzz-reader-" + std::to_string(::getpid()) + ".json";
    std::atexit([] { ::unlink(DocumentPath().c_str()); });
    return name;
  }();
  return path;
}

void WriteDocumentFile(const std::uint8_t* data, std::size_t size) {
  const int fd = ::open(DocumentPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FUZZ_CHECK(fd >= 0);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(fd, data + done, size - done);
    FUZZ_CHECK(written > 0);
    done += static_cast<std::size_t>(written);
  }
  FUZZ_CHECK(::close(fd) == 0);
}

// The result a failure rule of the document gives the first call of `ordinal`.
bool InjectedFirstCall(const hostsim::Document& document, int ordinal, HostResult& result) {
  for (const hostsim::FailureRule& rule : document.host.failures) {
    if (rule.ordinal == ordinal && rule.call == 1) {
      result = rule.result;
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  hostsim::Document document;
  std::string error;
  const bool parsed = hostsim::ParseDocument(text, document, error);
  FUZZ_CHECK(parsed || !error.empty());
  if (parsed) {
    const std::string saved = hostsim::SerializeDocument(document);
    hostsim::Document again;
    std::string againError;
    FUZZ_CHECK(hostsim::ParseDocument(saved, again, againError));
    FUZZ_CHECK(hostsim::SerializeDocument(again) == saved);
    FUZZ_CHECK(again.pages.size() == document.pages.size());
  }

  hostsim::SetRecording(false);
  WriteDocumentFile(data, size);
  HostDocument handle = 0;
  HostOpenMode mode{sizeof(HostOpenMode), 1, 1};
  const HostResult opened = HostOpenDocument(DocumentPath().c_str(), &handle, &mode);
  HostResult injected = kHostOk;
  if (!parsed) {
    FUZZ_CHECK(opened == kHostBadFormat);
  } else if (InjectedFirstCall(document, kOrdinalOpenDocument, injected)) {
    FUZZ_CHECK(opened == injected);
  } else {
    FUZZ_CHECK(opened == kHostOk && handle != 0);
    HostDocumentInfo info{};
    info.size = sizeof(HostDocumentInfo);
    const HostResult described = HostGetDocumentInformation(handle, &info);
    if (InjectedFirstCall(document, kOrdinalGetDocumentInformation, injected)) {
      FUZZ_CHECK(described == injected);
    } else {
      FUZZ_CHECK(described == kHostOk);
      FUZZ_CHECK(info.pageCount == static_cast<std::int32_t>(document.pages.size()));
    }
    HostCloseDocument(handle, nullptr);
  }
  hostsim::Reset();
  return 0;
}
