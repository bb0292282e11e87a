// The annotation convention in the user's documents: which rectangles mark an
// area to keep, and what a mask is. The document pass, the runner's pictures
// and the tests all judge annotations by these rules alone; the attribute
// values they test are the host's (hostapi/host_api.h).
#pragma once

#include <cstdint>

#include "hostapi/host_api.h"

namespace masking {

// A keep-frame is a hollow rectangle: a rectangle annotation with a border
// and any fill style but "filled".
constexpr bool IsKeepFrame(std::int32_t type, std::int32_t borderStyle, std::int32_t fillStyle) {
  return type == kRectangleAnnotation && borderStyle == kBorderedStyle && fillStyle != kFilledStyle;
}

// A mask is a borderless rectangle annotation: the pass sets its border style
// to kBorderlessStyle and leaves the rest as the host made it.
constexpr bool IsMask(std::int32_t type, std::int32_t borderStyle) {
  return type == kRectangleAnnotation && borderStyle == kBorderlessStyle;
}

}  // namespace masking
