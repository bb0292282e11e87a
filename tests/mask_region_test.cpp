#include "masking/mask_region.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "hostapi/host_api.h"
#include "masking/edge_sort.h"
#include "tests/support/coverage_grid.h"
#include "tests/support/failing_memory.h"
#include "tests/support/oracle_region.h"
#include "tests/support/region_helpers.h"

// Reaches into a region to damage it on purpose, so that each of its
// self-check's findings is seen at least once, or to bring its stamps near
// their end.
namespace masking {
struct MaskRegionProbe {
  static MaskPiece& Piece(MaskRegion& region, int index) {
    MaskPiece* piece = region.head_->next;
    for (int i = 0; i < index; ++i) piece = piece->next;
    return *piece;
  }
  static PieceGrid& Grid(MaskRegion& region) { return region.grid_; }
  static MaskPiece& Sentinel(MaskRegion& region) { return *region.head_; }
  static std::uint32_t& LastStamp(MaskRegion& region) { return region.lastStamp_; }
};
}  // namespace masking

namespace {

using masking::MaskRegion;
using Rects = std::vector<Rect>;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// A region that walks its list for good, and one that uses its grid from the
// start; the tables below run both ways.
constexpr std::uint32_t kWalk = masking::kGridWhenItPays - 1;
constexpr std::uint32_t kGrid = 0;
// A region that uses its grid from its seventh piece on.
constexpr std::uint32_t kGridAtTheEnd = 7;

struct RegionCase {
  const char* name;
  std::int32_t pageWidth;
  std::int32_t pageHeight;
  Rects frames;
  Rects afterExclude;
  Rects afterGrow;  // with the minimum the document pass uses
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const RegionCase& c, std::ostream* out) { *out << c.name; }

class RegionCases : public ::testing::TestWithParam<RegionCase> {};

TEST_P(RegionCases, ExcludeThenGrowGivesTheExactList) {
  const RegionCase& c = GetParam();
  for (const std::uint32_t gridFrom : {kWalk, kGrid}) {
    SCOPED_TRACE(gridFrom == kGrid ? "through the grid" : "by walking the list");
    MaskRegion* region = MaskRegion::Create(c.pageWidth, c.pageHeight, gridFrom);
    ASSERT_NE(region, nullptr);
    for (const Rect& f : c.frames) ASSERT_TRUE(region->Exclude(f.x, f.y, f.width, f.height));
    EXPECT_EQ(region->UsesGrid(), gridFrom == kGrid);
    EXPECT_EQ(Pieces(*region), c.afterExclude);
    EXPECT_EQ(RegionFault(*region), "");
    region->GrowSlivers(kMinimumRectangleSize);
    EXPECT_EQ(Pieces(*region), c.afterGrow);
    EXPECT_EQ(RegionFault(*region), "");
    MaskRegion::Destroy(region);
    EXPECT_EQ(LiveBlocks(), 0);
  }
}

const RegionCase kRegionCases[] = {
    {"WorkedExample",
     1000,
     1000,
     {{100, 100, 200, 200}},
     {{300, 100, 700, 200}, {0, 100, 100, 200}, {0, 300, 1000, 700}, {0, 0, 1000, 100}},
     {{300, 100, 700, 900}, {-300, 100, 400, 900}, {0, 300, 1000, 700}, {0, -300, 1000, 400}}},
    {"FrameCoversThePage", 1000, 1000, {{0, 0, 1000, 1000}}, {}, {}},
    {"FrameBeyondEverySide", 1000, 1000, {{-50, -50, 1100, 1100}}, {}, {}},
    {"FrameWhollyOffThePage",
     1000,
     1000,
     {{1100, 100, 100, 100}},
     {{0, 0, 1000, 1000}},
     {{0, 0, 1000, 1000}}},
    {"FrameJustOffTheRightEdgeSplitsThePage",
     1000,
     1000,
     {{1000, 100, 100, 100}},
     {{0, 100, 1000, 100}, {0, 200, 1000, 800}, {0, 0, 1000, 100}},
     {{0, 100, 1000, 900}, {0, 200, 1000, 800}, {0, -300, 1000, 400}}},
    {"PieceAgainstTheFrameLeftEdgeIsSplit",
     1000,
     1000,
     {{500, 0, 500, 1000}, {500, 200, 200, 200}},
     {{0, 200, 500, 200}, {0, 400, 500, 600}, {0, 0, 500, 200}},
     {{0, 200, 500, 800}, {0, 400, 500, 600}, {0, -300, 500, 500}}},
    {"PieceAgainstTheFrameRightEdgeIsUntouched",
     1000,
     1000,
     {{0, 0, 500, 1000}, {300, 200, 200, 200}},
     {{500, 0, 500, 1000}},
     {{500, 0, 500, 1000}}},
    {"PieceAgainstTheFrameTopEdgeMovesToTheFront",
     1000,
     1000,
     {{0, 400, 1000, 200}, {200, 400, 100, 100}},
     {{0, 0, 1000, 400}, {0, 600, 1000, 400}},
     {{0, 0, 1000, 400}, {0, 600, 1000, 400}}},
    {"FrameOfZeroWidthSplitsWithoutRemoving",
     1000,
     1000,
     {{500, 0, 0, 1000}},
     {{500, 0, 500, 1000}, {0, 0, 500, 1000}},
     {{500, 0, 500, 1000}, {0, 0, 500, 1000}}},
    {"GrowthUpwardFromANeighbour",
     1000,
     1000,
     {{0, 500, 1000, 500}, {100, 400, 800, 100}},
     {{900, 400, 100, 100}, {0, 400, 100, 100}, {0, 0, 1000, 400}},
     {{900, 0, 400, 500}, {-300, 0, 400, 500}, {0, 0, 1000, 400}}},
    {"NarrowStripBetweenFramesStaysNarrow",
     1000,
     1000,
     {{100, 0, 300, 1000}, {500, 0, 400, 1000}},
     {{900, 0, 100, 1000}, {400, 0, 100, 1000}, {0, 0, 100, 1000}},
     {{900, 0, 400, 1000}, {400, 0, 100, 1000}, {-300, 0, 400, 1000}}},
    {"LowBandWithoutSpanningNeighbourStaysLow",
     1000,
     1000,
     {{0, 300, 1000, 100}, {0, 500, 1000, 100}},
     {{0, 600, 1000, 400}, {0, 400, 1000, 100}, {0, 0, 1000, 300}},
     {{0, 600, 1000, 400}, {0, 400, 1000, 100}, {0, 0, 1000, 300}}},
    {"GrowthFromANeighbourNeedNotReachTheMinimum",
     1000,
     1000,
     {{100, 400, 800, 100}, {200, 550, 600, 400}},
     {{800, 550, 200, 400},
      {0, 550, 200, 400},
      {0, 950, 1000, 50},
      {0, 500, 1000, 50},
      {900, 400, 100, 100},
      {0, 400, 100, 100},
      {0, 0, 1000, 400}},
     {{800, 550, 500, 400},
      {-300, 550, 500, 400},
      {0, 950, 1000, 350},
      {0, 500, 1000, 50},
      {900, 400, 400, 150},
      {-300, 400, 400, 150},
      {0, 0, 1000, 400}}},
    {"SecondPassSeesTheFirst",
     1000,
     200,
     {{100, 50, 200, 100}},
     {{300, 50, 700, 100}, {0, 50, 100, 100}, {0, 150, 1000, 50}, {0, 0, 1000, 50}},
     {{300, 50, 700, 450}, {-300, 50, 400, 450}, {0, 150, 1000, 350}, {0, -300, 1000, 350}}},
    {"FullHeightPieceOfALowPageGrowsUpwardOnly",
     1000,
     200,
     {{400, 0, 200, 200}},
     {{600, 0, 400, 200}, {0, 0, 400, 200}},
     {{600, -300, 400, 500}, {0, -300, 400, 500}}},
    {"ListOrderDecidesBetweenNeighbours",
     1000,
     1000,
     {{100, 100, 200, 200}, {100, 100, 200, 200}},
     {{0, 0, 1000, 100}, {0, 100, 100, 200}, {300, 100, 700, 200}, {0, 300, 1000, 700}},
     {{0, -300, 1000, 400}, {-300, -300, 400, 600}, {300, -300, 700, 600}, {0, 300, 1000, 700}}},
};

INSTANTIATE_TEST_SUITE_P(Region, RegionCases, ::testing::ValuesIn(kRegionCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(Region, EmptyRegionStaysEmpty) {
  MaskRegion* region = MaskRegion::Create(1000, 1000);
  ASSERT_TRUE(region->Exclude(0, 0, 1000, 1000));
  ASSERT_TRUE(region->Exclude(10, 10, 10, 10));
  region->GrowSlivers(kMinimumRectangleSize);
  EXPECT_EQ(region->First(), nullptr);
  EXPECT_EQ(RegionFault(*region), "");
  MaskRegion::Destroy(region);
}

// Frames near the ends of the 32-bit range: edges are computed in 64 bits, so
// far-away frames change nothing and frames reaching to the range's end are
// carved like any other.
TEST(Region, ExtremeFramesNeitherOverflowNorMisfire) {
  MaskRegion* region = MaskRegion::Create(1000, 1000);
  // In 32 bits, kMax + kMax wraps to -2 and the frame would seem to lie left
  // of the page; it lies wholly to the right.
  ASSERT_TRUE(region->Exclude(kMax, kMax, kMax, kMax));
  ASSERT_TRUE(region->Exclude(kMin, kMin, 10, 10));
  EXPECT_EQ(Pieces(*region), (Rects{{0, 0, 1000, 1000}}));
  // From the range's start to y = -1: above the page. From y = -1 to the
  // range's end: everything right of x = 600 goes.
  ASSERT_TRUE(region->Exclude(600, kMin, kMax, kMax));
  EXPECT_EQ(Pieces(*region), (Rects{{0, 0, 1000, 1000}}));
  ASSERT_TRUE(region->Exclude(600, -1, kMax, kMax));
  EXPECT_EQ(Pieces(*region), (Rects{{0, 0, 600, 1000}}));
  MaskRegion::Destroy(region);
}

TEST(Region, GrowthThatWouldNotFitIn32BitsIsNotApplied) {
  MaskRegion* region = MaskRegion::Create(1000, 100);
  region->GrowSlivers(kMax);
  EXPECT_EQ(Pieces(*region), (Rects{{0, 0, 1000, 100}}));
  region->GrowSlivers(std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(Pieces(*region), (Rects{{0, 0, 1000, 100}}));
  MaskRegion::Destroy(region);

  // A piece at the bottom of the tallest page still grows: its position and
  // height fit, although its bottom edge now lies beyond the range.
  region = MaskRegion::Create(10, kMax);
  ASSERT_TRUE(region->Exclude(0, 0, 10, kMax - 5));
  region->GrowSlivers(300);
  EXPECT_EQ(Pieces(*region), (Rects{{-300, kMax - 5, 310, 305}}));
  MaskRegion::Destroy(region);
}

// ---- the bounds of growth ---------------------------------------------------

struct GrowthCase {
  const char* name;
  std::int32_t pageWidth;
  std::int32_t pageHeight;
  Rects frames;
  std::int32_t minimum;
  Rects afterGrow;
};

void PrintTo(const GrowthCase& c, std::ostream* out) { *out << c.name; }

class GrowthBounds : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(GrowthBounds, GrowExactlyAsFarAsTheyMay) {
  const GrowthCase& c = GetParam();
  for (const std::uint32_t gridFrom : {kWalk, kGrid}) {
    SCOPED_TRACE(gridFrom == kGrid ? "through the grid" : "by walking the list");
    MaskRegion* region = MaskRegion::Create(c.pageWidth, c.pageHeight, gridFrom);
    ASSERT_NE(region, nullptr);
    for (const Rect& f : c.frames) ASSERT_TRUE(region->Exclude(f.x, f.y, f.width, f.height));
    region->GrowSlivers(c.minimum);
    EXPECT_EQ(Pieces(*region), c.afterGrow);
    MaskRegion::Destroy(region);
  }
}

// A piece as low or as narrow as the minimum is left alone, one unit less is
// grown; an edge is the page's bottom or right edge by the page's height or
// width; a growth may end on the largest 32-bit value but not one past it.
const GrowthCase kGrowthCases[] = {
    {"PageExactlyAsLowAsTheMinimum", 1000, 300, {}, 300, {{0, 0, 1000, 300}}},
    {"PageOneUnitLower", 1000, 299, {}, 300, {{0, -300, 1000, 599}}},
    {"BandsExactlyAsLowAsTheMinimum",
     1000,
     1000,
     {{100, 400, 800, 300}},
     300,
     {{900, 400, 400, 300}, {-300, 400, 400, 300}, {0, 700, 1000, 300}, {0, 0, 1000, 400}}},
    {"BandsOneUnitLowerGrowIntoTheirNeighbour",
     1000,
     1000,
     {{100, 400, 800, 299}},
     300,
     {{900, 400, 400, 600}, {-300, 400, 400, 600}, {0, 699, 1000, 301}, {0, 0, 1000, 400}}},
    {"LeftStripExactlyAsNarrowAsTheMinimum",
     1000,
     1000,
     {{300, 0, 700, 1000}},
     300,
     {{0, 0, 300, 1000}}},
    {"LeftStripOneUnitNarrower", 1000, 1000, {{299, 0, 701, 1000}}, 300, {{-300, 0, 599, 1000}}},
    {"RightStripExactlyAsNarrowAsTheMinimum",
     1000,
     1000,
     {{0, 0, 700, 1000}},
     300,
     {{700, 0, 300, 1000}}},
    {"RightStripOneUnitNarrower", 1000, 1000, {{0, 0, 701, 1000}}, 300, {{701, 0, 599, 1000}}},
    {"StripAtTheRightEdgeOfAPortraitPage",
     1000,
     1400,
     {{0, 0, 900, 1400}},
     300,
     {{900, 0, 400, 1400}}},
    {"StripAtTheBottomEdgeOfALandscapePage",
     1400,
     1000,
     {{0, 0, 1400, 900}},
     300,
     {{0, 900, 1400, 400}}},
    {"UpwardGrowthEndingOnTheLargestValue",
     10,
     100,
     {},
     kMax - 100,
     {{-(kMax - 100), -(kMax - 100), kMax - 90, kMax}}},
    {"UpwardGrowthOnePastTheLargestValue",
     10,
     100,
     {},
     kMax - 99,
     {{-(kMax - 99), 0, kMax - 89, 100}}},
    {"SidewaysGrowthEndingOnTheLargestValue",
     100,
     10,
     {},
     kMax - 100,
     {{-(kMax - 100), -(kMax - 100), kMax, kMax - 90}}},
    {"SidewaysGrowthOnePastTheLargestValue",
     100,
     10,
     {},
     kMax - 99,
     {{0, -(kMax - 99), 100, kMax - 89}}},
    // The left piece (0, 100, 5, 50) grows into the strip below it, which
    // has itself grown off the page by the minimum.
    {"GrowthIntoANeighbourEndingOnTheLargestValue",
     10,
     1000,
     {{5, 100, 5, 50}},
     kMax - 900,
     {{-(kMax - 900), 100, kMax - 895, kMax},
      {-(kMax - 900), 150, kMax - 890, kMax - 50},
      {-(kMax - 900), -(kMax - 900), kMax - 890, kMax - 800}}},
    // On a page of negative height a growth may end on the smallest value.
    {"GrowthEndingOnTheSmallestValue", 1000, kMin + 1, {}, -1, {{0, 1, 1000, kMin}}},
    {"GrowthOnePastTheSmallestValue", 1000, kMin, {}, -1, {{0, 0, 1000, kMin}}},
    {"GrowthIntoANeighbourOnePastTheLargestValue",
     10,
     1000,
     {{5, 100, 5, 50}},
     kMax - 899,
     {{-(kMax - 899), 100, kMax - 894, 50},
      {-(kMax - 899), 150, kMax - 889, kMax - 49},
      {-(kMax - 899), -(kMax - 899), kMax - 889, kMax - 799}}},
};

INSTANTIATE_TEST_SUITE_P(Region, GrowthBounds, ::testing::ValuesIn(kGrowthCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(Region, ShortageDuringCreationLeavesNothingBehind) {
  FailAllocationAfter(1);
  EXPECT_EQ(MaskRegion::Create(1000, 1000), nullptr);
  FailAllocationAfter(0);
  EXPECT_EQ(LiveBlocks(), 0);
}

// A shortage in the middle of a page leaves the list whole and the region
// failed: it refuses every further frame and growth, whatever memory there is.
TEST(Region, ShortageDuringASplitFailsTheRegionForGood) {
  // Frames in a row across a band, each splitting the band's remainder in
  // two, then frames down a diagonal, each inside the big piece left below
  // the one before and splitting it in four: the pieces outgrow the region's
  // own and take slabs of memory, and a slab runs out within a split of
  // each kind, after some of its new pieces (three new to one kept).
  const auto carve = [](MaskRegion& region) {
    for (std::int32_t i = 0; i < 100; ++i) {
      if (!region.Exclude(10 + 4 * i, 100, 2, 10)) return false;
    }
    for (std::int32_t i = 0; i < 100; ++i) {
      if (!region.Exclude(10 + 8 * i, 200 + 8 * i, 2, 2)) return false;
    }
    return true;
  };
  FailAllocationAfter(0);
  MaskRegion* region = MaskRegion::Create(1000, 1000, kWalk);
  ASSERT_TRUE(carve(*region));
  MaskRegion::Destroy(region);
  const long requests = AllocationRequests();
  ASSERT_GE(requests, 3) << "the region and two slabs of pieces";
  for (long failing = 2; failing <= requests; ++failing) {
    FailAllocationAfter(0);
    region = MaskRegion::Create(1000, 1000, kWalk);
    FailAllocationAfter(failing - 1);
    EXPECT_FALSE(carve(*region)) << "allocation " << failing;
    FailAllocationAfter(0);
    EXPECT_TRUE(region->Failed());
    EXPECT_EQ(RegionFault(*region), "");
    const Rects carved = Pieces(*region);
    EXPECT_FALSE(region->Exclude(0, 0, 1000, 500));
    region->GrowSlivers(kMinimumRectangleSize);
    EXPECT_EQ(Pieces(*region), carved) << "allocation " << failing;
    MaskRegion::Destroy(region);
    EXPECT_EQ(LiveBlocks(), 0);
  }
}

// ---- properties over random frames ----------------------------------------

// For each cell of the page cut along the edges of `cut`, how many of
// `rects` cover it.
std::vector<int> Cover(std::int32_t w, std::int32_t h, const std::vector<const Rects*>& cut,
                       const Rects& rects) {
  std::vector<coverage::Box> edges;
  for (const Rects* set : cut) {
    const std::vector<coverage::Box> boxes = Boxes(*set);
    edges.insert(edges.end(), boxes.begin(), boxes.end());
  }
  return coverage::CoverageGrid(w, h, edges).Count(Boxes(rects));
}

Rects RandomFrames(std::mt19937& rng, std::int32_t w, std::int32_t h, int count) {
  std::uniform_int_distribution<std::int32_t> xs(-w / 5, w + w / 10);
  std::uniform_int_distribution<std::int32_t> ys(-h / 5, h + h / 10);
  std::uniform_int_distribution<std::int32_t> size(0, w / 2);
  // Coarse coordinates make touching edges, the cases most likely to go wrong.
  std::uniform_int_distribution<int> coarse(0, 1);
  Rects frames;
  for (int i = 0; i < count; ++i) {
    Rect f{xs(rng), ys(rng), size(rng), size(rng)};
    if (coarse(rng) == 1)
      f = {f.x / 100 * 100, f.y / 100 * 100, f.width / 100 * 100, f.height / 100 * 100};
    frames.push_back(f);
  }
  return frames;
}

TEST(RegionProperties, PiecesTileThePageMinusTheFrames) {
  std::mt19937 rng(20261208);
  for (int trial = 0; trial < 300; ++trial) {
    const std::int32_t w = 500 + static_cast<std::int32_t>(rng() % 1500);
    const std::int32_t h = 500 + static_cast<std::int32_t>(rng() % 1500);
    const Rects frames = RandomFrames(rng, w, h, 1 + trial % 12);
    MaskRegion* region = MaskRegion::Create(w, h, trial % 2 == 0 ? kWalk : kGrid);
    for (const Rect& f : frames) ASSERT_TRUE(region->Exclude(f.x, f.y, f.width, f.height));
    const Rects pieces = Pieces(*region);
    // Sizes, the page, overlaps and, with frames of area, pieces side by side.
    ASSERT_EQ(RegionFault(*region), "") << "trial " << trial;
    const std::vector<int> covered = Cover(w, h, {&pieces, &frames}, pieces);
    const std::vector<int> kept = Cover(w, h, {&pieces, &frames}, frames);
    for (std::size_t cell = 0; cell < covered.size(); ++cell) {
      ASSERT_EQ(covered[cell], kept[cell] > 0 ? 0 : 1) << "cell " << cell << " in trial " << trial;
    }
    MaskRegion::Destroy(region);
  }
  EXPECT_EQ(LiveBlocks(), 0);
}

TEST(RegionProperties, GrowthLeavesTheCoveredPartOfThePageUnchanged) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    const std::int32_t w = 300 + static_cast<std::int32_t>(rng() % 1700);
    const std::int32_t h = 300 + static_cast<std::int32_t>(rng() % 1700);
    const Rects frames = RandomFrames(rng, w, h, 1 + trial % 10);
    MaskRegion* region = MaskRegion::Create(w, h, trial % 2 == 0 ? kWalk : kGrid);
    for (const Rect& f : frames) ASSERT_TRUE(region->Exclude(f.x, f.y, f.width, f.height));
    const Rects before = Pieces(*region);
    region->GrowSlivers(300);
    const Rects after = Pieces(*region);
    ASSERT_EQ(after.size(), before.size());
    ASSERT_EQ(RegionFault(*region), "");
    const std::vector<int> was = Cover(w, h, {&before, &after}, before);
    const std::vector<int> is = Cover(w, h, {&before, &after}, after);
    for (std::size_t cell = 0; cell < was.size(); ++cell) {
      ASSERT_EQ(is[cell] > 0, was[cell] > 0) << "cell " << cell << " in trial " << trial;
    }
    // Growth never shrinks a piece and never moves its far edges inward.
    for (std::size_t k = 0; k < before.size(); ++k) {
      EXPECT_LE(after[k].x, before[k].x);
      EXPECT_LE(after[k].y, before[k].y);
      EXPECT_GE(after[k].x + after[k].width, before[k].x + before[k].width);
      EXPECT_GE(after[k].y + after[k].height, before[k].y + before[k].height);
    }
    MaskRegion::Destroy(region);
  }
}

// ---- the self-check sees every kind of damage -----------------------------

using masking::CellRange;
using masking::MaskPiece;
using masking::MaskRegionProbe;

// A region of a few pieces, through the grid or by walking, damaged by
// `damage`; what its self-check then says.
// Through the grid, it is built at the last frame, which lies off the page:
// every piece is listed in it.
template <typename Damage>
std::string FaultAfter(std::uint32_t gridFrom, Damage damage) {
  MaskRegion* region = MaskRegion::Create(1000, 1000, gridFrom);
  EXPECT_TRUE(region->Exclude(100, 100, 200, 200));
  EXPECT_TRUE(region->Exclude(500, 500, 200, 200));
  EXPECT_TRUE(region->Exclude(2000, 2000, 10, 10));
  EXPECT_EQ(region->UsesGrid(), gridFrom == kGridAtTheEnd);
  EXPECT_EQ(RegionFault(*region), "");
  damage(*region);
  const std::string fault = RegionFault(*region);
  MaskRegion::Destroy(region);
  return fault;
}

// The grid's cuts come from edges sorted a byte at a time, and its shape
// from counts among them: values needing one to four bytes (an odd count of
// passes ends in the spare array), with repeats, at the largest value, and
// none; counted at, between and beyond them.
TEST(GridEdges, SortAndCountAsTheStandardAlgorithmsDo) {
  std::mt19937 rng(8);
  const masking::Wide largests[] = {0, 1, 255, 256, 29700, 65536, 1 << 24, kMax};
  for (const masking::Wide largest : largests) {
    for (const std::uint32_t count : {0u, 1u, 2u, 97u, 512u}) {
      std::uniform_int_distribution<masking::Wide> value(0, largest);
      std::vector<masking::Wide> values(count);
      for (masking::Wide& v : values) v = count % 2 == 0 ? value(rng) : value(rng) / 7 * 7;
      if (count > 0) values[count / 2] = largest;
      std::vector<masking::Wide> expected = values;
      std::sort(expected.begin(), expected.end());
      std::vector<masking::Wide> spare(count);
      masking::SortEdges(values.data(), spare.data(), count, largest);
      EXPECT_EQ(values, expected) << "largest " << largest << ", count " << count;
      for (const masking::Wide at : {masking::Wide{-1}, masking::Wide{0}, largest / 2, largest,
                                     largest + 1, count > 0 ? values[count / 3] : 0}) {
        const auto begin = expected.begin();
        const auto below = [&](bool orAt) {
          return static_cast<std::ptrdiff_t>(
              masking::CountEdgesBelow(values.data(), count, at, orAt));
        };
        EXPECT_EQ(below(false), std::lower_bound(begin, expected.end(), at) - begin);
        EXPECT_EQ(below(true), std::upper_bound(begin, expected.end(), at) - begin);
      }
    }
  }
}

TEST(RegionSelfCheck, ReportsEachKindOfDamage) {
  EXPECT_EQ(FaultAfter(kWalk,
                       [](MaskRegion& r) {
                         MaskRegionProbe::Piece(r, 1).stamp = MaskRegionProbe::Piece(r, 0).stamp;
                       }),
            "the stamps do not fall from the front of the list to its back");
  EXPECT_EQ(FaultAfter(kWalk, [](MaskRegion& r) { MaskRegionProbe::Piece(r, 2).height = 0; }),
            "a piece has no area");
  EXPECT_EQ(FaultAfter(kWalk, [](MaskRegion& r) { MaskRegionProbe::Sentinel(r).width = 1; }),
            "the sentinel has changed");
  EXPECT_EQ(FaultAfter(kWalk, [](MaskRegion& r) { MaskRegionProbe::Piece(r, 2).x = -1; }),
            "a piece lies off the page");
  EXPECT_EQ(FaultAfter(kWalk,
                       [](MaskRegion& r) {
                         MaskPiece& p = MaskRegionProbe::Piece(r, 1);
                         const MaskPiece& q = MaskRegionProbe::Piece(r, 0);
                         p.x = q.x;
                         p.y = q.y;
                         p.width = q.width;
                         p.height = q.height;
                       }),
            "two pieces overlap");
  // Taken out of the chain of its first cell, with the cell kept in step
  // (`keepCell`), or not.
  const auto unlist = [](bool keepCell) {
    return [keepCell](MaskRegion& r) {
      masking::PieceGrid& grid = MaskRegionProbe::Grid(r);
      const MaskPiece& p = MaskRegionProbe::Piece(r, 3);
      masking::GridCell& cell =
          grid.cells[p.cells.firstRow * grid.columns.spans + p.cells.firstColumn];
      std::uint32_t* link = &cell.first;
      while (EntryAt(grid, *link).piece != &p) link = &EntryAt(grid, *link).next;
      const std::uint32_t removed = *link;
      *link = EntryAt(grid, removed).next;
      if (keepCell && cell.built == removed) cell.built = *link;
      if (!keepCell) cell.built = removed;
    };
  };
  EXPECT_EQ(FaultAfter(kGridAtTheEnd, unlist(true)),
            "a piece is not listed exactly once in one of its grid cells");
  EXPECT_EQ(FaultAfter(kGridAtTheEnd, unlist(false)),
            "a grid cell's chain has lost the listings laid out");
  // Listed afresh, in a cell whose bounds then leave its listing out.
  EXPECT_EQ(
      FaultAfter(kGridAtTheEnd,
                 [](MaskRegion& r) {
                   masking::PieceGrid& grid = MaskRegionProbe::Grid(r);
                   MaskPiece& p = MaskRegionProbe::Piece(r, 3);
                   masking::RemoveFromGrid(grid, p);
                   masking::AddToGrid(grid, p);
                   grid.cells[p.cells.firstRow * grid.columns.spans + p.cells.firstColumn].added =
                       masking::kNoBounds;
                 }),
      "a grid listing's bounds leave out a listing after it");
  // A grid taken for gone while it still holds its memory.
  EXPECT_EQ(FaultAfter(kGridAtTheEnd, [](MaskRegion& r) { MaskRegionProbe::Grid(r).live = false; }),
            "a grid that is not live holds memory");
  // Listed once more, in a cell it does not cover.
  EXPECT_EQ(FaultAfter(kGridAtTheEnd,
                       [](MaskRegion& r) {
                         masking::PieceGrid& grid = MaskRegionProbe::Grid(r);
                         MaskPiece& p = MaskRegionProbe::Piece(r, 3);
                         const CellRange own = p.cells;
                         const auto outside = [&](std::uint32_t column, std::uint32_t row) {
                           return column < own.firstColumn || column > own.lastColumn ||
                                  row < own.firstRow || row > own.lastRow;
                         };
                         std::uint32_t column = 0;
                         std::uint32_t row = 0;
                         while (!outside(column, row)) {
                           if (++column == grid.columns.spans) {
                             column = 0;
                             ASSERT_LT(++row, grid.rows.spans) << "no cell outside the piece";
                           }
                         }
                         p.cells = CellRange{
                             static_cast<std::uint16_t>(column), static_cast<std::uint16_t>(column),
                             static_cast<std::uint16_t>(row), static_cast<std::uint16_t>(row)};
                         p.listed = false;
                         masking::AddToGrid(grid, p);
                         p.cells = own;
                       }),
            "a grid cell lists a piece that does not overlap it");
  // Listed in cells it does not cover.
  EXPECT_EQ(FaultAfter(kGridAtTheEnd,
                       [](MaskRegion& r) {
                         MaskRegionProbe::Piece(r, 3).cells = MaskRegionProbe::Piece(r, 0).cells;
                       }),
            "a piece's grid cells are not those it covers");
  // A piece behind the recent ones that the grid does not list.
  EXPECT_EQ(FaultAfter(kGridAtTheEnd,
                       [](MaskRegion& r) {
                         masking::RemoveFromGrid(MaskRegionProbe::Grid(r),
                                                 MaskRegionProbe::Piece(r, 5));
                       }),
            "a piece that should be in the grid is not");
}

// A region whose stamps near their end numbers its pieces afresh: the lists
// stay the oracle's step by step, through the grid or not, and the count of
// pieces made goes on from where it was.
TEST(Region, StampsNumberedAfreshKeepTheOraclesLists) {
  constexpr std::uint32_t kLastStamp =
      std::numeric_limits<decltype(masking::MaskPiece::stamp)>::max();
  std::mt19937 rng(kLastStamp);
  std::uniform_int_distribution<std::int32_t> x(-500, 21000);
  std::uniform_int_distribution<std::int32_t> y(-500, 29700);
  std::uniform_int_distribution<std::int32_t> size(20, 2000);
  for (const std::uint32_t gridFrom : {kWalk, kGrid, masking::kGridWhenItPays}) {
    MaskRegion* region = MaskRegion::Create(21000, 29700, gridFrom);
    oracle::MaskRegion* expected = oracle::MaskRegion::Create(21000, 29700);
    ASSERT_TRUE(region != nullptr && expected != nullptr);
    std::uint64_t made = region->PiecesMade();
    for (int i = 0; i < 400; ++i) {
      if (i % 40 == 20) {
        // Sometimes room for every stamp the next frame may take, mostly not.
        const std::uint32_t pieces = static_cast<std::uint32_t>(Pieces(*region).size());
        MaskRegionProbe::LastStamp(*region) =
            kLastStamp - static_cast<std::uint32_t>(rng() % (5 * pieces + 1));
      }
      const Rect f{x(rng), y(rng), size(rng), size(rng)};
      ASSERT_EQ(region->Exclude(f.x, f.y, f.width, f.height),
                expected->Exclude(f.x, f.y, f.width, f.height));
      ASSERT_EQ(Pieces(*region), Pieces(*expected)) << "frame " << i;
      ASSERT_EQ(RegionFault(*region), "") << "frame " << i;
      ASSERT_GE(region->PiecesMade(), made) << "frame " << i;
      made = region->PiecesMade();
    }
    region->GrowSlivers(kMinimumRectangleSize);
    expected->GrowSlivers(kMinimumRectangleSize);
    EXPECT_EQ(Pieces(*region), Pieces(*expected));
    MaskRegion::Destroy(region);
    oracle::MaskRegion::Destroy(expected);
  }
}

#ifdef VELUMO_REGION_CHECKS
// Builds that check after every step stop at the first step after the
// damage, growth included.
TEST(RegionSelfCheckDeathTest, ACheckedBuildStopsAtTheStepAfterDamage) {
  const auto damaged = [] {
    MaskRegion* region = MaskRegion::Create(1000, 1000);
    EXPECT_TRUE(region->Exclude(100, 100, 200, 200));
    MaskRegionProbe::Piece(*region, 1).stamp = MaskRegionProbe::Piece(*region, 0).stamp;
    return region;
  };
  EXPECT_DEATH(static_cast<void>(damaged()->Exclude(600, 600, 10, 10)),
               "mask region: the stamps do not fall");
  EXPECT_DEATH(damaged()->GrowSlivers(kMinimumRectangleSize),
               "mask region: the stamps do not fall");
}
#endif

}  // namespace
