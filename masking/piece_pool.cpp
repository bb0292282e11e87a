#include "masking/piece_pool.h"

#include <cstddef>
#include <cstdint>

#include "masking/memory.h"

namespace masking {

// A slab's header; its pieces follow it in the same block, so it is as
// aligned as they are (on a 32-bit system a pointer is not).
struct alignas(MaskPiece) PieceSlab {
  PieceSlab* next;
};
static_assert(sizeof(PieceSlab) % alignof(MaskPiece) == 0, "pieces follow the header aligned");

PiecePool PoolWith(MaskPiece* first, std::uint32_t count) {
  return PiecePool{nullptr, nullptr, first, first + count, kFirstSlabPieces};
}

MaskPiece* TakeFromNewSlab(PiecePool& pool) {
  const std::uint32_t count = pool.nextSlabPieces;
  void* block = AllocateBlock(sizeof(PieceSlab) + std::size_t{count} * sizeof(MaskPiece));
  if (block == nullptr) return nullptr;
  auto* slab = static_cast<PieceSlab*>(block);
  slab->next = pool.slabs;
  pool.slabs = slab;
  pool.fresh = reinterpret_cast<MaskPiece*>(slab + 1);
  pool.freshEnd = pool.fresh + count;
  if (count < kLargestSlabPieces) pool.nextSlabPieces = 2 * count;
  return pool.fresh++;
}

void ReleasePool(PiecePool& pool) {
  PieceSlab* slab = pool.slabs;
  while (slab != nullptr) {
    PieceSlab* next = slab->next;
    ReleaseBlock(slab);
    slab = next;
  }
  pool = PiecePool{};
}

}  // namespace masking
