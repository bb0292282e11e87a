// Shared helpers for tests that look at a region's pieces.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "masking/mask_region.h"
#include "tests/support/coverage_grid.h"
#include "tests/support/failing_memory.h"

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

// The pieces front first, of the engine's region or of the oracle.
template <typename Region>
std::vector<Rect> Pieces(const Region& region) {
  std::vector<Rect> pieces;
  for (const auto* p = region.First(); p != nullptr; p = p->next) {
    pieces.push_back({p->x, p->y, p->width, p->height});
  }
  return pieces;
}

// What the region's self-check finds wrong, empty when nothing. Injected
// allocation failures are paused meanwhile: the check's own memory is not
// what a test means to fail.
inline std::string RegionFault(const masking::MaskRegion& region) {
  PauseAllocationFailures(true);
  const char* fault = region.SelfCheck();
  PauseAllocationFailures(false);
  return fault == nullptr ? std::string() : std::string(fault);
}

inline std::vector<coverage::Box> Boxes(const std::vector<Rect>& rects) {
  std::vector<coverage::Box> boxes;
  boxes.reserve(rects.size());
  for (const Rect& r : rects) boxes.push_back(coverage::BoxOf(r.x, r.y, r.width, r.height));
  return boxes;
}
