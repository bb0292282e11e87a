// Fuzz target: the mask region under any page size, any frames and any
// growth minimum, with memory running out at a chosen allocation.
//
// Input (little-endian, see tests/fuzz/fuzz_input.h):
//   byte    flags: bit 0 an allocation fails, bit 1 an arbitrary growth minimum
//   int32   page width, int32 page height
//   byte    (bit 0) which allocation fails, 1-based
//   int32   (bit 1) the growth minimum; 300 otherwise, as the document pass uses
//   then up to 12 frames of four int32: x, y, width, height
//
// After the frames, on a page of positive size: every piece has positive size
// and lies on the page; with frames of non-negative size the pieces do not
// overlap and cover exactly the page minus the frames; with frames of positive
// size no two pieces lie side by side. Growth keeps the number of pieces and,
// on a page of positive size, shrinks none and changes nothing of what the
// page has covered. An
// allocation that fails makes Create return null or Exclude return false,
// with the list still well linked. At every step the live allocations are
// exactly the region, its sentinel and its pieces, and none after Destroy.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "masking/mask_region.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/coverage_grid.h"
#include "tests/support/failing_memory.h"
#include "tests/support/region_helpers.h"

namespace {

using masking::MaskRegion;
using coverage::Box;
using coverage::BoxOf;
using coverage::CoverageGrid;
using masking::MaskRegion;

constexpr std::size_t kMaxFrames = 12;

// The region's own blocks: the region record, the sentinel and each piece.
void CheckAllocations(const MaskRegion& region) {
  FUZZ_CHECK(RegionFault(region).empty());
  FUZZ_CHECK(LiveBlocks() == 2 + static_cast<long>(Pieces(region).size()));
}

void CheckPiecesOnPage(const std::vector<Rect>& pieces, std::int32_t width, std::int32_t height) {
  for (const Rect& p : pieces) {
    FUZZ_CHECK(p.width > 0 && p.height > 0);
    FUZZ_CHECK(p.x >= 0 && p.y >= 0);
    FUZZ_CHECK(std::int64_t{p.x} + p.width <= width);
    FUZZ_CHECK(std::int64_t{p.y} + p.height <= height);
  }
}

// Every cell of the page inside one of `frames` is covered by no piece; every
// other cell by exactly one (`exact`) or by at least one.
void CheckCoverage(const std::vector<Rect>& pieces, const std::vector<Rect>& frames,
                   std::int32_t width, std::int32_t height, bool exact) {
  std::vector<Box> edges = Boxes(pieces);
  const std::vector<Box> frameBoxes = Boxes(frames);
  edges.insert(edges.end(), frameBoxes.begin(), frameBoxes.end());
  const CoverageGrid grid(width, height, edges);
  const std::vector<int> covered = grid.Count(Boxes(pieces));
  const std::vector<int> kept = grid.Count(frameBoxes);
  for (std::size_t cell = 0; cell < covered.size(); ++cell) {
    if (kept[cell] > 0) {
      FUZZ_CHECK(covered[cell] == 0);
    } else if (exact) {
      FUZZ_CHECK(covered[cell] == 1);
    } else {
      FUZZ_CHECK(covered[cell] >= 1);
    }
  }
}

// After a refused split the frame may be partly carved: nothing outside the
// earlier frames is lost, except possibly parts of the refused one.
void CheckPartlyCarved(const std::vector<Rect>& pieces, const std::vector<Rect>& carved,
                       const Rect& refused, std::int32_t width, std::int32_t height) {
  std::vector<Rect> all = carved;
  all.push_back(refused);
  std::vector<Box> edges = Boxes(pieces);
  const std::vector<Box> frameBoxes = Boxes(all);
  edges.insert(edges.end(), frameBoxes.begin(), frameBoxes.end());
  const CoverageGrid grid(width, height, edges);
  const std::vector<int> covered = grid.Count(Boxes(pieces));
  const std::vector<int> inCarved = grid.Count(Boxes(carved));
  const std::vector<int> inRefused =
      grid.Count({BoxOf(refused.x, refused.y, refused.width, refused.height)});
  for (std::size_t cell = 0; cell < covered.size(); ++cell) {
    FUZZ_CHECK(covered[cell] <= 1);
    if (inCarved[cell] > 0) FUZZ_CHECK(covered[cell] == 0);
    if (inCarved[cell] == 0 && inRefused[cell] == 0) FUZZ_CHECK(covered[cell] == 1);
  }
}

void CheckNoneSideBySide(const std::vector<Rect>& pieces) {
  for (const Rect& a : pieces) {
    for (const Rect& b : pieces) {
      const bool sideBySide = std::int64_t{a.x} + a.width == b.x &&
                              a.y < std::int64_t{b.y} + b.height &&
                              b.y < std::int64_t{a.y} + a.height;
      FUZZ_CHECK(!sideBySide);
    }
  }
}

void CheckGrowth(const std::vector<Rect>& before, const std::vector<Rect>& after,
                 std::int32_t width, std::int32_t height, bool pageHasArea) {
  FUZZ_CHECK(after.size() == before.size());
  // On a page without area the pieces have no area either, and growing by a
  // neighbour of negative height moves a piece; only the first check holds.
  if (!pageHasArea) return;
  for (std::size_t i = 0; i < before.size(); ++i) {
    const Rect& b = before[i];
    const Rect& a = after[i];
    FUZZ_CHECK(a.x <= b.x && a.y <= b.y);
    FUZZ_CHECK(std::int64_t{a.x} + a.width >= std::int64_t{b.x} + b.width);
    FUZZ_CHECK(std::int64_t{a.y} + a.height >= std::int64_t{b.y} + b.height);
  }
  std::vector<Box> edges = Boxes(before);
  const std::vector<Box> grown = Boxes(after);
  edges.insert(edges.end(), grown.begin(), grown.end());
  const CoverageGrid grid(width, height, edges);
  const std::vector<int> was = grid.Count(Boxes(before));
  const std::vector<int> is = grid.Count(grown);
  for (std::size_t cell = 0; cell < was.size(); ++cell)
    FUZZ_CHECK((was[cell] > 0) == (is[cell] > 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t flags = input.Byte();
  const std::int32_t width = input.Int32();
  const std::int32_t height = input.Int32();
  const long failAt = (flags & 1) != 0 ? 1 + long{input.Byte()} : 0;
  const std::int32_t minimum = (flags & 2) != 0 ? input.Int32() : 300;
  std::vector<Rect> frames;
  while (!input.Empty() && frames.size() < kMaxFrames) {
    const std::int32_t x = input.Int32();
    const std::int32_t y = input.Int32();
    const std::int32_t w = input.Int32();
    const std::int32_t h = input.Int32();
    frames.push_back(Rect{x, y, w, h});
  }
  const bool pageHasArea = width > 0 && height > 0;

  FailAllocationAfter(failAt);
  MaskRegion* region = MaskRegion::Create(width, height);
  if (region == nullptr) {
    FUZZ_CHECK(failAt > 0 && AllocationRequests() == failAt);
    FUZZ_CHECK(LiveBlocks() == 0);
    FailAllocationAfter(0);
    return 0;
  }
  FUZZ_CHECK((Pieces(*region) == std::vector<Rect>{{0, 0, width, height}}));
  CheckAllocations(*region);

  std::vector<Rect> carved;
  bool refused = false;
  for (const Rect& frame : frames) {
    const long requestsBefore = AllocationRequests();
    const bool excluded = region->Exclude(frame.x, frame.y, frame.width, frame.height);
    CheckAllocations(*region);
    if (!excluded) {
      // Only the failing allocation can make Exclude give up, and then the
      // caller gives up on the page: nothing more is carved.
      FUZZ_CHECK(failAt > requestsBefore && AllocationRequests() == failAt);
      if (pageHasArea) {
        CheckPiecesOnPage(Pieces(*region), width, height);
        const bool nonNegative = frame.width >= 0 && frame.height >= 0;
        bool allNonNegative = nonNegative;
        for (const Rect& f : carved)
          allNonNegative = allNonNegative && f.width >= 0 && f.height >= 0;
        if (allNonNegative) CheckPartlyCarved(Pieces(*region), carved, frame, width, height);
      }
      refused = true;
      break;
    }
    carved.push_back(frame);
  }

  const std::vector<Rect> before = Pieces(*region);
  if (pageHasArea && !refused) {
    CheckPiecesOnPage(before, width, height);
    bool nonNegative = true;
    bool positive = true;
    for (const Rect& f : carved) {
      nonNegative = nonNegative && f.width >= 0 && f.height >= 0;
      positive = positive && f.width > 0 && f.height > 0;
    }
    if (nonNegative) CheckCoverage(before, carved, width, height, /*exact=*/true);
    if (positive) CheckNoneSideBySide(before);
  }

  if (!refused) {
    region->GrowSlivers(minimum);
    CheckAllocations(*region);
    CheckGrowth(before, Pieces(*region), width, height, pageHasArea);
  }

  MaskRegion::Destroy(region);
  FUZZ_CHECK(LiveBlocks() == 0);
  FailAllocationAfter(0);
  return 0;
}
