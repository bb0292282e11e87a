#include "runner/mask_arguments.h"

#include <cstring>

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
    const auto hostPath = HostPathFor(argument);
    if (!hostPath) {
      return UsageError(program, ("the file name \"" + PrintableText(argument) +
                                  "\" cannot be handed to the host: code page 932 cannot hold "
                                  "it exactly, so the host would work on another file")
                                     .c_str());
    }
    hostPaths.push_back(*hostPath);
  }
  return std::nullopt;
}

}  // namespace runner
