// velumo: runs the masking command over stand-in host documents from the
// command line, exactly as the plug-in's command entry does in the
// application, and draws documents as SVG pictures.
//
//   velumo mask FILE...          mask the documents in order
//   velumo render FILE -o OUT    draw every page of FILE into OUT (SVG)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hostsim/cp932.h"
#include "masking/masking_command.h"
#include "runner/svg_render.h"

namespace {

using masking::CommandOutcome;

constexpr int kExitDone = 0;
constexpr int kExitStopped = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUncovered = 3;

int ExitStatus(CommandOutcome outcome) {
  switch (outcome) {
    case CommandOutcome::kFinished:
      return kExitDone;
    case CommandOutcome::kFinishedUncovered:
      return kExitUncovered;
    case CommandOutcome::kNotOurs:
    case CommandOutcome::kNothingSelected:
    case CommandOutcome::kStopped:
      break;
  }
  return kExitStopped;
}

int Usage(const char* problem) {
  std::fprintf(stderr,
               "velumo: %s\n"
               "usage: velumo mask FILE...\n"
               "       velumo render FILE -o OUT.svg\n",
               problem);
  return kExitUsage;
}

// The plug-in receives paths in the ANSI code page of a Japanese Windows;
// the stand-in host turns them back into file-system names.
int Mask(int count, char** files) {
  std::vector<std::string> paths;
  paths.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) paths.push_back(hostsim::Utf8ToCp932(files[i]));
  std::vector<const char*> pointers;
  pointers.reserve(paths.size());
  for (const std::string& path : paths) pointers.push_back(path.c_str());
  return ExitStatus(masking::RunMaskingCommand(masking::kMaskingCommandName,
                                               static_cast<std::int32_t>(count),
                                               pointers.empty() ? nullptr : pointers.data()));
}

int Render(int argc, char** argv) {
  if (argc != 5 || std::strcmp(argv[3], "-o") != 0) {
    return Usage("render takes one document and -o with the picture's file");
  }
  std::string error;
  if (!RenderDocumentSvg(argv[2], argv[4], error)) {
    std::fprintf(stderr, "velumo: %s\n", error.c_str());
    return kExitStopped;
  }
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command given");
  if (std::strcmp(argv[1], "mask") == 0) return Mask(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "render") == 0) return Render(argc, argv);
  return Usage("unknown command");
}
