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
  // Once sorted: where each value's listings made first begin among the
  // sorted ones, and how many there are.
  std::uint32_t* sortedFrom;
  std::uint32_t* sortedCount;
};

// A piece's listing under the value of one edge, copied out for sorting.
struct EdgeEntry {
  Wide edge;
  std::int32_t x;
  MaskPiece* piece;
};

// Every piece is listed under its top edge in `tops` and its bottom edge in
// `bottoms`; a piece whose edge has moved is listed under the new value too,
// in front of the listings made first (its old listing stays, and is passed
// over since it no longer matches). All memory comes from AllocateBlock.
//
// Pieces that do not overlap and share an edge lie side by side along it, so
// at most one of them holds a given column there. When a chain grows long,
// the listings made first are sorted by edge and column (`byTop` and
// `byBottom`) and that one is found by bisection, instead of by walking the
// whole chain; only the listings of moved edges are still walked.
struct EdgeIndex {
  EdgeTable tops;
  EdgeTable bottoms;
  EdgeListing* listings;
  std::uint32_t capacity;
  std::uint32_t used;
  std::uint32_t first;      // listings made when the index was built
  std::uint32_t longChain;  // chains longer than this are worth sorting
  bool disjoint;            // the pieces did not overlap then
  bool sortFailed;          // no memory for the sorted listings
  EdgeEntry* byTop;         // null until sorted
  EdgeEntry* byBottom;
};

// Lists the `count` pieces from `first` on, with room for each to move one
// edge once; `disjoint` when no two of them overlap. The listings are sorted
// once a lookup meets a chain longer than `longChain` (kLongChain, or 0 for
// tests that want the sorted listings used at once). False, with nothing
// held, when memory ran out.
constexpr std::uint32_t kLongChain = 16;
bool BuildEdgeIndex(EdgeIndex& index, MaskPiece* first, std::uint32_t count, bool disjoint,
                    std::uint32_t longChain = kLongChain);
void ReleaseEdgeIndex(EdgeIndex& index);

// The first piece in list order that begins at the bottom edge of `low` or
// ends at its top edge and spans all of its columns, and whether it lies
// below (tested first for each piece); null when there is none.
const MaskPiece* NeighbourByEdges(EdgeIndex& index, const MaskPiece& low, bool& below);

// Lists a piece whose bottom edge (or, unless `bottom`, top edge) has moved
// onto a value that some piece's same edge already has.
void NoteMovedEdge(EdgeIndex& index, MaskPiece& piece, bool bottom);

}  // namespace masking
