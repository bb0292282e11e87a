// The self-check's search for overlapping pieces and pieces side by side,
// against a comparison of every pair.
#include "masking/layout_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/support/failing_memory.h"
#include "tests/support/region_helpers.h"

namespace {

using masking::MaskPiece;
using Rects = std::vector<Rect>;

// The rectangles as a list of pieces, front first.
std::vector<MaskPiece> Linked(const Rects& rects) {
  std::vector<MaskPiece> pieces(rects.size());
  for (std::size_t i = 0; i < rects.size(); ++i) {
    pieces[i] = MaskPiece{};
    pieces[i].x = rects[i].x;
    pieces[i].y = rects[i].y;
    pieces[i].width = rects[i].width;
    pieces[i].height = rects[i].height;
  }
  for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
    pieces[i].next = &pieces[i + 1];
    pieces[i + 1].prev = &pieces[i];
  }
  return pieces;
}

std::string Fault(const Rects& rects, bool sideBySideAllowed) {
  const std::vector<MaskPiece> pieces = Linked(rects);
  const char* fault =
      masking::LayoutFault(pieces.empty() ? nullptr : &pieces[0],
                           static_cast<std::uint32_t>(pieces.size()), sideBySideAllowed);
  return fault == nullptr ? std::string() : std::string(fault);
}

const char kOverlap[] = "two pieces overlap";
const char kSideBySide[] = "two pieces sit side by side";

TEST(LayoutCheck, FindsOverlapsHoweverThePiecesLie) {
  EXPECT_EQ(Fault({}, false), "");
  EXPECT_EQ(Fault({{0, 0, 10, 10}}, false), "");
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {5, 5, 10, 10}}, true), kOverlap);  // corners
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {2, 2, 3, 3}}, true), kOverlap);    // one inside
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {0, 0, 10, 10}}, true), kOverlap);  // the same
  EXPECT_EQ(Fault({{0, 4, 30, 2}, {10, 0, 2, 30}}, true), kOverlap);   // a cross
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {9, 9, 1, 1}}, true), kOverlap);    // one unit
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {0, 10, 10, 10}}, true), "");       // above, below
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {10, 10, 10, 10}}, false), "");     // corner to corner
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {20, 0, 10, 10}, {0, 20, 30, 5}}, false), "");
}

TEST(LayoutCheck, FindsPiecesSideBySideUnlessAllowed) {
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {10, 0, 10, 10}}, false), kSideBySide);
  EXPECT_EQ(Fault({{10, 5, 10, 10}, {0, 0, 10, 10}}, false), kSideBySide);  // rows in part
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {10, 0, 10, 10}}, true), "");
  EXPECT_EQ(Fault({{0, 0, 10, 10}, {10, 10, 10, 10}}, false), "");  // no row in common
  // Several pieces on one line, only the last pair meeting.
  EXPECT_EQ(Fault({{0, 0, 10, 10},
                   {0, 20, 10, 10},
                   {0, 40, 10, 10},
                   {10, 10, 5, 10},
                   {10, 30, 5, 10},
                   {10, 49, 5, 10}},
                  false),
            kSideBySide);
}

TEST(LayoutCheck, AgreesWithAComparisonOfEveryPair) {
  std::mt19937 rng(8);
  int overlaps = 0;
  int sideBySide = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    // A small lattice, so that pieces often meet and overlap.
    Rects rects(1 + rng() % 8);
    for (Rect& r : rects) {
      r = {static_cast<std::int32_t>(rng() % 8), static_cast<std::int32_t>(rng() % 8),
           static_cast<std::int32_t>(1 + rng() % 4), static_cast<std::int32_t>(1 + rng() % 4)};
    }
    bool overlap = false;
    bool beside = false;
    for (std::size_t i = 0; i < rects.size(); ++i) {
      for (std::size_t j = 0; j < rects.size(); ++j) {
        const Rect& a = rects[i];
        const Rect& b = rects[j];
        const bool rowsInCommon = a.y < b.y + b.height && b.y < a.y + a.height;
        if (i != j && rowsInCommon && a.x < b.x + b.width && b.x < a.x + a.width) overlap = true;
        if (rowsInCommon && a.x + a.width == b.x) beside = true;
      }
    }
    const std::string expected = overlap ? kOverlap : (beside ? kSideBySide : "");
    ASSERT_EQ(Fault(rects, false), expected) << "trial " << trial;
    ASSERT_EQ(Fault(rects, true), overlap ? kOverlap : "") << "trial " << trial;
    overlaps += overlap ? 1 : 0;
    sideBySide += !overlap && beside ? 1 : 0;
  }
  EXPECT_GT(overlaps, 150);
  EXPECT_GT(sideBySide, 150);
}

// Cuts the box into pieces that tile it, by random straight cuts.
void Tile(std::mt19937& rng, const Rect& box, int depth, Rects& pieces) {
  const bool across = box.width >= box.height;
  const std::int32_t extent = across ? box.width : box.height;
  if (depth == 0 || extent < 2 || rng() % 5 == 0) {
    pieces.push_back(box);
    return;
  }
  const auto cut = static_cast<std::int32_t>(1 + rng() % static_cast<std::uint32_t>(extent - 1));
  if (across) {
    Tile(rng, {box.x, box.y, cut, box.height}, depth - 1, pieces);
    Tile(rng, {box.x + cut, box.y, box.width - cut, box.height}, depth - 1, pieces);
  } else {
    Tile(rng, {box.x, box.y, box.width, cut}, depth - 1, pieces);
    Tile(rng, {box.x, box.y + cut, box.width, box.height - cut}, depth - 1, pieces);
  }
}

// Many pieces in many bands, so that the sweep's cover tree is deep: tilings
// with holes, one piece moved at times onto its neighbours.
TEST(LayoutCheck, FindsTheOneOverlapAmongManyPieces) {
  std::mt19937 rng(13);
  int overlaps = 0;
  for (int trial = 0; trial < 400; ++trial) {
    Rects rects;
    Tile(rng, {0, 0, 64, 64}, 8, rects);
    std::shuffle(rects.begin(), rects.end(), rng);
    rects.resize(rects.size() - rects.size() / 4);
    if (trial % 2 == 1) {
      Rect& moved = rects[rng() % rects.size()];
      moved.x += static_cast<std::int32_t>(rng() % 7) - 3;
      moved.y += static_cast<std::int32_t>(rng() % 7) - 3;
    }
    bool overlap = false;
    for (std::size_t i = 0; i < rects.size(); ++i) {
      for (std::size_t j = i + 1; j < rects.size(); ++j) {
        const Rect& a = rects[i];
        const Rect& b = rects[j];
        overlap = overlap || (a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
                              b.y < a.y + a.height);
      }
    }
    ASSERT_EQ(Fault(rects, true), overlap ? kOverlap : "") << "trial " << trial;
    overlaps += overlap ? 1 : 0;
  }
  EXPECT_GT(overlaps, 100);
  EXPECT_LT(overlaps, 300);
}

TEST(LayoutCheck, SaysSoWhenItHasNoMemory) {
  for (long failing = 1; failing <= 2; ++failing) {
    FailAllocationAfter(failing);
    EXPECT_EQ(Fault({{0, 0, 10, 10}, {20, 0, 10, 10}}, false),
              "no memory to check the layout of the pieces");
    FailAllocationAfter(0);
    EXPECT_EQ(LiveBlocks(), 0);
  }
}

}  // namespace
