#include "runner/stdout_messages.h"

#include <cstdio>
#include <string>

#include "masking/message_sink.h"
#include "runner/display_text.h"

namespace runner {
namespace {

bool outputFailed = false;

}  // namespace

bool StandardOutputFailed() { return outputFailed; }

}  // namespace runner

// Paths inside a message have their control characters escaped, so that
// every message stays on its one line.
void masking::ShowMessage(const char* text) {
  const std::string line = runner::DisplayText(text) + "\n";
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0) {
    runner::outputFailed = true;
  }
}
