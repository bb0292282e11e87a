// What the runner says about itself: its usage, exit statuses and version.
#pragma once

namespace runner {

// Exit statuses of velumo.
constexpr int kExitDone = 0;        // finished, every page fully covered
constexpr int kExitStopped = 1;     // stopped at a failing document, or no document
constexpr int kExitUsage = 2;       // the command line was wrong: nothing was touched
constexpr int kExitUncovered = 3;   // finished, but some page kept parts the host refused
constexpr int kExitOutputLost = 4;  // standard output could not be written

// Prints the usage, the exit statuses and where the document format is
// described to standard output; kExitDone, or kExitOutputLost.
int PrintHelp();

// Prints "velumo VERSION" to standard output; kExitDone, or kExitOutputLost.
int PrintVersion();

// Prints "velumo: PROBLEM" and the usage lines to standard error; kExitUsage.
int UsageError(const char* problem);

}  // namespace runner
