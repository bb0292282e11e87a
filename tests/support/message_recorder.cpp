#include "tests/support/message_recorder.h"

#include "masking/message_sink.h"

std::vector<std::string>& RecordedMessages() {
  static std::vector<std::string> messages;
  return messages;
}

void masking::ShowMessage(const char* text) { RecordedMessages().emplace_back(text); }
