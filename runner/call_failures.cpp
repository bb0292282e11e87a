#include "runner/call_failures.h"

#include <cstdint>
#include <cstdio>

#include "hostapi/host_api.h"
#include "runner/display_text.h"

namespace runner {
namespace {

std::string CallName(const hostsim::CallFailure& failure) {
  const std::string attribute = DisplayText(failure.attribute);
  switch (failure.ordinal) {
    case kOrdinalOpenDocument:
      return "opening the document";
    case kOrdinalCloseDocument:
      return "closing the document";
    case kOrdinalGetDocumentInformation:
      return "reading the document information";
    case kOrdinalGetPageInformation:
      return "reading the page information";
    case kOrdinalSaveDocument:
      return "saving the document";
    case kOrdinalGetAnnotationInformation:
      return "reading the annotation information";
    case kOrdinalGetAnnotationAttribute:
      return "reading attribute " + attribute;
    case kOrdinalAddAnnotation:
      return "adding a mask rectangle";
    case kOrdinalRemoveAnnotation:
      return "removing the keep-frame";
    case kOrdinalSetAnnotationAttribute:
      return "setting attribute " + attribute;
    default:
      return "call " + std::to_string(failure.ordinal);
  }
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
  line += CallName(failure) + " failed (" + code + ")";
  if (!failure.reason.empty()) line += ": " + PrintableText(failure.reason);
  return line;
}

void PrintFailure(const hostsim::CallFailure& failure) {
  const std::string line = DescribeFailure(failure) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace runner
