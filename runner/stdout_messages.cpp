#include "runner/stdout_messages.h"

#include <cstdio>
#include <string>

#include "hostsim/cp932.h"
#include "masking/message_sink.h"

namespace {
// The engine's texts are static strings and the page messages live until
// the call returns, so only whether it was the closing text matters: keep a
// pointer for identity checks, never for reading after the call.
const char* lastShown = nullptr;
}  // namespace

const char* LastMessageShown() { return lastShown; }

void ShowMessage(const char* text) {
  lastShown = text;
  const std::string line = hostsim::Cp932ToUtf8(text);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
