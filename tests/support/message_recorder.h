// Test definition of the engine's message display: every text is recorded,
// in order, as its raw bytes.
#pragma once

#include <string>
#include <vector>

std::vector<std::string>& RecordedMessages();
