// pixman's regions on the benchmark's pages.
#include <pixman.h>

#include <cstdint>
#include <vector>

#include "bench/region_engines.h"

namespace bench {
namespace {

bool HasArea(const Frame& f) { return f.width > 0 && f.height > 0; }

std::int64_t ReadAndFree(pixman_region32_t& region) {
  int count = 0;
  const pixman_box32_t* boxes = pixman_region32_rectangles(&region, &count);
  std::int64_t sum = 0;
  for (int i = 0; i < count; ++i) {
    sum += std::int64_t{boxes[i].x1} + boxes[i].y1 + boxes[i].x2 + boxes[i].y2;
  }
  pixman_region32_fini(&region);
  return sum;
}

void CarveEach(pixman_region32_t& region, const std::vector<Frame>& frames) {
  pixman_region32_init_rect(&region, 0, 0, kPageWidth, kPageHeight);
  for (const Frame& f : frames) {
    if (!HasArea(f)) continue;
    pixman_region32_t frame;
    pixman_region32_init_rect(&frame, f.x, f.y, static_cast<unsigned>(f.width),
                              static_cast<unsigned>(f.height));
    pixman_region32_subtract(&region, &region, &frame);
    pixman_region32_fini(&frame);
  }
}

}  // namespace

std::int64_t PixmanEach(const std::vector<Frame>& frames) {
  pixman_region32_t region;
  CarveEach(region, frames);
  return ReadAndFree(region);
}

std::int64_t PixmanBatch(const std::vector<Frame>& frames) {
  std::vector<pixman_box32_t> boxes;
  boxes.reserve(frames.size());
  for (const Frame& f : frames) {
    if (HasArea(f)) boxes.push_back({f.x, f.y, f.x + f.width, f.y + f.height});
  }
  pixman_region32_t kept;
  pixman_region32_init_rects(&kept, boxes.data(), static_cast<int>(boxes.size()));
  pixman_region32_t region;
  pixman_region32_init_rect(&region, 0, 0, kPageWidth, kPageHeight);
  pixman_region32_subtract(&region, &region, &kept);
  pixman_region32_fini(&kept);
  return ReadAndFree(region);
}

Carved PixmanCarved(const std::vector<Frame>& frames) {
  pixman_region32_t region;
  CarveEach(region, frames);
  int count = 0;
  const pixman_box32_t* boxes = pixman_region32_rectangles(&region, &count);
  Carved carved{count, 0, -1};
  for (int i = 0; i < count; ++i) {
    carved.area += std::int64_t{boxes[i].x2 - boxes[i].x1} * (boxes[i].y2 - boxes[i].y1);
  }
  pixman_region32_fini(&region);
  return carved;
}

}  // namespace bench
