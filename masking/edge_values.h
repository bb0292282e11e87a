// Which values the top and bottom edges of a region's pieces take, as two
// bitmaps, sized to the region, indexed by the low bits of the value: it may
// say that a value is taken when only another value with the same low bits
// is, never that a value taken is not. Growth asks it before it looks for
// the neighbours of a low piece: no piece begins at its bottom edge unless
// some top edge has that value, and none ends at its top edge unless some
// bottom edge has that one.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"

namespace masking {

struct EdgeValues {
  std::uint64_t* bits;  // the top edges' bitmap, then the bottom edges'
  std::uint32_t mask;   // the bits of a value that index a bitmap
};

// Bits of a bitmap: about eight for each piece noted, between these.
constexpr std::uint32_t kFewestEdgeValueBits = 1u << 10;
constexpr std::uint32_t kMostEdgeValueBits = 1u << 16;

// Notes the edges of the `count` pieces from `first` on; false, with nothing
// held, when memory ran out.
bool NoteEdgeValues(EdgeValues& values, const MaskPiece* first, std::uint32_t count);
void ReleaseEdgeValues(EdgeValues& values);

inline std::uint64_t& EdgeWord(const EdgeValues& values, bool bottom, Wide value) {
  const std::uint32_t bit =
      static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)) & values.mask;
  return values.bits[(bottom ? (values.mask + 1) / 64 : 0) + bit / 64];
}

inline std::uint64_t EdgeBit(Wide value) {
  return std::uint64_t{1} << (static_cast<std::uint64_t>(value) % 64);
}

// The bitmaps are behind a pointer: noting an edge leaves the record as it is.
inline void NoteEdge(const EdgeValues& values, bool bottom, Wide value) {
  EdgeWord(values, bottom, value) |= EdgeBit(value);
}

// Whether some piece's top edge (or, with `bottom`, bottom edge) may be
// `value`.
inline bool EdgeTaken(const EdgeValues& values, bool bottom, Wide value) {
  return (EdgeWord(values, bottom, value) & EdgeBit(value)) != 0;
}

}  // namespace masking
