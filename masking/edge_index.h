// The pieces of a region by the values of their top and bottom edges, for
// growth, which looks for the pieces that begin where a low piece ends or
// end where it begins.
//
// Each bucket of values chains the listings of the pieces whose top (or
// bottom) edge had a value of that bucket when they were listed. Growth only
// ever moves an edge of the piece it grows, and then lists the piece under
// its new value, so every piece is listed under its current edges; a lookup
// passes over the listings of pieces that no longer have the value.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"

namespace masking {

struct EdgeIndex {
  void* block;           // all of the index's memory
  std::uint32_t* heads;  // the first listing of each bucket's chain
  MaskPiece** pieces;    // each listing's piece
  std::uint32_t* next;   // each listing's successor in its chain
  std::uint32_t used;    // listings made, at most as many as room was made for
  std::uint32_t shift;   // 64 less the bits of a bucket's number
};

constexpr std::uint32_t kNoListing = 0xFFFFFFFFu;

// Lists the top and bottom edges of the `count` pieces from `first` on, with
// room for `more` listings later; false, with nothing held, when memory ran
// out or the listings would not fit the index's numbers.
bool BuildEdgeIndex(EdgeIndex& index, MaskPiece* first, std::uint32_t count, std::uint32_t more);
void ReleaseEdgeIndex(EdgeIndex& index);

// The bucket of a top edge's value (or, with `bottom`, a bottom edge's), by
// Fibonacci hashing, whose high bits spread even evenly spaced values.
inline std::uint32_t EdgeBucket(const EdgeIndex& index, bool bottom, Wide value) {
  const std::uint64_t key = (static_cast<std::uint64_t>(value) << 1) | Bit(bottom);
  return static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15u) >> index.shift);
}

// The first listing of that bucket's chain.
inline std::uint32_t FirstListing(const EdgeIndex& index, bool bottom, Wide value) {
  return index.heads[EdgeBucket(index, bottom, value)];
}

// Lists a piece under its current top edge (or bottom edge), in room asked
// for when the index was built, which must not be used up.
void ListEdge(EdgeIndex& index, bool bottom, MaskPiece& piece);

}  // namespace masking
