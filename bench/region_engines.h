// One page's full region work (create, carve, grow, read, free) by each of
// the regions the side-by-side benchmark compares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bench/bench_pages.h"

namespace bench {

// The pieces and the area of the page left after carving, and (by this
// tree's region only) the pieces made on the way.
struct Carved {
  std::int64_t pieces;
  std::int64_t area;
  std::int64_t made;
};

// The most memory a region's allocations held at once during a run, and the
// number of requests it made.
struct MemoryUse {
  std::size_t peakBytes;
  std::size_t requests;
};

// The region of this tree (`current`) and, when the benchmark was configured
// with an earlier tree (VELUMO_BENCH_BEFORE), that tree's (`earlier`). Each
// run returns a checksum of the pieces it read, so that no work is optimised
// away.
namespace current {
std::int64_t FullWork(const std::vector<Frame>& frames);
Carved Carve(const std::vector<Frame>& frames);
MemoryUse Memory(const std::vector<Frame>& frames);
}  // namespace current
namespace earlier {
bool Available();
std::int64_t FullWork(const std::vector<Frame>& frames);
Carved Carve(const std::vector<Frame>& frames);
MemoryUse Memory(const std::vector<Frame>& frames);
}  // namespace earlier

// pixman's pixman_region32: each frame subtracted in turn, or all frames put
// in one region first and subtracted at once. Frames of negative size are
// left out: pixman refuses them, and those of the pages lie off the page.
std::int64_t PixmanEach(const std::vector<Frame>& frames);
std::int64_t PixmanBatch(const std::vector<Frame>& frames);
Carved PixmanCarved(const std::vector<Frame>& frames);

}  // namespace bench
