// Where written text goes, piece by piece.
#pragma once

#include <functional>
#include <string_view>

namespace hostsim {

// Receives the next piece of the text; false stops the writing.
using TextSink = std::function<bool(std::string_view text)>;

}  // namespace hostsim
