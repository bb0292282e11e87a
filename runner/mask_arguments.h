// The arguments of the mask command, read the same way by the console runner
// and by the Windows host program (tests/windows/velumo_host.cpp).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hostsim/pdf_options.h"
#include "runner/usage.h"

namespace runner {

// Reads the arguments after "mask": options (--help, -h; with `pdf`, a
// program that masks PDF documents, also --force, --dpi N and -o OUT.pdf for
// a single document), "--" before file names that look like options, and
// the file names, UTF-8 as the file system has them. Every name is turned
// into the path the host gets (runner/host_paths.h) before the first
// document is touched. Returns nothing when the command should run over
// `hostPaths` (and `pdf`); else the status to exit with, once the help or the
// usage error has been printed (kExitStopped when a name could not be
// checked at all).
std::optional<int> ReadMaskArguments(const ProgramText& program, int count,
                                     const char* const* arguments,
                                     std::vector<std::string>& hostPaths,
                                     hostsim::PdfOptions* pdf = nullptr);

// Whether an argument asks for the help.
bool IsHelp(const char* argument);

}  // namespace runner
