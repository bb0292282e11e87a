#include "runner/host_paths.h"

#include "hostsim/cp932.h"

namespace runner {

std::optional<std::string> HostPathFor(const std::string& fileSystemPath) {
  std::optional<std::string> hostPath = hostsim::Utf8ToCp932(fileSystemPath);
  if (!hostPath || hostPath->find('\0') != std::string::npos) return std::nullopt;
  const std::optional<std::string> back = hostsim::Cp932ToUtf8(*hostPath);
  if (!back || *back != fileSystemPath) return std::nullopt;
  return hostPath;
}

}  // namespace runner
