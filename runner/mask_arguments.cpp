#include "runner/mask_arguments.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "runner/display_text.h"
#include "runner/host_paths.h"

namespace runner {

namespace {

// The value of --dpi: a whole number within the PDF store's range.
bool ReadDpi(const char* text, int& dpi) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < hostsim::kMinPdfDpi ||
      value > hostsim::kMaxPdfDpi) {
    return false;
  }
  dpi = static_cast<int>(value);
  return true;
}

// Reads the PDF option at arguments[i] (and its value, moving i past it)
// into `pdf`. Nothing when it was read; else the status to exit with.
std::optional<int> ReadPdfOption(const ProgramText& program, int count,
                                 const char* const* arguments, int& i, hostsim::PdfOptions& pdf) {
  const char* option = arguments[i];
  if (std::strcmp(option, "--force") == 0) {
    pdf.replaceOutput = true;
    return std::nullopt;
  }
  if (i + 1 == count) return UsageError(program, (std::string(option) + " needs a value").c_str());
  const char* value = arguments[++i];
  if (std::strcmp(option, "-o") == 0) {
    if (value[0] == '\0') return UsageError(program, "-o needs a file name");
    pdf.output = value;
    return std::nullopt;
  }
  if (!ReadDpi(value, pdf.dpi)) {
    return UsageError(program,
                      ("--dpi takes a whole number from " + std::to_string(hostsim::kMinPdfDpi) +
                       " to " + std::to_string(hostsim::kMaxPdfDpi))
                          .c_str());
  }
  return std::nullopt;
}

bool IsPdfOption(const char* argument) {
  return std::strcmp(argument, "--force") == 0 || std::strcmp(argument, "-o") == 0 ||
         std::strcmp(argument, "--dpi") == 0;
}

}  // namespace

bool IsHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

std::optional<int> ReadMaskArguments(const ProgramText& program, int count,
                                     const char* const* arguments,
                                     std::vector<std::string>& hostPaths,
                                     hostsim::PdfOptions* pdf) {
  hostPaths.clear();
  bool options = true;
  for (int i = 0; i < count; ++i) {
    const char* argument = arguments[i];
    if (options && std::strcmp(argument, "--") == 0) {
      options = false;
      continue;
    }
    if (options && IsHelp(argument)) return PrintHelp(program);
    if (options && pdf != nullptr && IsPdfOption(argument)) {
      if (const auto status = ReadPdfOption(program, count, arguments, i, *pdf)) return status;
      continue;
    }
    if (options && argument[0] == '-' && argument[1] != '\0') {
      return UsageError(program, ("unknown option " + PrintableText(argument) +
                                  " (use -- before such a file name)")
                                     .c_str());
    }
    std::string hostPath;
    switch (HostPathFor(argument, hostPath)) {
      case hostsim::Conversion::kDone:
        break;
      case hostsim::Conversion::kNotHeld:
        return UsageError(program, ("the file name \"" + PrintableText(argument) +
                                    "\" cannot be handed to the host: code page 932 cannot hold "
                                    "it exactly, so the host would work on another file")
                                       .c_str());
      case hostsim::Conversion::kFailed:
        // Not the name's fault: no converter could be made (memory ran short).
        std::fprintf(stderr,
                     "%s: cannot check the file name \"%s\": the conversion to code page 932 "
                     "could not be made (no converter, or no memory)\n",
                     program.name, PrintableText(argument).c_str());
        return kExitStopped;
    }
    hostPaths.push_back(std::move(hostPath));
  }
  if (pdf != nullptr && !pdf->output.empty() && hostPaths.size() != 1) {
    return UsageError(program, "-o names the masked copy of a single PDF document");
  }
  return std::nullopt;
}

}  // namespace runner
