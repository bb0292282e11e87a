// What the runner says about itself: its usage, exit statuses and version.
// The Windows host program (tests/windows/velumo_host.cpp) does the runner's
// mask command through the real plug-in and says the same about it.
#pragma once

#include "masking/masking_command.h"

namespace runner {

// Exit statuses of velumo.
constexpr int kExitDone = 0;        // finished, every page fully covered
constexpr int kExitStopped = 1;     // stopped at a failing document, no document, no memory
constexpr int kExitUsage = 2;       // the command line was wrong: nothing was touched
constexpr int kExitUncovered = 3;   // finished, but some page kept parts the host refused
constexpr int kExitOutputLost = 4;  // finished, but standard output could not be written

// The program's own words: its name, its usage lines and what its commands
// do. The exit statuses and the JSON document format are the same for both.
struct ProgramText {
  const char* name;      // "velumo"
  const char* usage;     // "usage: velumo mask [--] FILE...\n       ..."
  const char* commands;  // a paragraph per command
  bool pdf;              // it masks PDF documents too (the console runner)
};

// The console runner's.
extern const ProgramText kVelumoText;

// The exit status of a run of the masking command that ended with `outcome`;
// `outputLost` when some message could not be written to standard output
// (kExitOutputLost only for a run that finished: a stopped run is 1).
int ExitStatusFor(masking::CommandOutcome outcome, bool outputLost);

// Prints the usage, the commands, the exit statuses and where the document
// format is described to standard output; kExitDone, or kExitOutputLost.
int PrintHelp(const ProgramText& program);

// Prints "NAME VERSION" to standard output; kExitDone, or kExitOutputLost.
int PrintVersion(const ProgramText& program);

// Prints "NAME: PROBLEM" and the usage lines to standard error; kExitUsage.
int UsageError(const ProgramText& program, const char* problem);

}  // namespace runner
