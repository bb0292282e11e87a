#include "runner/usage.h"

#include <cstdio>

#include "hostsim/pdf_options.h"
#include "velumo_version.h"

namespace runner {
namespace {

int Finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) return kExitOutputLost;
  return status;
}

}  // namespace

const ProgramText kVelumoText = {
    "velumo",
    "usage: velumo mask [--] FILE...\n"
    "       velumo mask [--force] [--dpi N] [-o OUT.pdf] [--] FILE.pdf...\n"
    "       velumo render FILE -o OUT.svg   (-o - writes the picture to standard output)\n"
    "       velumo --help | -h\n"
    "       velumo --version\n",
    "mask   runs the masking command over stand-in host documents, in order, as the\n"
    "       plug-in does: the same passes, messages and stop rule. Standard output\n"
    "       holds exactly the plug-in's messages, one per line, in UTF-8; what went\n"
    "       wrong in detail goes to standard error.\n"
    "render draws a document as an SVG picture; it never writes over the document,\n"
    "       a read-only file or anything but a regular file.\n",
    true};

// A run that stopped says so whatever became of its messages; a finished
// one whose messages were lost says that.
int ExitStatusFor(masking::CommandOutcome outcome, bool outputLost) {
  switch (outcome) {
    case masking::CommandOutcome::kFinished:
      return outputLost ? kExitOutputLost : kExitDone;
    case masking::CommandOutcome::kFinishedUncovered:
      return outputLost ? kExitOutputLost : kExitUncovered;
    case masking::CommandOutcome::kNotOurs:
    case masking::CommandOutcome::kNothingSelected:
    case masking::CommandOutcome::kStopped:
      break;
  }
  return kExitStopped;
}

int PrintHelp(const ProgramText& program) {
  std::fputs(program.usage, stdout);
  std::fputs("\n", stdout);
  std::fputs(program.commands, stdout);
  if (program.pdf) {
    std::printf(
        "\n"
        "A PDF document is never changed: its masked copy goes to NAME-masked.pdf\n"
        "beside it, or to OUT.pdf (-o, for a single document), and replaces an\n"
        "existing file only with --force. Its masked pages become pictures at N dots\n"
        "per inch (--dpi, %d to %d, default %d) that hold nothing else; what else is\n"
        "removed from the copy is listed in the README's section \"PDF documents\".\n",
        hostsim::kMinPdfDpi, hostsim::kMaxPdfDpi, hostsim::kDefaultPdfDpi);
  }
  std::fputs(
      "\n"
      "Exit status:\n"
      "  0  finished, every page fully covered\n"
      "  1  stopped at a document that failed (whatever became of the messages), no\n"
      "     document given, or memory ran out\n"
      "  2  usage error (a file name that code page 932 cannot hold exactly is one):\n"
      "     no document was touched\n"
      "  3  finished, but some page kept parts the host refused to cover\n"
      "  4  finished, but standard output could not be written (messages lost)\n"
      "\n"
      "Documents are JSON files; their format is described in the README's section\n"
      "\"The console runner\" and in hostsim/document_json.h.\n",
      stdout);
  if (program.pdf) std::fputs("PDF files are told from JSON files by their content.\n", stdout);
  return Finish(kExitDone);
}

int PrintVersion(const ProgramText& program) {
  std::printf("%s %s\n", program.name, VELUMO_VERSION_TEXT);
  return Finish(kExitDone);
}

int UsageError(const ProgramText& program, const char* problem) {
  std::fprintf(stderr, "%s: %s\n%s(%s --help tells more)\n", program.name, problem, program.usage,
               program.name);
  return kExitUsage;
}

}  // namespace runner
