// The pages the region is timed on: the README's speed table, plausible pages of
// every size, and the layouts that have been worst for one region design or
// another. Each is an A4 page and its keep-frames in the order a document
// would give them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace bench {

constexpr std::int32_t kPageWidth = 21000;
constexpr std::int32_t kPageHeight = 29700;

struct Frame {
  std::int32_t x, y, width, height;
};

// Frames of random size between the bounds, anywhere on or just off the page.
inline std::vector<Frame> RandomFrames(int count, std::uint32_t seed, std::int32_t minSize,
                                       std::int32_t maxSize) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::int32_t> x(-500, kPageWidth);
  std::uniform_int_distribution<std::int32_t> y(-500, kPageHeight);
  std::uniform_int_distribution<std::int32_t> size(minSize, maxSize);
  std::vector<Frame> frames;
  for (int i = 0; i < count; ++i) frames.push_back({x(rng), y(rng), size(rng), size(rng)});
  return frames;
}

// The seed of a page drawn at random, when one page is enough.
constexpr std::uint32_t kFirstSeed = 42;

// Plausible keep-frames, 200 to 4,000 units wide and high.
inline std::vector<Frame> Plausible(int count, std::uint32_t seed = kFirstSeed) {
  return RandomFrames(count, seed, 200, 4000);
}

// Small keep-frames, 100 to 1,000 units: the page stays mostly masked.
inline std::vector<Frame> Small(int count, std::uint32_t seed = kFirstSeed) {
  return RandomFrames(count, seed, 100, 1000);
}

// `lines` full-length vertical keep-frames 10 units thick, then as many
// horizontal ones: (lines + 1)^2 pieces.
inline std::vector<Frame> Ruled(int lines) {
  std::vector<Frame> frames;
  for (int i = 1; i <= lines; ++i)
    frames.push_back({i * kPageWidth / (lines + 1), 0, 10, kPageHeight});
  for (int i = 1; i <= lines; ++i)
    frames.push_back({0, i * kPageHeight / (lines + 1), kPageWidth, 10});
  return frames;
}

// About `count` keep-frames of one unit, two units apart, packed row by row
// in a square in the middle of the page.
inline std::vector<Frame> Packed(int count) {
  int side = 1;
  while (side * side < count) ++side;
  std::vector<Frame> frames;
  for (int j = 0; j < side; ++j) {
    for (int i = 0; i < side && static_cast<int>(frames.size()) < count; ++i) {
      frames.push_back({10000 + 2 * i, 10000 + 2 * j, 1, 1});
    }
  }
  return frames;
}

// Keep-frames two units high stacked down the page, each at the top edge of
// the big piece below the ones before and cutting it in three.
inline std::vector<Frame> Shaving(int count) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<std::int32_t> x(1000, 15000);
  std::uniform_int_distribution<std::int32_t> width(1000, 5000);
  std::vector<Frame> frames;
  for (int i = 0; i < count; ++i) frames.push_back({x(rng), 2 * i, width(rng), 2});
  return frames;
}

// Keep-frames of 300 units down the page's diagonal, each a step right of and
// below the one before it and overlapping it.
inline std::vector<Frame> Staircase(int count) {
  std::vector<Frame> frames;
  for (int i = 0; i < count; ++i) {
    frames.push_back({static_cast<std::int32_t>(std::int64_t{i} * (kPageWidth - 300) / count),
                      static_cast<std::int32_t>(std::int64_t{i} * (kPageHeight - 300) / count), 300,
                      300});
  }
  return frames;
}

// A keep-frame of negative size off the page, then small keep-frames.
inline std::vector<Frame> NegativeThenSmall(int count, std::uint32_t seed = kFirstSeed) {
  std::vector<Frame> frames{{-5000, -5000, -10, -10}};
  const std::vector<Frame> small = Small(count, seed);
  frames.insert(frames.end(), small.begin(), small.end());
  return frames;
}

// How far the region may be from pixman on a page: its time over that of
// subtracting each frame in turn, and over that of the batch path.
struct Bounds {
  double each;
  double batch;
};
constexpr Bounds kPlausibleBounds{1.0, 4.0};
constexpr Bounds kHardBounds{1.0, 10.0};

// A kind of page, as the pages a benchmark takes in turn. A page drawn at
// random comes as many pages drawn alike, from consecutive seeds: run after
// run on one such page, the processor learns the outcome of every branch the
// page takes, which no user's page gives it (100 small frames took 2.4 to
// 2.6 times as long once each of the pages differed, pixman's batch path
// 1.8 to 2 times, its subtract-each path the same). A page laid out by
// rule is one page.
using Pages = std::vector<std::vector<Frame>>;

struct Page {
  std::string name;
  Pages pages;
  Bounds bounds;
};

// Enough pages drawn alike that they hold about kFramesDrawn frames between
// them, and at most kMostPages: 16 pages of 100 small frames already took as
// long each as 2,000.
constexpr int kFramesDrawn = 20000;
constexpr int kMostPages = 256;
inline int PagesDrawnFor(int frames) {
  return frames >= kFramesDrawn ? 1 : std::min(kMostPages, kFramesDrawn / std::max(frames, 1));
}

// The pages drawn alike by `draw(seed)`, `frames` frames each.
template <typename Draw>
Pages Drawn(int frames, Draw draw) {
  Pages pages;
  for (int i = 0; i < PagesDrawnFor(frames); ++i) {
    pages.push_back(draw(kFirstSeed + static_cast<std::uint32_t>(i)));
  }
  return pages;
}

inline Pages PlausibleDrawn(int count) {
  return Drawn(count, [count](std::uint32_t seed) { return Plausible(count, seed); });
}
inline Pages SmallDrawn(int count) {
  return Drawn(count, [count](std::uint32_t seed) { return Small(count, seed); });
}

inline std::vector<Page> NamedPages() {
  return {
      {"plausible 10", PlausibleDrawn(10), kPlausibleBounds},
      {"plausible 20", PlausibleDrawn(20), kPlausibleBounds},
      {"plausible 100", PlausibleDrawn(100), kPlausibleBounds},
      {"plausible 1,000", PlausibleDrawn(1000), kPlausibleBounds},
      {"plausible 10,000", PlausibleDrawn(10000), kPlausibleBounds},
      {"plausible 10, 500-8,000 units",
       Drawn(10, [](std::uint32_t seed) { return RandomFrames(10, seed, 500, 8000); }),
       kPlausibleBounds},
      {"small 100", SmallDrawn(100), kPlausibleBounds},
      {"small 1,000", SmallDrawn(1000), kPlausibleBounds},
      {"thin grid 50 + 50", {Ruled(50)}, kHardBounds},
      {"ruled 400 + 400", {Ruled(400)}, kHardBounds},
      {"packed 10,000 in 200 x 200", {Packed(10000)}, kHardBounds},
      {"shaving 10,000", {Shaving(10000)}, kHardBounds},
      {"negative, then small 1,000",
       Drawn(1001, [](std::uint32_t seed) { return NegativeThenSmall(1000, seed); }), kHardBounds},
      {"staircase 10,000", {Staircase(10000)}, kHardBounds},
  };
}

}  // namespace bench
