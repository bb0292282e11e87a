// Fuzz target: the stand-in host's document reader and writer, on their own
// and through the open call, with any bytes as the document file.
//
// Any input is either a document or refused with 0x8007000B (bad format) by
// the open call, never a crash, and both ways agree. A document that is read
// is written back by the stand-in as text that reads as the same document and
// is written the same again. The reader is held against an independent JSON
// parser (nlohmann's): what it reads is JSON, the same values come back (with
// the members the writer always adds), and what it calls not JSON is not.
// Deep nesting, huge objects and huge inputs are bounded by the reader's
// limits (hostsim/document.h); runs use -rss_limit_mb and -timeout to catch
// any input that costs more than it should.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
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

using Json = nlohmann::json;

// The first error nlohmann's parser finds in a text, by its id; 0 if none.
class FirstError : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return true; }
  bool boolean(bool /*value*/) override { return true; }
  bool number_integer(number_integer_t /*value*/) override { return true; }
  bool number_unsigned(number_unsigned_t /*value*/) override { return true; }
  bool number_float(number_float_t /*value*/, const string_t& /*text*/) override { return true; }
  bool string(string_t& /*value*/) override { return true; }
  bool binary(binary_t& /*value*/) override { return true; }
  bool start_object(std::size_t /*size*/) override { return true; }
  bool key(string_t& /*name*/) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t /*size*/) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                   const nlohmann::detail::exception& problem) override {
    id = problem.id;
    return false;
  }
  int id = 0;
};

// nlohmann's parser stops at a number beyond a double's range, which JSON
// allows and the stand-in carries as spelled.
constexpr int kNumberOverflow = 406;

void CheckAgainstIndependentParser(std::string_view text, bool parsed, const std::string& error,
                                   const std::string& saved) {
  FirstError first;
  Json::sax_parse(text.begin(), text.end(), &first);
  if (!parsed) {
    if (error.rfind("not valid JSON", 0) == 0 || error.rfind("not valid UTF-8", 0) == 0) {
      FUZZ_CHECK(first.id != 0);
    }
    return;
  }
  FUZZ_CHECK(first.id == 0 || first.id == kNumberOverflow);
  if (first.id != 0) return;
  Json expected = Json::parse(text.begin(), text.end());
  for (Json& page : expected["pages"]) {
    if (!page.contains("annotations")) page["annotations"] = Json::array();
    for (Json& annotation : page["annotations"]) {
      if (!annotation.contains("attributes")) annotation["attributes"] = Json::object();
    }
  }
  FUZZ_CHECK(Json::parse(saved) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  hostsim::Document document;
  std::string error;
  const bool parsed = hostsim::ParseDocument(text, document, error);
  FUZZ_CHECK(parsed || !error.empty());
  std::string saved;
  if (parsed) {
    saved = hostsim::SerializeDocument(document);
    hostsim::Document again;
    std::string againError;
    FUZZ_CHECK(hostsim::ParseDocument(saved, again, againError));
    FUZZ_CHECK(hostsim::SerializeDocument(again) == saved);
    FUZZ_CHECK(again.pages.size() == document.pages.size());
  }
  CheckAgainstIndependentParser(text, parsed, error, saved);

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
