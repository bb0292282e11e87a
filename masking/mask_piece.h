// One rectangle of a mask region, which is also one node of its list.
#pragma once

#include <cstdint>

namespace masking {

// Edges are computed in 64 bits: a document may hold frames so large or so
// far off the page that x + width no longer fits in 32 bits.
using Wide = std::int64_t;

// The grid cells a piece covers, first to last inclusive.
struct CellRange {
  std::uint16_t firstColumn;
  std::uint16_t lastColumn;
  std::uint16_t firstRow;
  std::uint16_t lastRow;
};

struct MaskPiece {
  MaskPiece* next;  // null at the last piece
  MaskPiece* prev;  // the sentinel for the first piece; null in the sentinel
  std::int32_t x;
  std::int32_t y;
  std::int32_t width;
  std::int32_t height;
  // When the piece entered the list, from its region's counter. Pieces only
  // ever enter at the front, so stamps fall strictly from the front of the
  // list to its back, and comparing two stamps compares list positions. In
  // 32 bits, which keeps a piece to 48 bytes (40 on a 32-bit host): the large
  // pages' pieces then fit better in the caches. A region numbers its pieces
  // afresh before its counter would run out.
  std::uint32_t stamp;
  // While the region has a grid: the piece's cells in it, and whether it is
  // listed in them (masking/piece_grid.h).
  CellRange cells;
  bool listed;
};

// A keep-frame by its edges.
struct FrameEdges {
  Wide left;
  Wide top;
  Wide right;
  Wide bottom;
};

// A test's outcome as 0 or 1, for tests combined without a branch.
inline std::uint32_t Bit(bool value) { return static_cast<std::uint32_t>(value); }

inline Wide RightOf(const MaskPiece& p) { return Wide{p.x} + p.width; }
inline Wide BottomOf(const MaskPiece& p) { return Wide{p.y} + p.height; }

}  // namespace masking
