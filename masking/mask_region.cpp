#include "masking/mask_region.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "masking/edge_index.h"
#include "masking/memory.h"
#include "masking/piece_grid.h"
#include "masking/piece_pool.h"

// Every value that a split stores lies between edges of the piece being
// split, so it fits in 32 bits again.
namespace masking {
namespace {

bool FitsIn32(Wide value) {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

std::int32_t Narrow(Wide value) { return static_cast<std::int32_t>(value); }

bool WhollyInside(const MaskPiece& p, const FrameEdges& f) {
  return f.top <= p.y && BottomOf(p) <= f.bottom && f.left <= p.x && RightOf(p) <= f.right;
}

// A piece that ends exactly on the frame's top or left edge is not apart (it
// is split, into pieces covering the same area); one that starts exactly on
// the frame's bottom or right edge is.
bool Apart(const MaskPiece& p, const FrameEdges& f) {
  return p.y >= f.bottom || BottomOf(p) < f.top || p.x >= f.right || RightOf(p) < f.left;
}

// The pieces that splitting one piece around a frame makes, in the order in
// which they enter the list: top strip, bottom strip, left piece, right piece.
enum class Part { kTop, kBottom, kLeft, kRight };

struct Split {
  MaskPiece* made[4];
  Part part[4];
  int count;
};

// Takes every piece of the split from the pool before touching the list, so
// that a shortage changes nothing.
bool MakeSplit(PiecePool& pool, const MaskPiece& p, const FrameEdges& f, Split& split) {
  struct Rect {
    Wide x, y, width, height;
  } rects[4];
  int count = 0;
  Wide y = p.y;
  Wide height = p.height;
  if (y < f.top) {
    split.part[count] = Part::kTop;
    rects[count++] = {p.x, y, p.width, f.top - y};
    height = y + height - f.top;
    y = f.top;
  }
  if (y + height > f.bottom) {
    split.part[count] = Part::kBottom;
    rects[count++] = {p.x, f.bottom, p.width, y + height - f.bottom};
    height = f.bottom - y;
  }
  if (p.x < f.left && height > 0) {
    split.part[count] = Part::kLeft;
    rects[count++] = {p.x, y, f.left - p.x, height};
  }
  if (RightOf(p) > f.right && height > 0) {
    split.part[count] = Part::kRight;
    rects[count++] = {f.right, y, RightOf(p) - f.right, height};
  }
  for (int i = 0; i < count; ++i) {
    MaskPiece* piece = TakePiece(pool);
    if (piece == nullptr) {
      for (int j = 0; j < i; ++j) GiveBack(pool, split.made[j]);
      return false;
    }
    split.made[i] = new (piece) MaskPiece{nullptr,
                                          nullptr,
                                          Narrow(rects[i].x),
                                          Narrow(rects[i].y),
                                          Narrow(rects[i].width),
                                          Narrow(rects[i].height),
                                          0,
                                          0,
                                          {}};
  }
  split.count = count;
  return true;
}

FrameCells CellsAround(const PieceGrid& grid, const FrameEdges& f) {
  const auto column = [&](Wide x) { return static_cast<std::uint16_t>(SpanOf(grid.columns, x)); };
  const auto row = [&](Wide y) { return static_cast<std::uint16_t>(SpanOf(grid.rows, y)); };
  return FrameCells{column(f.left - 1), column(f.right),   row(f.top - 1),
                    row(f.top),         row(f.bottom - 1), row(f.bottom)};
}

// The cells of a piece made by splitting `p` around frame `f`.
CellRange CellsOfPart(const MaskPiece& p, Part part, const FrameEdges& f, const FrameCells& at) {
  CellRange cells = p.cells;
  switch (part) {
    case Part::kTop:
      cells.lastRow = at.lastRowAbove;
      return cells;
    case Part::kBottom:
      cells.firstRow = at.firstRowBelow;
      return cells;
    case Part::kLeft:
      cells.lastColumn = at.lastColumnLeft;
      break;
    case Part::kRight:
      cells.firstColumn = at.firstColumnRight;
      break;
  }
  if (p.y < f.top) cells.firstRow = at.firstRowInside;
  if (BottomOf(p) > f.bottom) cells.lastRow = at.lastRowInside;
  return cells;
}

Wide Area(const MaskPiece& p) { return Wide{p.width} * p.height; }

// Applies a growth only when its result still fits in 32 bits.
void Grow(std::int32_t& position, std::int32_t& extent, Wide newPosition, Wide newExtent) {
  if (!FitsIn32(newPosition) || !FitsIn32(newExtent)) return;
  position = Narrow(newPosition);
  extent = Narrow(newExtent);
}

bool SpansColumns(const MaskPiece& s, const MaskPiece& q) {
  return s.x <= q.x && RightOf(s) >= RightOf(q);
}

bool LiesBelow(const MaskPiece& s, const MaskPiece& q) {
  return s.y == BottomOf(q) && SpansColumns(s, q);
}

bool LiesAbove(const MaskPiece& s, const MaskPiece& q) {
  return q.y == BottomOf(s) && SpansColumns(s, q);
}

bool NearerTheFront(const MaskPiece* a, const MaskPiece* b) { return a->stamp > b->stamp; }

// Puts the pieces in list order, front first. They are often found in that
// order or the reverse one already (a frame across a row of pieces made by
// the frame before it), so those cost no sort.
void PutInListOrder(MaskPiece** pieces, std::uint32_t count) {
  if (count < 2) return;
  bool descending = true;
  bool ascending = true;
  for (std::uint32_t i = 1; i < count && (descending || ascending); ++i) {
    if (pieces[i - 1]->stamp < pieces[i]->stamp) descending = false;
    if (pieces[i - 1]->stamp > pieces[i]->stamp) ascending = false;
  }
  if (descending) return;
  if (ascending) {
    std::reverse(pieces, pieces + count);
  } else {
    std::sort(pieces, pieces + count, NearerTheFront);
  }
}

// What carving a piece through the grid costs beyond carving it in a walk
// (finding it, sorting, listing its parts), in steps of a walk.
constexpr std::uint64_t kGridStepsPerCarve = 32;

// Growth looks low pieces' neighbours up by their edges from this many pieces
// on; below it the walks cost less than building the index.
constexpr std::uint32_t kEdgeIndexFrom = 64;

// Regions up to this size are checked after every step of a checked build.
constexpr std::uint32_t kAuditEveryStepUpTo = 2048;

#ifdef VELUMO_REGION_CHECKS
// The checks after each step take their memory from elsewhere than the
// region: a test that fails the region's n-th request means the region's.
void* PlainAllocate(std::size_t size) { return std::malloc(size); }
void PlainRelease(void* block) { std::free(block); }
#endif

}  // namespace

MaskRegion* MaskRegion::Create(std::int32_t pageWidth, std::int32_t pageHeight,
                               std::uint32_t gridFromPieces) {
  void* block = AllocateBlock(sizeof(MaskRegion));
  if (block == nullptr) return nullptr;
  MaskRegion* region = new (block) MaskRegion();
  region->head_ = &region->sentinel_;
  region->pool_ = PoolWith(region->ownPieces_, kOwnPieces);
  region->pageWidth_ = pageWidth;
  region->pageHeight_ = pageHeight;
  region->gridFromPieces_ = gridFromPieces;
  // The region's own pieces cannot run out on the first.
  MaskPiece* page = TakePiece(region->pool_);
  *page = MaskPiece{nullptr, nullptr, 0, 0, pageWidth, pageHeight, 0, 0, {}};
  region->PushFront(page);
  return region;
}

void MaskRegion::Destroy(MaskRegion* region) {
  if (region == nullptr) return;
  ReleasePool(region->pool_);
  ReleaseGrid(region->grid_);
  region->~MaskRegion();
  ReleaseBlock(region);
}

void MaskRegion::PushFront(MaskPiece* piece) {
  if (head_->next != nullptr) head_->next->prev = piece;
  piece->next = head_->next;
  piece->prev = head_;
  head_->next = piece;
  piece->stamp = ++lastStamp_;
  ++pieceCount_;
  ++changedInStep_;
}

void MaskRegion::Unlink(MaskPiece* piece) {
  if (piece->prev != nullptr) piece->prev->next = piece->next;
  if (piece->next != nullptr) piece->next->prev = piece->prev;
  --pieceCount_;
  ++changedInStep_;
}

inline void MaskRegion::Remove(MaskPiece& piece) {
  if (grid_.live) RemoveFromGrid(grid_, piece);
  Unlink(&piece);
  GiveBack(pool_, &piece);
}

inline bool MaskRegion::SplitAround(MaskPiece& piece, const FrameEdges& frame,
                                    const FrameCells* at) {
  Split split{};
  if (!MakeSplit(pool_, piece, frame, split)) return false;
  for (int i = 0; i < split.count; ++i) PushFront(split.made[i]);
  if (at != nullptr) {
    if (split.count == 0) {
      RemoveFromGrid(grid_, piece);
    } else {
      // The largest piece made keeps the split piece's slot, so that a large
      // piece losing a strip costs only the cells of that strip.
      int heir = 0;
      for (int i = 1; i < split.count; ++i) {
        if (Area(*split.made[i]) > Area(*split.made[heir])) heir = i;
      }
      HandOverSlot(grid_, piece, *split.made[heir],
                   CellsOfPart(piece, split.part[heir], frame, *at));
      for (int i = 0; i < split.count; ++i) {
        if (i != heir) {
          AddToGrid(grid_, *split.made[i], CellsOfPart(piece, split.part[i], frame, *at));
        }
      }
    }
  }
  Unlink(&piece);
  GiveBack(pool_, &piece);
  return true;
}

inline bool MaskRegion::ExcludeByWalk(const FrameEdges& frame) {
  // Pieces made by this call enter at the front, behind the ones already
  // visited, so remembering the next piece before handling the current one
  // visits exactly the pieces that were there when the call began.
  MaskPiece* piece = head_->next;
  std::uint64_t visited = 0;
  std::uint64_t carved = 0;
  while (piece != nullptr) {
    MaskPiece* following = piece->next;
    ++visited;
    if (WhollyInside(*piece, frame)) {
      Remove(*piece);
      ++carved;
    } else if (!Apart(*piece, frame)) {
      if (!SplitAround(*piece, frame, nullptr)) return false;
      ++carved;
    }
    piece = following;
  }
  // A grid would have found the carved pieces at once, but handles each of
  // them at a higher cost than a step of the walk: only the steps beyond
  // that are wasted.
  const std::uint64_t gridCost = kGridStepsPerCarve * carved;
  if (visited > gridCost) walkWaste_ += visited - gridCost;
  return true;
}

bool MaskRegion::ExcludeByGrid(const FrameEdges& frame) {
  // The walk carves the pieces that are wholly inside the frame or not apart
  // from it. A piece not apart overlaps the frame's box grown by one unit up
  // and left (a piece ending on the frame's top or left edge is not apart),
  // with the edges of a frame of negative size taken in order. Carving those
  // pieces in list order, front first, does to each exactly what the walk
  // does.
  const Wide left = std::min(frame.left, frame.right) - 1;
  const Wide right = std::max(frame.left, frame.right);
  const Wide top = std::min(frame.top, frame.bottom) - 1;
  const Wide bottom = std::max(frame.top, frame.bottom);
  const std::uint32_t found = Collect(grid_, left, top, right, bottom);
  if (grid_.broken) {
    GiveUpGrid();
    return ExcludeByWalk(frame);
  }
  MaskPiece** touched = grid_.found;
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < found; ++i) {
    if (WhollyInside(*touched[i], frame) || !Apart(*touched[i], frame)) {
      touched[count++] = touched[i];
    }
  }
  PutInListOrder(touched, count);
  const FrameCells at = CellsAround(grid_, frame);
  bool carved = true;
  for (std::uint32_t i = 0; i < count && carved; ++i) {
    MaskPiece& piece = *touched[i];
    if (WhollyInside(piece, frame)) {
      Remove(piece);
    } else {
      carved = SplitAround(piece, frame, &at);
    }
  }
  // The list is whole whatever happened to the grid's lists on the way.
  if (grid_.broken) GiveUpGrid();
  return carved;
}

bool MaskRegion::Exclude(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
  if (failed_) return false;
  const FrameEdges frame{x, y, Wide{x} + width, Wide{y} + height};
  if (width < 0 || height < 0) {
    sawNegativeFrame_ = true;
  } else if (width == 0 || height == 0) {
    sawEmptyFrame_ = true;
  }
  changedInStep_ = 0;
  FitGrid();
  const bool carved = grid_.live ? ExcludeByGrid(frame) : ExcludeByWalk(frame);
  failed_ = !carved;
  AuditStep(changedInStep_);
  return carved;
}

const MaskPiece* MaskRegion::NeighbourByWalk(const MaskPiece& low, bool& below) const {
  for (const MaskPiece* s = head_->next; s != nullptr; s = s->next) {
    if (LiesBelow(*s, low)) {
      below = true;
      return s;
    }
    if (LiesAbove(*s, low)) {
      below = false;
      return s;
    }
  }
  return nullptr;
}

void MaskRegion::GrowIntoNeighbours(std::int32_t minimum, EdgeIndex* edges) {
  for (MaskPiece* q = head_->next; q != nullptr; q = q->next) {
    if (q->height >= minimum) continue;
    bool below = false;
    const MaskPiece* s =
        edges != nullptr ? NeighbourByEdges(*edges, *q, below) : NeighbourByWalk(*q, below);
    if (s == nullptr) continue;
    const Wide height = q->height;
    if (below) {
      Grow(q->y, q->height, q->y, height + s->height);
    } else {
      Grow(q->y, q->height, Wide{q->y} - s->height, height + s->height);
    }
    if (edges != nullptr && q->height != height) NoteMovedEdge(*edges, *q, below);
  }
}

void MaskRegion::GrowSlivers(std::int32_t minimum) {
  if (failed_) return;
  grown_ = true;
  const Wide grow = minimum;
  // Low pieces at the top or bottom page edge grow off the page. Their cells
  // stay the same: what they gain lies beyond the page.
  for (MaskPiece* p = head_->next; p != nullptr; p = p->next) {
    if (p->height >= minimum) continue;
    if (p->y == 0) {
      Grow(p->y, p->height, -grow, p->height + grow);
    } else if (BottomOf(*p) == pageHeight_) {
      Grow(p->y, p->height, p->y, p->height + grow);
    }
  }
  // Low pieces grow into the first piece directly below or above them that
  // spans all of their columns, which is already covered. They are found by
  // the exact values of the pieces' edges; the grid, made for carving, is
  // done with (with few pieces, or without the memory for the index, each
  // low piece walks the list; a region told to use its grid from the start
  // uses the index whatever its size).
  ReleaseGrid(grid_);
  EdgeIndex edges{};
  const bool indexed =
      (pieceCount_ >= kEdgeIndexFrom || gridFromPieces_ == 0) &&
      BuildEdgeIndex(edges, head_->next, pieceCount_, PageHasArea() && !sawNegativeFrame_,
                     gridFromPieces_ == 0 ? 0 : kLongChain);
  GrowIntoNeighbours(minimum, indexed ? &edges : nullptr);
  ReleaseEdgeIndex(edges);
  // Narrow pieces at the left or right page edge grow off the page.
  for (MaskPiece* p = head_->next; p != nullptr; p = p->next) {
    if (p->width >= minimum) continue;
    if (p->x == 0) {
      Grow(p->x, p->width, -grow, p->width + grow);
    } else if (RightOf(*p) == pageWidth_) {
      Grow(p->x, p->width, p->x, p->width + grow);
    }
  }
  AuditStep(std::uint64_t{pieceCount_} + kAuditEveryStepUpTo);
}

bool MaskRegion::GridPays() const {
  if (gridFromPieces_ != kGridWhenItPays) return pieceCount_ >= gridFromPieces_;
  // Building a grid costs about as much as walking the list this many times:
  // the list is walked until it has cost that much, then the grid is built.
  constexpr std::uint64_t kWalksPerBuild = 16;
  return pieceCount_ >= kGridFromPieces && walkWaste_ >= kWalksPerBuild * pieceCount_;
}

void MaskRegion::FitGrid() {
  if (!PageHasArea()) return;
  if (grid_.live) {
    const std::uint32_t fewest =
        gridFromPieces_ == kGridWhenItPays ? kGridFromPieces : gridFromPieces_;
    if (pieceCount_ < fewest / 2) {
      ReleaseGrid(grid_);
      walkWaste_ = 0;
      return;
    }
    // A grid is built afresh for four times the pieces it was built for,
    // when lookups waste more than building it would cost (the pieces crowd
    // where it has few cells), or to give back the memory of a region that
    // has lost most of its pieces.
    const bool outgrown = pieceCount_ / 4 > grid_.builtFor;
    const bool shrunk = pieceCount_ < grid_.builtFor / 4;
    if (!outgrown && !shrunk && !GridWorn(grid_, pieceCount_)) return;
    ReleaseGrid(grid_);
  } else if (!GridPays()) {
    return;
  }
  if (pieceCount_ == 0 || pieceCount_ < gridRetryFrom_) return;
  if (!BuildGrid(grid_, pageWidth_, pageHeight_, head_->next, pieceCount_)) GiveUpGrid();
}

void MaskRegion::GiveUpGrid() {
  ReleaseGrid(grid_);
  gridRetryFrom_ = 2 * std::uint64_t{pieceCount_};
}

void MaskRegion::AuditStep(std::uint64_t changed) {
#ifdef VELUMO_REGION_CHECKS
  // A full check costs O(n log n): large regions are checked once as many
  // pieces have changed as they hold, which keeps the checks' share of the
  // time bounded.
  changedSinceAudit_ += changed;
  if (changed == 0 || (pieceCount_ > kAuditEveryStepUpTo && changedSinceAudit_ < pieceCount_)) {
    return;
  }
  changedSinceAudit_ = 0;
  const char* fault = Check(ScratchMemory{PlainAllocate, PlainRelease});
  if (fault != nullptr && fault != kLayoutWithoutMemory) {
    std::fprintf(stderr, "mask region: %s\n", fault);
    std::abort();
  }
#else
  static_cast<void>(changed);
  static_cast<void>(changedSinceAudit_);
#endif
}

}  // namespace masking
