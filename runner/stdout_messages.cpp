// The console runner's message display: each message goes to standard output
// as one line of UTF-8, in the order shown.
#include <cstdio>
#include <string>

#include "hostsim/cp932.h"
#include "masking/message_sink.h"

void masking::ShowMessage(const char* text) {
  const std::string line = hostsim::Cp932ToUtf8(text);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
