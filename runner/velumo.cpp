// velumo: runs the masking command over stand-in host documents from the
// command line, exactly as the plug-in's command entry does in the
// application, and draws documents as SVG pictures (see runner/usage.cpp).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "hostsim/hostsim.h"
#include "hostsim/pdf_store.h"
#include "masking/masking_command.h"
#include "runner/call_failures.h"
#include "runner/display_text.h"
#include "runner/mask_arguments.h"
#include "runner/stdout_messages.h"
#include "runner/svg_render.h"
#include "runner/usage.h"

namespace {

using runner::kExitDone;
using runner::kExitStopped;
using runner::kVelumoText;

int Mask(int count, char** arguments) {
  std::vector<std::string> paths;
  hostsim::PdfOptions pdf;
  if (const auto status = runner::ReadMaskArguments(kVelumoText, count, arguments, paths, &pdf)) {
    return *status;
  }
  hostsim::SetPdfOptions(pdf);
  std::vector<const char*> pointers;
  pointers.reserve(paths.size());
  for (const std::string& path : paths) pointers.push_back(path.c_str());

  // Nothing reads the call log here, and a long document makes it long.
  hostsim::SetRecording(false);
  hostsim::ReportFailuresTo(runner::PrintFailure);
  const masking::CommandOutcome outcome = masking::RunMaskingCommand(
      masking::kMaskingCommandName, static_cast<std::int32_t>(pointers.size()),
      pointers.empty() ? nullptr : pointers.data());
  return runner::ExitStatusFor(outcome, runner::StandardOutputFailed());
}

int Render(int count, char** arguments) {
  if (count == 1 && runner::IsHelp(arguments[0])) return runner::PrintHelp(kVelumoText);
  if (count != 3 || std::strcmp(arguments[1], "-o") != 0) {
    return runner::UsageError(kVelumoText,
                              "render takes one document and -o with the picture's file");
  }
  std::string error;
  if (std::strcmp(arguments[2], "-") == 0) {
    std::string svg;
    hostsim::FileVersion version;
    if (!DrawDocumentFile(arguments[0], svg, version, error)) {
      std::fprintf(stderr, "velumo: %s\n", runner::PrintableText(error).c_str());
      return kExitStopped;
    }
    if (std::fwrite(svg.data(), 1, svg.size(), stdout) != svg.size() || std::fflush(stdout) != 0) {
      return runner::kExitOutputLost;
    }
    return kExitDone;
  }
  if (!RenderDocumentSvg(arguments[0], arguments[2], error)) {
    std::fprintf(stderr, "velumo: %s\n", runner::PrintableText(error).c_str());
    return kExitStopped;
  }
  return kExitDone;
}

int Run(int argc, char** argv) {
  if (argc < 2) return runner::UsageError(kVelumoText, "no command given");
  const char* command = argv[1];
  if (runner::IsHelp(command)) return runner::PrintHelp(kVelumoText);
  if (std::strcmp(command, "--version") == 0) return runner::PrintVersion(kVelumoText);
  if (std::strcmp(command, "mask") == 0) return Mask(argc - 2, argv + 2);
  if (std::strcmp(command, "render") == 0) return Render(argc - 2, argv + 2);
  return runner::UsageError(kVelumoText, "unknown command");
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on standard output, or a file-size limit (ulimit -f), must
  // not kill the runner in the middle of a save: the failed write is noticed
  // and reported instead.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Whatever was being saved is as it was: a save replaces a file only
    // once the whole new one is written. The text needs no memory.
    std::fputs("velumo: not enough memory; stopped\n", stderr);
    return kExitStopped;
  }
}
