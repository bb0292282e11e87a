// Which parts of a page a set of rectangles covers, by coordinate
// compression: the page is cut along every edge of every rectangle that
// matters, and each cell of the resulting grid is either wholly inside a
// rectangle or wholly outside it. Counting is done with a two-dimensional
// difference table, so a grid of n by n cells and m rectangles costs about
// n * n + m, whatever the coordinates.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace coverage {

// A rectangle by its edges, in 64 bits so that x + width never overflows.
struct Box {
  std::int64_t left;
  std::int64_t top;
  std::int64_t right;
  std::int64_t bottom;
};

inline Box BoxOf(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
  return Box{x, y, std::int64_t{x} + width, std::int64_t{y} + height};
}

class CoverageGrid {
 public:
  // A grid over the page (0, 0) to (width, height), both positive, cut along
  // the edges of every box in `boxes` that fall inside the page.
  CoverageGrid(std::int64_t width, std::int64_t height, const std::vector<Box>& boxes)
      : width_(width), height_(height) {
    xs_ = {0, width};
    ys_ = {0, height};
    for (const Box& b : boxes) {
      for (std::int64_t x : {b.left, b.right}) {
        if (x > 0 && x < width) xs_.push_back(x);
      }
      for (std::int64_t y : {b.top, b.bottom}) {
        if (y > 0 && y < height) ys_.push_back(y);
      }
    }
    Unique(xs_);
    Unique(ys_);
  }

  std::size_t Columns() const { return xs_.size() - 1; }
  std::size_t Rows() const { return ys_.size() - 1; }

  // For each cell, row by row, how many of `boxes` cover it. Every box edge
  // inside the page must have been among the edges the grid was cut along.
  std::vector<int> Count(const std::vector<Box>& boxes) const {
    const std::size_t w = xs_.size();
    std::vector<int> table(w * ys_.size(), 0);
    for (const Box& b : boxes) {
      const std::int64_t left = std::max<std::int64_t>(b.left, 0);
      const std::int64_t right = std::min(b.right, width_);
      const std::int64_t top = std::max<std::int64_t>(b.top, 0);
      const std::int64_t bottom = std::min(b.bottom, height_);
      if (left >= right || top >= bottom) continue;
      const std::size_t i0 = Index(xs_, left);
      const std::size_t i1 = Index(xs_, right);
      const std::size_t j0 = Index(ys_, top);
      const std::size_t j1 = Index(ys_, bottom);
      ++table[j0 * w + i0];
      --table[j0 * w + i1];
      --table[j1 * w + i0];
      ++table[j1 * w + i1];
    }
    for (std::size_t j = 0; j < ys_.size(); ++j) {
      for (std::size_t i = 0; i < w; ++i) {
        if (i > 0) table[j * w + i] += table[j * w + i - 1];
        if (j > 0) table[j * w + i] += table[(j - 1) * w + i];
        if (i > 0 && j > 0) table[j * w + i] -= table[(j - 1) * w + i - 1];
      }
    }
    std::vector<int> cells;
    cells.reserve(Columns() * Rows());
    for (std::size_t j = 0; j < Rows(); ++j) {
      for (std::size_t i = 0; i < Columns(); ++i) cells.push_back(table[j * w + i]);
    }
    return cells;
  }

 private:
  static void Unique(std::vector<std::int64_t>& cuts) {
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  }

  static std::size_t Index(const std::vector<std::int64_t>& cuts, std::int64_t value) {
    return static_cast<std::size_t>(std::lower_bound(cuts.begin(), cuts.end(), value) -
                                    cuts.begin());
  }

  std::int64_t width_;
  std::int64_t height_;
  std::vector<std::int64_t> xs_;
  std::vector<std::int64_t> ys_;
};

}  // namespace coverage
