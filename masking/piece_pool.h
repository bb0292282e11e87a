// Memory for a region's pieces: slabs from AllocateBlock, each carved into
// many pieces, and a free list of the pieces given back. One request to
// AllocateBlock serves many pieces, and a region is released slab by slab.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"

namespace masking {

struct PieceSlab;

// Slabs double from the first to the largest, so that a page of few pieces
// takes little memory and a page of very many takes few requests.
constexpr std::uint32_t kFirstSlabPieces = 64;
constexpr std::uint32_t kLargestSlabPieces = 4096;

// Pieces come from `fresh` up to `freshEnd`, the unused end of the newest
// slab (at first the region's own few), or from `spare`, the pieces given
// back, chained through `next`. A shortage is an ordinary result (null).
struct PiecePool {
  PieceSlab* slabs;  // newest first
  MaskPiece* spare;
  MaskPiece* fresh;
  MaskPiece* freshEnd;
  std::uint32_t nextSlabPieces;
};

// A pool that starts with the `count` pieces at `first`, which it does not own.
PiecePool PoolWith(MaskPiece* first, std::uint32_t count);
// Takes a new slab and a piece from it, or null when memory ran out.
MaskPiece* TakeFromNewSlab(PiecePool& pool);

// A piece with undefined contents, or null when memory ran out.
inline MaskPiece* TakePiece(PiecePool& pool) {
  if (pool.spare != nullptr) {
    MaskPiece* piece = pool.spare;
    pool.spare = piece->next;
    return piece;
  }
  if (pool.fresh != pool.freshEnd) return pool.fresh++;
  return TakeFromNewSlab(pool);
}

inline void GiveBack(PiecePool& pool, MaskPiece* piece) {
  piece->next = pool.spare;
  pool.spare = piece;
}
// Releases every slab; the pool's pieces must no longer be used.
void ReleasePool(PiecePool& pool);

}  // namespace masking
