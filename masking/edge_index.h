// The pieces of a region by the exact value of their top edge and of their
// bottom edge, so that growth finds the neighbours a low piece may grow into
// among the few pieces that lie against it instead of the whole list.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"

namespace masking {

// One listing of a piece under an edge value: a link of that value's chain.
struct EdgeListing {
  MaskPiece* piece;
  std::uint32_t next;  // kNoListing at the end of the chain
};

constexpr std::uint32_t kNoListing = 0xFFFFFFFFu;

// Edge values and the first listing of each, by open addressing over a
// power-of-two table.
struct EdgeTable {
  Wide* values;
  std::uint32_t* chains;
  std::uint32_t mask;
  std::uint32_t used;
};

// Every piece is listed under its top edge in `tops` and its bottom edge in
// `bottoms`; a piece whose edge has moved is listed under the new value too
// (its old listing stays, and is passed over since it no longer matches).
// All memory comes from AllocateBlock.
struct EdgeIndex {
  EdgeTable tops;
  EdgeTable bottoms;
  EdgeListing* listings;
  std::uint32_t capacity;
  std::uint32_t used;
};

// Lists the `count` pieces from `first` on, with room for each to move one
// edge once; false, with nothing held, when memory ran out.
bool BuildEdgeIndex(EdgeIndex& index, MaskPiece* first, std::uint32_t count);
void ReleaseEdgeIndex(EdgeIndex& index);

// The first piece in list order that begins at the bottom edge of `low` or
// ends at its top edge and spans all of its columns, and whether it lies
// below (tested first for each piece); null when there is none.
const MaskPiece* NeighbourByEdges(const EdgeIndex& index, const MaskPiece& low, bool& below);

// Lists a piece whose bottom edge (or, unless `bottom`, top edge) has moved
// onto a value that some piece's same edge already has.
void NoteMovedEdge(EdgeIndex& index, MaskPiece& piece, bool bottom);

}  // namespace masking
