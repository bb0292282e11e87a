// Shared helpers for tests that look at a region's pieces.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "masking/mask_region.h"
#include "tests/support/coverage_grid.h"

struct Rect {
  std::int32_t x;
  std::int32_t y;
  std::int32_t width;
  std::int32_t height;
  bool operator==(const Rect& other) const {
    return x == other.x && y == other.y && width == other.width && height == other.height;
  }
};

inline std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}

// The pieces front first.
inline std::vector<Rect> Pieces(const masking::MaskRegion& region) {
  std::vector<Rect> pieces;
  for (const masking::MaskPiece* p = region.First(); p != nullptr; p = p->next) {
    pieces.push_back({p->x, p->y, p->width, p->height});
  }
  return pieces;
}

// True when every node's prev names the node before it and the sentinel is
// untouched.
inline bool WellLinked(const masking::MaskRegion& region) {
  const masking::MaskPiece* head = region.head;
  if (head->prev != nullptr || head->x != 0 || head->y != 0 || head->width != 0 ||
      head->height != 0) {
    return false;
  }
  for (const masking::MaskPiece* p = head; p->next != nullptr; p = p->next) {
    if (p->next->prev != p) return false;
  }
  return true;
}

inline std::vector<coverage::Box> Boxes(const std::vector<Rect>& rects) {
  std::vector<coverage::Box> boxes;
  boxes.reserve(rects.size());
  for (const Rect& r : rects) boxes.push_back(coverage::BoxOf(r.x, r.y, r.width, r.height));
  return boxes;
}
