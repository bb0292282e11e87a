// The region of this tree, or (compiled with VELUMO_ENGINE_NS=earlier, the
// engine's namespace renamed and an earlier tree's headers first on the
// include path) that of the earlier tree.
#include <cstdint>
#include <vector>

#include "bench/bench_pages.h"
#include "bench/counting_memory.h"
#include "bench/region_engines.h"
#include "hostapi/host_api.h"
#include "masking/mask_region.h"

namespace bench {
namespace VELUMO_ENGINE_NS {

bool Available();
bool Available() { return true; }

std::int64_t FullWork(const std::vector<Frame>& frames) {
  masking::MaskRegion* region = masking::MaskRegion::Create(kPageWidth, kPageHeight);
  if (region == nullptr) return -1;
  for (const Frame& f : frames) {
    if (!region->Exclude(f.x, f.y, f.width, f.height)) {
      masking::MaskRegion::Destroy(region);
      return -1;
    }
  }
  region->GrowSlivers(kMinimumRectangleSize);
  std::int64_t sum = 0;
  for (const masking::MaskPiece* p = region->First(); p != nullptr; p = p->next) {
    sum += std::int64_t{p->x} + p->y + p->width + p->height;
  }
  masking::MaskRegion::Destroy(region);
  return sum;
}

Carved Carve(const std::vector<Frame>& frames) {
  Carved carved{-1, -1, -1};
  masking::MaskRegion* region = masking::MaskRegion::Create(kPageWidth, kPageHeight);
  if (region == nullptr) return carved;
  bool ok = true;
  for (const Frame& f : frames) ok = ok && region->Exclude(f.x, f.y, f.width, f.height);
  if (ok) {
    carved = Carved{0, 0, -1};
    for (const masking::MaskPiece* p = region->First(); p != nullptr; p = p->next) {
      ++carved.pieces;
      carved.area += std::int64_t{p->width} * p->height;
    }
#ifndef VELUMO_BENCH_EARLIER_ENGINE
    carved.made = static_cast<std::int64_t>(region->PiecesMade());
#endif
  }
  masking::MaskRegion::Destroy(region);
  return carved;
}

MemoryUse Memory(const std::vector<Frame>& frames) {
  masking::ResetMemoryCount();
  FullWork(frames);
  return MemoryUse{masking::PeakBytes(), masking::Requests()};
}

}  // namespace VELUMO_ENGINE_NS
}  // namespace bench
