#include "masking/edge_index.h"

#include <cstddef>
#include <cstdint>

#include "masking/memory.h"

namespace masking {

bool BuildEdgeIndex(EdgeIndex& index, MaskPiece* first, std::uint32_t count, std::uint32_t more) {
  index = EdgeIndex{};
  // Two listings for each piece, and as many buckets at least: most chains
  // hold only pieces that share a value.
  const std::uint64_t listings = 2 * std::uint64_t{count} + more;
  std::uint32_t bits = 1;
  while ((std::uint64_t{1} << bits) < 2 * std::uint64_t{count}) ++bits;
  const std::uint64_t buckets = std::uint64_t{1} << bits;
  // Listings are numbered in 32 bits, kNoListing excluded.
  const std::size_t pointerSize = sizeof(MaskPiece*);  // NOLINT(bugprone-sizeof-expression)
  const std::uint64_t bytes =
      listings * (pointerSize + sizeof(std::uint32_t)) + buckets * sizeof(std::uint32_t);
  if (listings >= kNoListing || !Addressable(bytes, 1)) return false;
  void* block = AllocateBlock(static_cast<std::size_t>(bytes));
  if (block == nullptr) return false;
  index.block = block;
  // The pointers first, for their alignment.
  index.pieces = static_cast<MaskPiece**>(block);
  index.next = reinterpret_cast<std::uint32_t*>(index.pieces + listings);
  index.heads = index.next + listings;
  index.shift = 64 - bits;
  for (std::uint64_t b = 0; b < buckets; ++b) index.heads[b] = kNoListing;
  std::uint32_t listed = 0;
  for (MaskPiece* p = first; p != nullptr && listed < count; p = p->next, ++listed) {
    ListEdge(index, false, *p);
    ListEdge(index, true, *p);
  }
  return true;
}

void ReleaseEdgeIndex(EdgeIndex& index) {
  ReleaseBlock(index.block);
  index = EdgeIndex{};
}

void ListEdge(EdgeIndex& index, bool bottom, MaskPiece& piece) {
  std::uint32_t& head =
      index.heads[EdgeBucket(index, bottom, bottom ? BottomOf(piece) : Wide{piece.y})];
  const std::uint32_t listing = index.used++;
  index.pieces[listing] = &piece;
  index.next[listing] = head;
  head = listing;
}

}  // namespace masking
