// The set of the top (or bottom) edges of a region's pieces, so that growth
// passes over a low piece that no other piece could lie against without
// searching for one.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"

namespace masking {

// Open addressing over a power-of-two table; kNoEdge, which no edge of 32-bit
// pieces can be, marks an empty place. Memory comes from AllocateBlock.
struct EdgeSet {
  Wide* places;
  std::uint32_t mask;
  std::uint32_t used;
};

// The top and the bottom edges of the pieces from `first` on; false, with
// nothing held, when memory ran out.
bool CollectEdges(EdgeSet& tops, EdgeSet& bottoms, const MaskPiece* first);
bool HasEdge(const EdgeSet& set, Wide edge);
void ReleaseEdges(EdgeSet& tops, EdgeSet& bottoms);

}  // namespace masking
