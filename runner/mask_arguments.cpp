#include "runner/mask_arguments.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "runner/display_text.h"
#include "runner/host_paths.h"

namespace runner {

bool IsHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

std::optional<int> ReadMaskArguments(const ProgramText& program, int count,
                                     const char* const* arguments,
                                     std::vector<std::string>& hostPaths) {
  hostPaths.clear();
  bool options = true;
  for (int i = 0; i < count; ++i) {
    const char* argument = arguments[i];
    if (options && std::strcmp(argument, "--") == 0) {
      options = false;
      continue;
    }
    if (options && IsHelp(argument)) return PrintHelp(program);
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
  return std::nullopt;
}

}  // namespace runner
