#include "runner/stdout_messages.h"

#include <cstdio>
#include <new>
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
// every message stays on its one line. Nothing is thrown back into the pass:
// a message that there is no memory to convert is lost, and said to be.
void masking::ShowMessage(const char* text) {
  try {
    const std::string line = runner::DisplayText(text) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
        std::fflush(stdout) != 0) {
      runner::outputFailed = true;
    }
  } catch (const std::bad_alloc&) {
    runner::outputFailed = true;
    std::fputs("velumo: not enough memory to show a message of the plug-in\n", stderr);
  }
}
