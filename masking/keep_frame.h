// The annotation convention in the user's documents: which rectangles mark an
// area to keep, and what a mask is. The document pass, the stand-in host's
// pictures and the tests all judge annotations by these rules alone.
#pragma once

#include <cstdint>

#include "hostapi/host_api.h"

namespace masking {

// Border style of a rectangle with a border.
constexpr std::int32_t kBorderedStyle = 1;
// Fill style of a filled rectangle.
constexpr std::int32_t kFilledStyle = 1;
// Border style that every mask annotation is given: none.
constexpr std::int32_t kBorderlessStyle = 0;

// A keep-frame is a hollow rectangle: a rectangle annotation with a border
// and any fill style but "filled".
constexpr bool IsKeepFrame(std::int32_t type, std::int32_t borderStyle, std::int32_t fillStyle) {
  return type == kRectangleAnnotation && borderStyle == kBorderedStyle && fillStyle != kFilledStyle;
}

// A mask is a borderless rectangle annotation.
constexpr bool IsMask(std::int32_t type, std::int32_t borderStyle) {
  return type == kRectangleAnnotation && borderStyle == kBorderlessStyle;
}

}  // namespace masking
