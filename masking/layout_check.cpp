#include "masking/layout_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "masking/memory.h"

namespace masking {
namespace {

// An array from AllocateBlock, released when it goes out of scope; null when
// memory ran out.
template <typename T>
class Scratch {
 public:
  Scratch(std::size_t count, const ScratchMemory& memory)
      : memory_(memory),
        data_(count > std::numeric_limits<std::size_t>::max() / sizeof(T)
                  ? nullptr
                  : static_cast<T*>(memory.allocate(count * sizeof(T)))) {}
  ~Scratch() {
    if (data_ != nullptr) memory_.release(data_);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  T* Get() const { return data_; }

 private:
  const ScratchMemory& memory_;
  T* data_;
};

// A piece's left or right edge, for a sweep from left to right. The piece's
// rows are the elementary bands low to high - 1 between the sorted distinct
// top and bottom edges of all pieces.
struct Edge {
  Wide x;
  bool opens;
  std::uint32_t low;
  std::uint32_t high;
};

// Right edges come before left edges at the same x: pieces that only touch
// there do not overlap.
bool SweepsBefore(const Edge& a, const Edge& b) {
  if (a.x != b.x) return a.x < b.x;
  return !a.opens && b.opens;
}

// How many open pieces cover each band, as a segment tree over the bands
// that adds to whole nodes and keeps each node's maximum.
struct CoverTree {
  std::int32_t* most;   // the largest cover of any band under the node
  std::int32_t* whole;  // cover added to all bands under the node
};

void AddCover(CoverTree& tree, std::size_t node, std::uint32_t from, std::uint32_t to,
              std::uint32_t low, std::uint32_t high, std::int32_t delta) {
  if (high < from || to < low) return;
  if (low <= from && to <= high) {
    tree.whole[node] += delta;
    tree.most[node] += delta;
    return;
  }
  const std::uint32_t middle = from + (to - from) / 2;
  AddCover(tree, 2 * node, from, middle, low, high, delta);
  AddCover(tree, 2 * node + 1, middle + 1, to, low, high, delta);
  tree.most[node] = std::max(tree.most[2 * node], tree.most[2 * node + 1]) + tree.whole[node];
}

std::int32_t MostCover(const CoverTree& tree, std::size_t node, std::uint32_t from,
                       std::uint32_t to, std::uint32_t low, std::uint32_t high) {
  if (high < from || to < low) return 0;
  if (low <= from && to <= high) return tree.most[node];
  const std::uint32_t middle = from + (to - from) / 2;
  return std::max(MostCover(tree, 2 * node, from, middle, low, high),
                  MostCover(tree, 2 * node + 1, middle + 1, to, low, high)) +
         tree.whole[node];
}

std::uint32_t BandOf(const Wide* edges, std::uint32_t count, Wide y) {
  return static_cast<std::uint32_t>(std::lower_bound(edges, edges + count, y) - edges);
}

const char* OverlapFault(const MaskPiece* first, std::uint32_t count, const ScratchMemory& memory) {
  const std::size_t n = count;
  Scratch<Wide> rows(2 * n, memory);
  Scratch<Edge> edges(2 * n, memory);
  if (rows.Get() == nullptr || edges.Get() == nullptr) return kLayoutWithoutMemory;
  Wide* ys = rows.Get();
  std::size_t k = 0;
  for (const MaskPiece* p = first; p != nullptr; p = p->next) {
    ys[k++] = p->y;
    ys[k++] = BottomOf(*p);
  }
  std::sort(ys, ys + k);
  const auto distinct = static_cast<std::uint32_t>(std::unique(ys, ys + k) - ys);
  const std::uint32_t bands = distinct - 1;
  Scratch<std::int32_t> most(4 * std::size_t{bands}, memory);
  Scratch<std::int32_t> whole(4 * std::size_t{bands}, memory);
  if (most.Get() == nullptr || whole.Get() == nullptr) return kLayoutWithoutMemory;
  std::fill(most.Get(), most.Get() + 4 * std::size_t{bands}, 0);
  std::fill(whole.Get(), whole.Get() + 4 * std::size_t{bands}, 0);
  CoverTree tree{most.Get(), whole.Get()};

  Edge* sweep = edges.Get();
  k = 0;
  for (const MaskPiece* p = first; p != nullptr; p = p->next) {
    const std::uint32_t low = BandOf(ys, distinct, p->y);
    const std::uint32_t high = BandOf(ys, distinct, BottomOf(*p));
    sweep[k++] = Edge{p->x, true, low, high};
    sweep[k++] = Edge{RightOf(*p), false, low, high};
  }
  std::sort(sweep, sweep + k, SweepsBefore);
  for (std::size_t i = 0; i < k; ++i) {
    const Edge& e = sweep[i];
    if (e.opens && MostCover(tree, 1, 0, bands - 1, e.low, e.high - 1) > 0) {
      return "two pieces overlap";
    }
    AddCover(tree, 1, 0, bands - 1, e.low, e.high - 1, e.opens ? 1 : -1);
  }
  return nullptr;
}

// A piece by its edges, copied out of the list for sorting.
struct Span {
  Wide left;
  Wide top;
  Wide right;
  Wide bottom;
};

bool RightEdgeFirst(const Span& a, const Span& b) {
  if (a.right != b.right) return a.right < b.right;
  return a.top < b.top;
}

bool LeftEdgeFirst(const Span& a, const Span& b) {
  if (a.left != b.left) return a.left < b.left;
  return a.top < b.top;
}

// Pieces that do not overlap and end on the same vertical line have rows in
// common with none of the others, so each line's pieces ending there and
// those starting there can be compared top to bottom in one merge.
const char* SideBySideFault(const MaskPiece* first, std::uint32_t count,
                            const ScratchMemory& memory) {
  Scratch<Span> byRight(count, memory);
  Scratch<Span> byLeft(count, memory);
  if (byRight.Get() == nullptr || byLeft.Get() == nullptr) return kLayoutWithoutMemory;
  Span* ending = byRight.Get();
  Span* starting = byLeft.Get();
  std::uint32_t n = 0;
  for (const MaskPiece* p = first; p != nullptr; p = p->next, ++n) {
    ending[n] = starting[n] = Span{p->x, p->y, RightOf(*p), BottomOf(*p)};
  }
  std::sort(ending, ending + n, RightEdgeFirst);
  std::sort(starting, starting + n, LeftEdgeFirst);
  std::uint32_t i = 0;
  std::uint32_t j = 0;
  while (i < n && j < n) {
    const Wide line = ending[i].right;
    if (line < starting[j].left) {
      ++i;
    } else if (starting[j].left < line) {
      ++j;
    } else {
      std::uint32_t iEnd = i;
      while (iEnd < n && ending[iEnd].right == line) ++iEnd;
      std::uint32_t jEnd = j;
      while (jEnd < n && starting[jEnd].left == line) ++jEnd;
      while (i < iEnd && j < jEnd) {
        if (ending[i].bottom <= starting[j].top) {
          ++i;
        } else if (starting[j].bottom <= ending[i].top) {
          ++j;
        } else {
          return "two pieces sit side by side";
        }
      }
      i = iEnd;
      j = jEnd;
    }
  }
  return nullptr;
}

}  // namespace

const char kLayoutWithoutMemory[] = "no memory to check the layout of the pieces";

const char* LayoutFault(const MaskPiece* first, std::uint32_t count, bool sideBySideAllowed,
                        const ScratchMemory& memory) {
  if (count == 0) return nullptr;
  if (const char* fault = OverlapFault(first, count, memory)) return fault;
  return sideBySideAllowed ? nullptr : SideBySideFault(first, count, memory);
}

}  // namespace masking
