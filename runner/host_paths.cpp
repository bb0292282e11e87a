#include "runner/host_paths.h"

namespace runner {

hostsim::Conversion HostPathFor(const std::string& fileSystemPath, std::string& hostPath) {
  const hostsim::Conversion there = hostsim::Utf8ToCp932(fileSystemPath, hostPath);
  if (there != hostsim::Conversion::kDone) return there;
  if (hostPath.find('\0') != std::string::npos) return hostsim::Conversion::kNotHeld;
  std::string back;
  const hostsim::Conversion again = hostsim::Cp932ToUtf8(hostPath, back);
  if (again != hostsim::Conversion::kDone) return again;
  return back == fileSystemPath ? hostsim::Conversion::kDone : hostsim::Conversion::kNotHeld;
}

}  // namespace runner
