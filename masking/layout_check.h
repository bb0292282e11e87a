// Whether the pieces of a region overlap or sit side by side, found without
// comparing every pair: for the self-check of regions of any size.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"

namespace masking {

// Looks at the `count` pieces from `first` on, all of positive size, for two
// that overlap and, unless `sideBySideAllowed`, for two side by side (one's
// right edge on the other's left edge, with rows in common). Returns what it
// found, or null. Takes O(n log n) time and O(n) memory from AllocateBlock;
// says so when it cannot get that memory.
const char* LayoutFault(const MaskPiece* first, std::uint32_t count, bool sideBySideAllowed);

}  // namespace masking
