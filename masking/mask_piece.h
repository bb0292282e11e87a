// One rectangle of a mask region, which is also one node of its list.
#pragma once

#include <cstdint>

namespace masking {

// Edges are computed in 64 bits: a document may hold frames so large or so
// far off the page that x + width no longer fits in 32 bits.
using Wide = std::int64_t;

struct MaskPiece {
  MaskPiece* next;  // null at the last piece
  MaskPiece* prev;  // the sentinel for the first piece; null in the sentinel
  std::int32_t x;
  std::int32_t y;
  std::int32_t width;
  std::int32_t height;
};

// A keep-frame by its edges.
struct FrameEdges {
  Wide left;
  Wide top;
  Wide right;
  Wide bottom;
};

inline Wide RightOf(const MaskPiece& p) { return Wide{p.x} + p.width; }
inline Wide BottomOf(const MaskPiece& p) { return Wide{p.y} + p.height; }

}  // namespace masking
