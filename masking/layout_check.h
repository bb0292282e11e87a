// Whether the pieces of a region overlap or sit side by side, found without
// comparing every pair: for the self-check of regions of any size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "masking/mask_piece.h"
#include "masking/memory.h"

namespace masking {

// Where a check takes its scratch memory from: AllocateBlock, or (for checks
// that must not take an allocation failure meant for the code they check)
// elsewhere.
struct ScratchMemory {
  void* (*allocate)(std::size_t size);
  void (*release)(void* block);
};
constexpr ScratchMemory kBlockMemory{AllocateBlock, ReleaseBlock};

// What LayoutFault returns when it could not get its memory.
extern const char kLayoutWithoutMemory[];

// Looks at the `count` pieces from `first` on, all of positive size, for two
// that overlap and, unless `sideBySideAllowed`, for two side by side (one's
// right edge on the other's left edge, with rows in common). Returns what it
// found, or null. Takes O(n log n) time and O(n) memory from `memory`;
// returns kLayoutWithoutMemory when it cannot get that memory.
const char* LayoutFault(const MaskPiece* first, std::uint32_t count, bool sideBySideAllowed,
                        const ScratchMemory& memory = kBlockMemory);

}  // namespace masking
