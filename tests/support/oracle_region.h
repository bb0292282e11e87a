// The mask region as it was first written: every Exclude walks the whole
// list and every low piece scans the whole list for its neighbour. Slow on
// pages with many pieces, but plainly right, so the tests keep it as the
// oracle that the engine's region (masking/mask_region.h) must match piece
// for piece, in list order, and allocation for allocation.
#pragma once

#include <cstdint>

namespace oracle {

// One rectangle of a region and one node of its list.
struct MaskPiece {
  MaskPiece* next;  // null at the last piece
  MaskPiece* prev;  // the sentinel for the first piece; null in the sentinel
  std::int32_t x;
  std::int32_t y;
  std::int32_t width;
  std::int32_t height;
};

// The region of one page. Every node is a separate allocation owned by the
// region. New pieces always enter at the front, directly behind the sentinel;
// the list order decides the order of the page's mask annotations and which
// neighbour a thin piece grows into.
//
// Memory shortage never leaves the list half-linked: Create returns null, and
// an Exclude that cannot get the nodes for splitting a piece leaves that piece
// as it was and returns false. The list is then still whole and well formed,
// but the frame is only partly carved, so the caller gives up on the page.
struct MaskRegion {
  MaskPiece* head;  // the sentinel; head->next is the first piece
  std::int32_t pageWidth;
  std::int32_t pageHeight;

  // A region holding one piece for the whole page, or null when memory ran out.
  static MaskRegion* Create(std::int32_t pageWidth, std::int32_t pageHeight);
  // Frees the sentinel, every piece in list order, then the region itself.
  static void Destroy(MaskRegion* region);

  // Carves the rectangle (x, y, width, height) out of the region. Returns
  // false when memory for new pieces ran out (see above).
  bool Exclude(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height);

  // Enlarges pieces lower or narrower than `minimum` without covering more of
  // the page: off the page at its edges, or into a neighbour above or below
  // that spans all of the piece's columns.
  void GrowSlivers(std::int32_t minimum);

  // Puts a new piece directly behind the sentinel.
  void PushFront(MaskPiece* piece);
  // Takes a piece out of the list; its own links stay as they were and the
  // caller frees it.
  static void Unlink(MaskPiece* piece);

  // The first piece, or null when the region is empty.
  const MaskPiece* First() const { return head->next; }
};

}  // namespace oracle
