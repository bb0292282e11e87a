#include "runner/call_failures.h"

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <new>

#include "hostapi/host_api.h"
#include "runner/display_text.h"

namespace runner {
namespace {

// What the runner calls each host call. Every ordinal of hostapi/xdwapi.def
// has exactly one entry: the check below stops the build otherwise.
struct CallName {
  int ordinal;
  bool attribute;  // the attribute's name follows the text
  const char* text;
};

constexpr CallName kCallNames[] = {
    {kOrdinalOpenDocument, false, "opening the document"},
    {kOrdinalCloseDocument, false, "closing the document"},
    {kOrdinalGetDocumentInformation, false, "reading the document information"},
    {kOrdinalGetPageInformation, false, "reading the page information"},
    {kOrdinalSaveDocument, false, "saving the document"},
    {kOrdinalGetAnnotationInformation, false, "reading the annotation information"},
    {kOrdinalGetAnnotationAttribute, true, "reading attribute "},
    {kOrdinalAddAnnotation, false, "adding a mask rectangle"},
    {kOrdinalRemoveAnnotation, false, "removing the keep-frame"},
    {kOrdinalSetAnnotationAttribute, true, "setting attribute "},
};

constexpr bool EveryOrdinalNamedOnce() {
  for (const int ordinal : kHostOrdinals) {
    int entries = 0;
    for (const CallName& name : kCallNames) entries += name.ordinal == ordinal ? 1 : 0;
    if (entries != 1) return false;
  }
  // Known when compiling, which is the point (cppcheck, which reads the
  // generated list, sees that it holds).
  // cppcheck-suppress knownConditionTrueFalse
  return std::size(kCallNames) == std::size(kHostOrdinals);
}
static_assert(EveryOrdinalNamedOnce(),
              "kCallNames needs one entry for each ordinal of hostapi/xdwapi.def");

std::string DescribeCall(const hostsim::CallFailure& failure) {
  for (const CallName& name : kCallNames) {
    if (name.ordinal != failure.ordinal) continue;
    return name.attribute ? name.text + DisplayText(failure.attribute) : std::string(name.text);
  }
  return "call " + std::to_string(failure.ordinal);
}

}  // namespace

std::string DescribeFailure(const hostsim::CallFailure& failure) {
  std::string line = "velumo: ";
  line +=
      failure.hostPath.empty() ? std::string("(unknown document)") : DisplayText(failure.hostPath);
  if (failure.page != 0) line += ": page " + std::to_string(failure.page);
  if (failure.annotation != 0) {
    line += (failure.page != 0 ? ", annotation " : ": annotation ") +
            std::to_string(failure.annotation);
  }
  line += ": ";
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<std::uint32_t>(failure.result));
  line += DescribeCall(failure) + " failed (" + code + ")";
  if (!failure.reason.empty()) line += ": " + PrintableText(failure.reason);
  return line;
}

void PrintFailure(const hostsim::CallFailure& failure) {
  try {
    const std::string line = DescribeFailure(failure) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  } catch (const std::bad_alloc&) {
    // The short form needs no memory; the failing call's result is not
    // changed by its report.
    std::fprintf(stderr,
                 "velumo: call %d of the host failed (0x%08X); not enough memory to say more\n",
                 failure.ordinal, static_cast<std::uint32_t>(failure.result));
  }
}

}  // namespace runner
