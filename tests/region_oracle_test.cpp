// The engine's region against the oracle (tests/support/oracle_region.h):
// for every page, every frame and every minimum, the same list in the same
// order after every step, and under memory shortage the same refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "hostapi/host_api.h"
#include "masking/mask_region.h"
#include "tests/support/coverage_grid.h"
#include "tests/support/failing_memory.h"
#include "tests/support/region_helpers.h"
#include "tests/support/region_runs.h"

namespace {

using Rects = std::vector<Rect>;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kA4Width = 21000;
constexpr std::int32_t kA4Height = 29700;

// Runs the script on both regions and expects the same outcome and a clean
// self-check after every step, with growth looking up neighbours through the
// index of edges and, once more, through the grid. Returns whether the grid
// was used.
bool ExpectSameAsOracle(const RegionScript& script, std::uint32_t gridFrom, const char* what,
                        int trial) {
  const RegionOutcome expected = RunOracle(script);
  bool usedGrid = false;
  for (const std::uint32_t indexUpTo : {masking::kIndexUpTo, 0u}) {
    const EngineRun run = RunEngine(script, gridFrom, true, indexUpTo);
    EXPECT_EQ(run.outcome, expected)
        << what << " " << trial << ", grid from " << gridFrom << ", index up to " << indexUpTo;
    EXPECT_EQ(run.fault, "") << what << " " << trial << ", index up to " << indexUpTo;
    usedGrid = run.usedGrid;
  }
  return usedGrid;
}

std::int32_t Between(std::mt19937& rng, std::int64_t low, std::int64_t high) {
  return static_cast<std::int32_t>(std::uniform_int_distribution<std::int64_t>(low, high)(rng));
}

// Full-length lines of the given thickness: `count` vertical ones and as many
// horizontal ones, in the order asked for.
enum class Ruling { kVerticalFirst, kHorizontalFirst, kAlternating, kBottomUp };

Rects RuledFrames(std::int32_t w, std::int32_t h, int count, std::int32_t thickness,
                  Ruling ruling) {
  Rects vertical;
  Rects horizontal;
  for (int i = 1; i <= count; ++i) {
    vertical.push_back(
        {static_cast<std::int32_t>(std::int64_t{i} * w / (count + 1)), 0, thickness, h});
    horizontal.push_back(
        {0, static_cast<std::int32_t>(std::int64_t{i} * h / (count + 1)), w, thickness});
  }
  Rects frames;
  switch (ruling) {
    case Ruling::kVerticalFirst:
      frames = vertical;
      frames.insert(frames.end(), horizontal.begin(), horizontal.end());
      break;
    case Ruling::kHorizontalFirst:
      frames = horizontal;
      frames.insert(frames.end(), vertical.begin(), vertical.end());
      break;
    case Ruling::kAlternating:
      for (std::size_t i = 0; i < vertical.size(); ++i) {
        frames.push_back(vertical[i]);
        frames.push_back(horizontal[i]);
      }
      break;
    case Ruling::kBottomUp:
      frames.assign(horizontal.rbegin(), horizontal.rend());
      frames.insert(frames.end(), vertical.rbegin(), vertical.rend());
      break;
  }
  return frames;
}

// Frames of every kind a document may hold, never of negative size: anywhere
// around the page, on a coarse lattice (touching edges), full-length lines,
// copies of earlier frames and frames of zero width or height.
Rect RandomFrame(std::mt19937& rng, std::int32_t w, std::int32_t h, const Rects& earlier) {
  const std::int64_t W = w;
  const std::int64_t H = h;
  switch (rng() % 6) {
    case 0:
      return {Between(rng, -W / 5, W), Between(rng, -H / 5, H), Between(rng, 0, W / 2),
              Between(rng, 0, H / 2)};
    case 1: {
      const std::int64_t stepX = W / 10 > 0 ? W / 10 : 1;
      const std::int64_t stepY = H / 10 > 0 ? H / 10 : 1;
      return {static_cast<std::int32_t>(stepX * Between(rng, -1, 10)),
              static_cast<std::int32_t>(stepY * Between(rng, -1, 10)),
              static_cast<std::int32_t>(stepX * Between(rng, 0, 5)),
              static_cast<std::int32_t>(stepY * Between(rng, 0, 5))};
    }
    case 2:
      return rng() % 2 == 0 ? Rect{Between(rng, 0, W), 0, Between(rng, 0, 3), h}
                            : Rect{0, Between(rng, 0, H), w, Between(rng, 0, 3)};
    case 3:
      if (!earlier.empty()) return earlier[rng() % earlier.size()];
      return {0, 0, w, h};
    case 4:
      return {Between(rng, 0, W), Between(rng, 0, H), rng() % 2 == 0 ? 0 : Between(rng, 0, W / 3),
              rng() % 2 == 0 ? Between(rng, 0, H / 3) : 0};
    default:
      return {Between(rng, 0, W), Between(rng, 0, H), Between(rng, 1, W / 8 + 1),
              Between(rng, 1, H / 8 + 1)};
  }
}

RegionScript RandomScript(std::mt19937& rng, int maxFrames) {
  RegionScript script{};
  switch (rng() % 3) {
    case 0:
      script.width = Between(rng, 1, 60);
      script.height = Between(rng, 1, 60);
      break;
    case 1:
      script.width = Between(rng, 300, 3000);
      script.height = Between(rng, 300, 3000);
      break;
    default:
      script.width = kA4Width;
      script.height = kA4Height;
      break;
  }
  const int count = Between(rng, 0, maxFrames);
  for (int i = 0; i < count; ++i) {
    script.frames.push_back(RandomFrame(rng, script.width, script.height, script.frames));
  }
  switch (rng() % 4) {
    case 0:
      script.minimum = Between(rng, -10, std::max(script.width, script.height));
      break;
    case 1:
      script.minimum = Between(rng, kMax - 3000, kMax);
      break;
    default:
      script.minimum = kMinimumRectangleSize;
      break;
  }
  return script;
}

TEST(RegionAgainstOracle, RandomPagesGiveTheSameListsStepByStep) {
  std::mt19937 rng(1208);
  const std::uint32_t gridFroms[] = {0, 1, 8, masking::kGridWhenItPays};
  int usedGrid = 0;
  for (int trial = 0; trial < 1200; ++trial) {
    const RegionScript script = RandomScript(rng, 40);
    usedGrid += ExpectSameAsOracle(script, gridFroms[trial % 4], "trial", trial) ? 1 : 0;
  }
  EXPECT_GT(usedGrid, 700);
  EXPECT_EQ(LiveBlocks(), 0);
}

TEST(RegionAgainstOracle, RuledPagesGiveTheSameLists) {
  int trial = 0;
  for (const int lines : {5, 12, 30}) {
    for (const std::int32_t thickness : {1, 10}) {
      for (const Ruling ruling : {Ruling::kVerticalFirst, Ruling::kHorizontalFirst,
                                  Ruling::kAlternating, Ruling::kBottomUp}) {
        const RegionScript script{kA4Width, kA4Height,
                                  RuledFrames(kA4Width, kA4Height, lines, thickness, ruling),
                                  kMinimumRectangleSize};
        // From 64 pieces on; 5 lines leave only 36.
        EXPECT_EQ(ExpectSameAsOracle(script, 64, "ruling", trial), lines > 5);
        ExpectSameAsOracle(script, masking::kGridWhenItPays, "ruling", trial);
        ExpectSameAsOracle(script, 0, "ruling", trial);
        ++trial;
      }
    }
  }
  // Lines closer than the minimum on a small page: every piece grows.
  ExpectSameAsOracle(
      {1000, 1000, RuledFrames(1000, 1000, 40, 3, Ruling::kAlternating), kMinimumRectangleSize}, 0,
      "dense ruling", 0);
}

TEST(RegionAgainstOracle, RepeatedAndNestedFramesGiveTheSameLists) {
  std::mt19937 rng(77);
  for (int trial = 0; trial < 100; ++trial) {
    RegionScript script{
        1000 + Between(rng, 0, 2000), 1000 + Between(rng, 0, 2000), {}, kMinimumRectangleSize};
    const Rect repeated{Between(rng, 0, script.width / 2), Between(rng, 0, script.height / 2),
                        Between(rng, 0, script.width / 2), Between(rng, 0, script.height / 2)};
    for (int i = 0; i < 30; ++i) {
      switch (rng() % 3) {
        case 0:
          script.frames.push_back(repeated);
          break;
        case 1: {
          // Frames inside frames, down to nothing.
          const std::int32_t inset = 10 * (i % 20);
          script.frames.push_back({repeated.x + inset, repeated.y + inset,
                                   std::max(0, repeated.width - 2 * inset),
                                   std::max(0, repeated.height - 2 * inset)});
          break;
        }
        default:
          script.frames.push_back(RandomFrame(rng, script.width, script.height, script.frames));
          break;
      }
    }
    ExpectSameAsOracle(script, trial % 2 == 0 ? 0 : 4, "trial", trial);
  }
}

// Frames whose edges all lie on a lattice make pieces that meet frames and
// each other edge to edge, where the asymmetric "apart" rule decides.
TEST(RegionAgainstOracle, FramesOnALatticeGiveTheSameLists) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 300; ++trial) {
    RegionScript script{1000, 1000, {}, trial % 3 == 0 ? 150 : kMinimumRectangleSize};
    const int count = 5 + trial % 40;
    for (int i = 0; i < count; ++i) {
      script.frames.push_back({100 * Between(rng, -1, 10), 100 * Between(rng, -1, 10),
                               100 * Between(rng, 0, 4), 100 * Between(rng, 0, 4)});
    }
    ExpectSameAsOracle(script, trial % 2 == 0 ? 0 : 16, "trial", trial);
  }
}

TEST(RegionAgainstOracle, ZeroSizeFramesGiveTheSameLists) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 200; ++trial) {
    RegionScript script{2000, 1500, {}, kMinimumRectangleSize};
    for (int i = 0; i < 25; ++i) {
      const std::int32_t x = 50 * Between(rng, -2, 41);
      const std::int32_t y = 50 * Between(rng, -2, 31);
      switch (rng() % 4) {
        case 0:
          script.frames.push_back({x, y, 0, 50 * Between(rng, 0, 30)});
          break;
        case 1:
          script.frames.push_back({x, y, 50 * Between(rng, 0, 40), 0});
          break;
        case 2:
          script.frames.push_back({x, y, 0, 0});
          break;
        default:
          script.frames.push_back({x, y, 50 * Between(rng, 1, 10), 50 * Between(rng, 1, 10)});
          break;
      }
    }
    ExpectSameAsOracle(script, 0, "trial", trial);
  }
}

// The grid holds two of the pieces' edges in 16 bits, top and bottom or left
// and right; pages at and past that height or width, with frames everywhere
// on them.
TEST(RegionAgainstOracle, HighAndWidePagesGiveTheSameLists) {
  std::mt19937 rng(65535);
  const std::int32_t lengths[] = {65535, 65536, 65537, 200000};
  for (int trial = 0; trial < 160; ++trial) {
    const std::int32_t length = lengths[trial % 4];
    const bool wide = trial >= 80;
    RegionScript script{wide ? length : 3000, wide ? 3000 : length, {}, kMinimumRectangleSize};
    for (int i = 0; i < 60; ++i) {
      script.frames.push_back(RandomFrame(rng, script.width, script.height, script.frames));
    }
    ExpectSameAsOracle(script, trial % 2 == 0 ? 0 : 8, "trial", trial);
  }
}

// Growth takes pieces off the page; frames carved after it still give the
// oracle's lists.
TEST(RegionAgainstOracle, FramesAfterGrowthGiveTheSameLists) {
  std::mt19937 rng(300);
  for (int trial = 0; trial < 40; ++trial) {
    const std::int32_t side = 3000;
    Rects frames;
    for (int i = 0; i < 60; ++i) frames.push_back(RandomFrame(rng, side, side, frames));
    masking::MaskRegion* region = masking::MaskRegion::Create(side, side, 0);
    oracle::MaskRegion* expected = oracle::MaskRegion::Create(side, side);
    ASSERT_TRUE(region != nullptr && expected != nullptr);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const Rect& f = frames[i];
      if (i == frames.size() / 2) {
        region->GrowSlivers(kMinimumRectangleSize);
        expected->GrowSlivers(kMinimumRectangleSize);
      }
      ASSERT_EQ(region->Exclude(f.x, f.y, f.width, f.height),
                expected->Exclude(f.x, f.y, f.width, f.height));
      ASSERT_EQ(Pieces(*region), Pieces(*expected)) << "trial " << trial << ", frame " << i;
    }
    masking::MaskRegion::Destroy(region);
    oracle::MaskRegion::Destroy(expected);
  }
}

TEST(RegionAgainstOracle, ExtremeValuesGiveTheSameLists) {
  const std::int32_t pages[][2] = {{kMax, kMax}, {kMax, 1}, {1, kMax}, {21000, 29700}, {1, 1}};
  const std::int32_t places[] = {kMin, kMin + 1, -1, 0, 1, 5000, kMax - 1, kMax};
  const std::int32_t sizes[] = {0, 1, 5000, kMax - 1, kMax};
  const std::int32_t minimums[] = {kMin, -1, 0, 1, kMinimumRectangleSize, kMax - 1, kMax};
  std::mt19937 rng(2147483647);
  for (int trial = 0; trial < 400; ++trial) {
    const auto& page = pages[trial % 5];
    RegionScript script{page[0], page[1], {}, minimums[rng() % 7]};
    const int count = 1 + trial % 8;
    for (int i = 0; i < count; ++i) {
      script.frames.push_back(
          {places[rng() % 8], places[rng() % 8], sizes[rng() % 5], sizes[rng() % 5]});
    }
    ExpectSameAsOracle(script, trial % 2 == 0 ? 0 : 3, "trial", trial);
  }
}

// Frames of negative size and pages without area break the grid's
// assumptions; the region then walks its list, which is exact by definition.
TEST(RegionAgainstOracle, NegativeFramesAndPagesWithoutAreaGiveTheSameLists) {
  // A piece without area, wholly inside a frame that ends on its left edge
  // (or starts on its bottom edge): it is apart from the frame, and still
  // carved away.
  ExpectSameAsOracle({0, 1000, {{-100, 0, 100, 1000}}, kMinimumRectangleSize}, 0, "edge", 0);
  ExpectSameAsOracle({1000, 0, {{0, 0, 1000, 0}}, kMinimumRectangleSize}, 0, "edge", 1);
  std::mt19937 rng(404);
  for (int trial = 0; trial < 300; ++trial) {
    RegionScript script{
        Between(rng, -50, 1500), Between(rng, -50, 1500), {}, kMinimumRectangleSize};
    if (trial % 3 == 0) script.width = trial % 2 == 0 ? 0 : -script.width;
    const int count = 1 + trial % 20;
    for (int i = 0; i < count; ++i) {
      script.frames.push_back({Between(rng, -200, 1500), Between(rng, -200, 1500),
                               Between(rng, -400, 800), Between(rng, -400, 800)});
    }
    script.minimum = trial % 4 == 0 ? Between(rng, kMin, kMax) : kMinimumRectangleSize;
    ExpectSameAsOracle(script, 0, "trial", trial);
  }

  // A frame of negative size does not turn the grid off.
  masking::MaskRegion* region = masking::MaskRegion::Create(1000, 1000, 0);
  ASSERT_TRUE(region->Exclude(100, 100, 200, 200));
  ASSERT_TRUE(region->Exclude(500, 500, -100, 100));
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(region->Exclude(40 * i, 700, 20, 20));
  EXPECT_TRUE(region->UsesGrid());
  EXPECT_EQ(RegionFault(*region), "");
  masking::MaskRegion::Destroy(region);
}

// Fails each allocation of the engine's run in turn. An allocation of the
// grid must change nothing: the run gives the oracle's result without
// failures. Any other is the region's own or that of a slab of pieces, taken
// when the region needs a piece that it has no room for: the run must then
// give exactly what the oracle gives when its allocation for that piece
// fails, later refusals of the engine answering to later ones of the oracle.
void ExpectShortagesLikeTheOracle(const RegionScript& script, std::uint32_t gridFrom,
                                  std::uint32_t indexUpTo = masking::kIndexUpTo) {
  FailAllocationAfter(0);
  const RegionOutcome clean = RunOracle(script);
  const long oracleRequests = AllocationRequests();
  FailAllocationAfter(0);
  ASSERT_EQ(RunEngine(script, gridFrom, false, indexUpTo).outcome, clean);
  const long engineRequests = AllocationRequests();

  long next = 1;  // the first oracle allocation a refusal may answer to
  long fallbacks = 0;
  long refusals = 0;
  for (long failing = 1; failing <= engineRequests; ++failing) {
    FailAllocationAfter(failing);
    const EngineRun run = RunEngine(script, gridFrom, true, indexUpTo);
    FailAllocationAfter(0);
    ASSERT_EQ(LiveBlocks(), 0) << "allocation " << failing;
    EXPECT_EQ(run.fault, "") << "allocation " << failing;
    if (run.outcome == clean) {
      ++fallbacks;
      continue;
    }
    bool matched = false;
    for (; next <= oracleRequests && !matched; ++next) {
      FailAllocationAfter(next);
      matched = RunOracle(script) == run.outcome;
      FailAllocationAfter(0);
    }
    ASSERT_TRUE(matched) << "allocation " << failing << " of the engine: " << run.outcome;
    ++refusals;
  }
  EXPECT_GT(refusals, 0) << "the region's own allocations were among those failed";
  EXPECT_GT(fallbacks, 0) << "the grid's own allocations were among those failed";
}

TEST(RegionAgainstOracle, EveryFailingAllocationFallsBackOrRefusesLikeTheOracle) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 6; ++trial) {
    RegionScript script = RandomScript(rng, 30);
    script.width = 1000 + trial * 500;
    script.height = 1400;
    SCOPED_TRACE("random page " + std::to_string(trial));
    ExpectShortagesLikeTheOracle(script, 0);
  }
  SCOPED_TRACE("ruled page");
  ExpectShortagesLikeTheOracle(
      {2100, 2970, RuledFrames(2100, 2970, 6, 5, Ruling::kAlternating), kMinimumRectangleSize}, 0);
  SCOPED_TRACE("random page, growth through the grid");
  ExpectShortagesLikeTheOracle(RandomScript(rng, 30), 0, 0);
  SCOPED_TRACE("ruled page, grid built on the way");
  ExpectShortagesLikeTheOracle(
      {21000, 29700, RuledFrames(21000, 29700, 16, 10, Ruling::kVerticalFirst),
       kMinimumRectangleSize},
      64);
}

// The page that used to freeze the host: too slow for the oracle, so its
// list is checked by the self-check and the coverage oracle instead.
TEST(RegionAtScale, ARuledA4PageKeepsItsInvariant) {
  const Rects frames = RuledFrames(kA4Width, kA4Height, 400, 10, Ruling::kVerticalFirst);
  masking::MaskRegion* region = masking::MaskRegion::Create(kA4Width, kA4Height);
  for (const Rect& f : frames) ASSERT_TRUE(region->Exclude(f.x, f.y, f.width, f.height));
  EXPECT_TRUE(region->UsesGrid());
  const Rects pieces = Pieces(*region);
  ASSERT_EQ(pieces.size(), 401u * 401u);
  EXPECT_EQ(RegionFault(*region), "");
  std::vector<coverage::Box> edges = Boxes(pieces);
  const std::vector<coverage::Box> kept = Boxes(frames);
  edges.insert(edges.end(), kept.begin(), kept.end());
  const coverage::CoverageGrid grid(kA4Width, kA4Height, edges);
  const std::vector<int> covered = grid.Count(Boxes(pieces));
  const std::vector<int> inFrame = grid.Count(kept);
  for (std::size_t cell = 0; cell < covered.size(); ++cell) {
    ASSERT_EQ(covered[cell], inFrame[cell] > 0 ? 0 : 1) << "cell " << cell;
  }
  // Every piece is lower than the minimum, and none has a neighbour
  // spanning its columns: they grow off the page at its edges only.
  region->GrowSlivers(kMinimumRectangleSize);
  EXPECT_EQ(RegionFault(*region), "");
  std::size_t grown = 0;
  for (const Rect& p : Pieces(*region)) grown += p.x < 0 || p.y < 0 ? 1 : 0;
  EXPECT_EQ(grown, 401u + 400u);
  masking::MaskRegion::Destroy(region);
  EXPECT_EQ(LiveBlocks(), 0);
}

}  // namespace
