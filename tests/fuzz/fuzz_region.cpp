// Fuzz target: the mask region under any page size, any frames and any
// growth minimum, with memory running out at a chosen allocation, compared
// step by step with the oracle (tests/support/oracle_region.h).
//
// Input (little-endian, see tests/fuzz/fuzz_input.h):
//   byte    flags: bit 0 an allocation fails, bit 1 an arbitrary growth
//           minimum, bit 2 the region walks its list below a chosen number
//           of pieces, or (255) until its grid pays as in the product
//           (otherwise it uses its grid from the start), bit 3 growth looks
//           up neighbours through the grid rather than an index of edges
//   int32   page width, int32 page height
//   byte    (bit 0) which allocation fails, 1-based
//   int32   (bit 1) the growth minimum; otherwise the one the document pass uses
//   byte    (bit 2) the number of pieces from which the region uses its grid
//   then up to 12 frames of four int32: x, y, width, height
//
// After every step the list is the oracle's, piece for piece and in order,
// and the region's self-check finds nothing wrong. Memory running out at an
// allocation of the grid changes nothing; at an allocation of a piece it
// makes Create return null, or Exclude return false with exactly the list
// the oracle leaves when its allocation for the same frame fails, and the
// region then refuses every further frame and growth. On a page
// of positive size carved by frames of non-negative size the pieces cover
// exactly the page minus the frames (after a refusal: minus the earlier
// frames and perhaps parts of the refused one). Growth keeps the number of
// pieces and, on such a page, shrinks none and changes nothing of what the
// page has covered. The live allocations are the region's record, the slabs
// of its pieces and the grid's few blocks while it is in use; none after
// Destroy.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hostapi/host_api.h"
#include "masking/mask_region.h"
#include "masking/piece_pool.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/coverage_grid.h"
#include "tests/support/failing_memory.h"
#include "tests/support/oracle_region.h"
#include "tests/support/region_helpers.h"
#include "tests/support/region_runs.h"

namespace {

using coverage::Box;
using coverage::BoxOf;
using coverage::CoverageGrid;
using masking::MaskRegion;

constexpr std::size_t kMaxFrames = 12;
// The grid's layout (its cuts, buckets and cells), its entries and the pieces a lookup found.
constexpr long kGridBlocks = 3;

// The region's record, and a slab for at most each kFirstSlabPieces pieces
// it has held at once (and the four a split takes before it lets one go).
void CheckRegion(const MaskRegion& region, std::size_t& mostPieces) {
  FUZZ_CHECK(RegionFault(region).empty());
  mostPieces = std::max(mostPieces, Pieces(region).size());
  const long own = 1 + static_cast<long>((mostPieces + 4) / masking::kFirstSlabPieces) + 1;
  FUZZ_CHECK(LiveBlocks() >= 1);
  FUZZ_CHECK(LiveBlocks() <= own + (region.UsesGrid() ? kGridBlocks : 0));
}

// Every cell of the page inside one of `frames` is covered by no piece; every
// other cell by exactly one.
void CheckCoverage(const std::vector<Rect>& pieces, const std::vector<Rect>& frames,
                   std::int32_t width, std::int32_t height) {
  std::vector<Box> edges = Boxes(pieces);
  const std::vector<Box> frameBoxes = Boxes(frames);
  edges.insert(edges.end(), frameBoxes.begin(), frameBoxes.end());
  const CoverageGrid grid(width, height, edges);
  const std::vector<int> covered = grid.Count(Boxes(pieces));
  const std::vector<int> kept = grid.Count(frameBoxes);
  for (std::size_t cell = 0; cell < covered.size(); ++cell) {
    FUZZ_CHECK(covered[cell] == (kept[cell] > 0 ? 0 : 1));
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

// The oracle's allocation requests after creation and after each frame,
// without failures.
std::vector<long> OracleRequests(const RegionScript& script) {
  FailAllocationAfter(0);
  std::vector<long> requests;
  oracle::MaskRegion* region = oracle::MaskRegion::Create(script.width, script.height);
  requests.push_back(AllocationRequests());
  for (const Rect& f : script.frames) {
    region->Exclude(f.x, f.y, f.width, f.height);
    requests.push_back(AllocationRequests());
  }
  oracle::MaskRegion::Destroy(region);
  return requests;
}

// Whether the oracle, failing one of its allocations for frame `refused`,
// gives up on that frame leaving `outcome`.
bool OracleRefusesAlike(const RegionScript& script, std::size_t refused,
                        const RegionOutcome& outcome) {
  const std::vector<long> requests = OracleRequests(script);
  for (long failing = requests[refused] + 1; failing <= requests[refused + 1]; ++failing) {
    FailAllocationAfter(failing);
    const RegionOutcome expected = RunOracle(script);
    FailAllocationAfter(0);
    if (expected == outcome) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t flags = input.Byte();
  RegionScript script{};
  script.width = input.Int32();
  script.height = input.Int32();
  const long failAt = (flags & 1) != 0 ? 1 + long{input.Byte()} : 0;
  script.minimum = (flags & 2) != 0 ? input.Int32() : kMinimumRectangleSize;
  std::uint32_t gridFrom = (flags & 4) != 0 ? input.Byte() : 0;
  if (gridFrom == 255) gridFrom = masking::kGridWhenItPays;
  const std::uint32_t indexUpTo = (flags & 8) != 0 ? 0 : masking::kIndexUpTo;
  while (!input.Empty() && script.frames.size() < kMaxFrames) {
    const std::int32_t x = input.Int32();
    const std::int32_t y = input.Int32();
    const std::int32_t w = input.Int32();
    const std::int32_t h = input.Int32();
    script.frames.push_back(Rect{x, y, w, h});
  }
  const bool pageHasArea = script.width > 0 && script.height > 0;
  FailAllocationAfter(0);
  const RegionOutcome clean = RunOracle(script);

  FailAllocationAfter(failAt);
  MaskRegion* region = MaskRegion::Create(script.width, script.height, gridFrom, indexUpTo);
  if (region == nullptr) {
    FUZZ_CHECK(failAt > 0 && AllocationRequests() == failAt);
    FUZZ_CHECK(LiveBlocks() == 0);
    FailAllocationAfter(failAt);
    FUZZ_CHECK(!RunOracle(script).created);
    FailAllocationAfter(0);
    return 0;
  }
  FUZZ_CHECK((Pieces(*region) == std::vector<Rect>{{0, 0, script.width, script.height}}));
  std::size_t mostPieces = 0;
  CheckRegion(*region, mostPieces);

  RegionOutcome outcome;
  outcome.created = true;
  std::vector<Rect> carved;
  bool allNonNegative = true;
  bool refused = false;
  for (const Rect& frame : script.frames) {
    const long requestsBefore = AllocationRequests();
    const bool excluded = region->Exclude(frame.x, frame.y, frame.width, frame.height);
    const std::vector<Rect> pieces = Pieces(*region);
    outcome.excluded.push_back(excluded);
    outcome.steps.push_back(pieces);
    CheckRegion(*region, mostPieces);
    allNonNegative = allNonNegative && frame.width >= 0 && frame.height >= 0;
    if (!excluded) {
      // Only the failing allocation can make Exclude give up, and then the
      // caller gives up on the page: nothing more is carved.
      FUZZ_CHECK(failAt > requestsBefore && AllocationRequests() == failAt);
      if (pageHasArea && allNonNegative) {
        CheckPartlyCarved(pieces, carved, frame, script.width, script.height);
      }
      // Failed for good: no further frame or growth changes anything.
      FailAllocationAfter(0);
      FUZZ_CHECK(region->Failed());
      FUZZ_CHECK(!region->Exclude(frame.x, frame.y, frame.width, frame.height));
      region->GrowSlivers(script.minimum);
      FUZZ_CHECK(Pieces(*region) == pieces);
      refused = true;
      break;
    }
    FUZZ_CHECK(pieces == clean.steps[outcome.steps.size() - 1]);
    carved.push_back(frame);
  }

  const std::vector<Rect> before = Pieces(*region);
  if (pageHasArea && allNonNegative && !refused) {
    CheckCoverage(before, carved, script.width, script.height);
  }
  if (!refused) {
    region->GrowSlivers(script.minimum);
    CheckRegion(*region, mostPieces);
    const std::vector<Rect> after = Pieces(*region);
    FUZZ_CHECK(after == clean.steps.back());
    CheckGrowth(before, after, script.width, script.height, pageHasArea);
  }

  MaskRegion::Destroy(region);
  FUZZ_CHECK(LiveBlocks() == 0);
  FailAllocationAfter(0);
  if (refused) {
    FUZZ_CHECK(OracleRefusesAlike(script, outcome.excluded.size() - 1, outcome));
  }
  return 0;
}
