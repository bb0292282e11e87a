#include "masking/mask_region.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "masking/edge_index.h"
#include "masking/edge_values.h"
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
// the frame's bottom or right edge is. The four tests are taken together,
// without a branch each: which of them holds is as hard to foresee as where
// a page's frames lie, and a wrong guess costs more than all four.
bool Apart(const MaskPiece& p, const FrameEdges& f) {
  return (Bit(p.y >= f.bottom) | Bit(BottomOf(p) < f.top) | Bit(p.x >= f.right) |
          Bit(RightOf(p) < f.left)) != 0;
}

// Whether carving the frame changes the piece: it is wholly inside the frame
// or not apart from it. A piece of positive size wholly inside is not apart.
bool Touched(const MaskPiece& p, const FrameEdges& f) { return !Apart(p, f) || WhollyInside(p, f); }
bool TouchedWithArea(const MaskPiece& p, const FrameEdges& f) { return !Apart(p, f); }

Split SplitOf(const MaskPiece& p, const FrameEdges& f) {
  Split split{};
  split.left = p.x;
  split.top = p.y;
  split.right = RightOf(p);
  split.bottom = BottomOf(p);
  split.hasTop = split.top < f.top;
  split.hasBottom = split.bottom > f.bottom;
  split.bandTop = split.hasTop ? f.top : split.top;
  split.bandBottom = split.hasBottom ? f.bottom : split.bottom;
  const bool band = split.bandBottom > split.bandTop;
  split.hasLeft = band && split.left < f.left;
  split.hasRight = band && split.right > f.right;
  return split;
}

// Where one part of a split goes, and whether it is made at all.
struct PartPlace {
  bool made;
  Wide x, y, width, height;
};
constexpr int kParts = 4;

// The highest stamp a piece can have.
constexpr auto kLastStamp = std::numeric_limits<decltype(MaskPiece::stamp)>::max();

bool SameCells(const CellRange& a, const CellRange& b) {
  return a.firstColumn == b.firstColumn && a.lastColumn == b.lastColumn &&
         a.firstRow == b.firstRow && a.lastRow == b.lastRow;
}

FrameCells CellsAround(const PieceGrid& grid, const FrameEdges& f) {
  const std::uint32_t left = SpanOf(grid.columns, f.left - 1);
  const std::uint32_t right = SpanOf(grid.columns, f.right - 1);
  const std::uint32_t above = SpanOf(grid.rows, f.top - 1);
  const std::uint32_t inside = SpanOf(grid.rows, f.bottom - 1);
  const auto narrow = [](std::uint32_t span) { return static_cast<std::uint16_t>(span); };
  return FrameCells{narrow(left),
                    narrow(right),
                    narrow(SpanAfter(grid.columns, right, f.right - 1)),
                    narrow(above),
                    narrow(SpanAfter(grid.rows, above, f.top - 1)),
                    narrow(inside),
                    narrow(SpanAfter(grid.rows, inside, f.bottom - 1))};
}

// Applies a growth only when its result still fits in 32 bits.
void Grow(std::int32_t& position, std::int32_t& extent, Wide newPosition, Wide newExtent) {
  if (!FitsIn32(newPosition) || !FitsIn32(newExtent)) return;
  position = Narrow(newPosition);
  extent = Narrow(newExtent);
}

// Grows a low piece into its neighbour below (or above) it; whether it
// grew.
bool GrowInto(MaskPiece& low, const MaskPiece& neighbour, bool below) {
  const Wide height = low.height;
  if (below) {
    Grow(low.y, low.height, low.y, height + neighbour.height);
  } else {
    Grow(low.y, low.height, Wide{low.y} - neighbour.height, height + neighbour.height);
  }
  return low.height != height;
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

// Whether the pieces stand in list order, front first, or in the reverse
// order, which reversing puts right. A frame across a row of pieces made by
// the frame before it often finds them so.
bool InListOrderOrReversed(MaskPiece** pieces, std::uint32_t count) {
  bool descending = true;
  bool ascending = true;
  for (std::uint32_t i = 1; i < count && (descending || ascending); ++i) {
    if (pieces[i - 1]->stamp < pieces[i]->stamp) descending = false;
    if (pieces[i - 1]->stamp > pieces[i]->stamp) ascending = false;
  }
  if (ascending && !descending) std::reverse(pieces, pieces + count);
  return descending || ascending;
}

// What carving a piece through the grid costs beyond carving it in a walk
// (finding it and listing its parts), in steps of a walk.
constexpr std::uint64_t kGridStepsPerCarve = 8;

// How many recent pieces a frame walks before it lists the rest in the grid:
// this many for each piece the frame before it carved, and at least
// kFewestRecent. The pieces a frame carves make at most four each, which
// enter at the front; the next frame then carves most often among those.
constexpr std::uint32_t kRecentPerCarve = 1;
constexpr std::uint32_t kFewestRecent = 4;

// Growth finds low pieces' neighbours through an index of the pieces' edges
// once this many low pieces would each walk the list; in a region of more
// pieces than the index is for, through a grid, built for the purpose if
// need be, once kLowPiecesForGrid would.
constexpr std::uint32_t kLowPiecesForIndex = 16;
constexpr std::uint32_t kLowPiecesForGrid = 48;

// The fewest pieces for which a grid's added listings keep their bounds. In
// a grid for fewer a lookup steps over few listings, and keeping the bounds
// cost more than it saved (100 small frames, 400 pieces: 2%).
constexpr std::uint32_t kBoundsFromPieces = 256;

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
                               std::uint32_t gridFromPieces, std::uint32_t indexUpTo) {
  void* block = AllocateBlock(sizeof(MaskRegion));
  if (block == nullptr) return nullptr;
  // Default-initialised, not value-initialised: the region's own pieces
  // stay as they come (see kOwnPieces).
  MaskRegion* region = new (block) MaskRegion;
  region->head_ = &region->sentinel_;
  region->pool_ = PoolWith(region->ownPieces_, kOwnPieces);
  region->pageWidth_ = pageWidth;
  region->pageHeight_ = pageHeight;
  region->gridFromPieces_ = gridFromPieces;
  region->indexUpTo_ = indexUpTo;
  // The region's own pieces cannot run out on the first.
  MaskPiece* page = TakePiece(region->pool_);
  *page = MaskPiece{nullptr, nullptr, 0, 0, pageWidth, pageHeight, 0, {}, false};
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

inline void MaskRegion::MoveToFront(MaskPiece& piece) {
  // It leaves the list and enters it anew, in front, in one step; a piece
  // already in front only enters anew.
  piece.stamp = ++lastStamp_;
  changedInStep_ += 2;
  MaskPiece* const first = head_->next;
  if (first == &piece) return;
  // A piece behind the first has a predecessor.
  piece.prev->next = piece.next;
  if (piece.next != nullptr) piece.next->prev = piece.prev;
  first->prev = &piece;
  piece.next = first;
  piece.prev = head_;
  head_->next = &piece;
}

inline void MaskRegion::Remove(MaskPiece& piece) {
  if (grid_.live && piece.listed) RemoveFromGrid(grid_, piece);
  Unlink(&piece);
  GiveBack(pool_, &piece);
}

inline bool MaskRegion::Carve(MaskPiece& piece, const FrameEdges& frame, const FrameCells* at) {
  const Split split = SplitOf(piece, frame);
  const int parts = split.hasTop + split.hasBottom + split.hasLeft + split.hasRight;
  if (parts == 0) {
    // Nothing of it lies outside the frame: it is wholly inside, or (on a
    // page without area) a piece without area.
    Remove(piece);
    return true;
  }
  if (parts == 2 && split.hasTop == split.hasBottom) return SplitAcross(piece, frame, at);
  if (parts > 1) return SplitInParts(piece, frame, at);
  // The one part left is the piece itself, smaller or (when it only touches
  // the frame) the same: it moves to the front in its own node. One edge of
  // its cells changes, in place: a range built apart and stored whole made
  // the store wait for the edge just written into it (on a staircase of
  // frames, which shrink a hundred pieces each, 5% of the time).
  const CellRange was = at != nullptr ? piece.cells : CellRange{};
  if (split.hasTop) {
    piece.height = Narrow(frame.top - split.top);
    if (at != nullptr) piece.cells.lastRow = at->lastRowAbove;
  } else if (split.hasBottom) {
    piece.y = Narrow(frame.bottom);
    piece.height = Narrow(split.bottom - frame.bottom);
    if (at != nullptr) piece.cells.firstRow = at->firstRowBelow;
  } else {
    piece.y = Narrow(split.bandTop);
    piece.height = Narrow(split.bandBottom - split.bandTop);
    if (split.hasLeft) {
      piece.width = Narrow(frame.left - split.left);
      if (at != nullptr) piece.cells.lastColumn = at->lastColumnLeft;
    } else {
      piece.x = Narrow(frame.right);
      piece.width = Narrow(split.right - frame.right);
      if (at != nullptr) piece.cells.firstColumn = at->firstColumnRight;
    }
  }
  MoveToFront(piece);
  // Without a grid a piece's cells mean nothing.
  if (at == nullptr) return true;
  if (piece.listed && !SameCells(was, piece.cells)) ShrinkInGrid(grid_, piece, was);
  return true;
}

bool MaskRegion::SplitAcross(MaskPiece& piece, const FrameEdges& frame, const FrameCells* at) {
  const Split split = SplitOf(piece, frame);
  // As SplitInParts does it, for the two parts of a frame across the whole
  // piece: above and below it, or left and right of it. The first enters the
  // list first; the larger (the first of equals) keeps the piece's node.
  MaskPiece* other = TakePiece(pool_);
  if (other == nullptr) return false;
  const bool down = split.hasTop;
  // Without a grid a piece's cells and listing mean nothing, and may be
  // unset.
  const CellRange own = at != nullptr ? piece.cells : CellRange{};
  const bool listed = at != nullptr && piece.listed;
  CellRange firstCells = own;
  CellRange secondCells = own;
  Wide firstExtent = 0;
  Wide secondExtent = 0;
  if (down) {
    firstExtent = frame.top - split.top;
    secondExtent = split.bottom - frame.bottom;
    if (at != nullptr) {
      firstCells.lastRow = at->lastRowAbove;
      secondCells.firstRow = at->firstRowBelow;
    }
  } else {
    firstExtent = frame.left - split.left;
    secondExtent = split.right - frame.right;
    if (at != nullptr) {
      firstCells.lastColumn = at->lastColumnLeft;
      secondCells.firstColumn = at->firstColumnRight;
    }
  }
  // Both lie within the piece: their areas fit.
  const Wide shared = down ? split.right - split.left : split.bottom - split.top;
  const bool heirFirst = !(secondExtent * shared > firstExtent * shared);
  MaskPiece* first = heirFirst ? &piece : other;
  MaskPiece* second = heirFirst ? other : &piece;
  Unlink(&piece);
  const auto place = [](MaskPiece& part, Wide x, Wide y, Wide width, Wide height) {
    part.x = Narrow(x);
    part.y = Narrow(y);
    part.width = Narrow(width);
    part.height = Narrow(height);
  };
  if (down) {
    place(*first, split.left, split.top, shared, firstExtent);
    place(*second, split.left, frame.bottom, shared, secondExtent);
  } else {
    place(*first, split.left, split.top, firstExtent, shared);
    place(*second, frame.right, split.top, secondExtent, shared);
  }
  if (at != nullptr) {
    other->cells = heirFirst ? secondCells : firstCells;
    other->listed = false;
  }
  PushFront(first);
  PushFront(second);
  if (at != nullptr) {
    piece.cells = heirFirst ? firstCells : secondCells;
    if (listed && !SameCells(own, piece.cells)) ShrinkInGrid(grid_, piece, own);
  }
  return true;
}

bool MaskRegion::SplitInParts(MaskPiece& piece, const FrameEdges& frame, const FrameCells* at) {
  const Split split = SplitOf(piece, frame);
  // The parts in the order in which they enter the list: top, bottom, left,
  // right.
  const Wide width = split.right - split.left;
  const Wide band = split.bandBottom - split.bandTop;
  const PartPlace places[kParts] = {
      {split.hasTop, split.left, split.top, width, frame.top - split.top},
      {split.hasBottom, split.left, frame.bottom, width, split.bottom - frame.bottom},
      {split.hasLeft, split.left, split.bandTop, frame.left - split.left, band},
      {split.hasRight, frame.right, split.bandTop, split.right - frame.right, band}};
  // The largest part (the first of equals) takes over the split piece's node
  // and its listings in the grid, so that a large piece losing a strip costs
  // only the cells of that strip.
  int heir = -1;
  Wide largest = 0;
  for (int i = 0; i < kParts; ++i) {
    if (!places[i].made) continue;
    // A part made lies within the piece: its area fits.
    const Wide area = places[i].width * places[i].height;
    if (heir < 0 || area > largest) {
      heir = i;
      largest = area;
    }
  }
  // The other parts' nodes are taken from the pool, in order, before the
  // list is touched, so that a shortage changes nothing; after the first
  // refusal nothing more is asked for.
  MaskPiece* nodes[kParts] = {};
  for (int i = 0; i < kParts; ++i) {
    if (!places[i].made) continue;
    nodes[i] = i == heir ? &piece : TakePiece(pool_);
    if (nodes[i] != nullptr) continue;
    for (int j = 0; j < i; ++j) {
      if (nodes[j] != nullptr && nodes[j] != &piece) GiveBack(pool_, nodes[j]);
    }
    return false;
  }
  // With a grid, the parts' cells: those of the piece cut at the frame's
  // rows and columns.
  CellRange cells[kParts] = {};
  if (at != nullptr) {
    const CellRange own = piece.cells;
    CellRange bandCells = own;
    if (split.hasTop) bandCells.firstRow = at->firstRowInside;
    if (split.hasBottom) bandCells.lastRow = at->lastRowInside;
    cells[0] = own;
    cells[0].lastRow = at->lastRowAbove;
    cells[1] = own;
    cells[1].firstRow = at->firstRowBelow;
    cells[2] = bandCells;
    cells[2].lastColumn = at->lastColumnLeft;
    cells[3] = bandCells;
    cells[3].firstColumn = at->firstColumnRight;
  }
  Unlink(&piece);
  for (int i = 0; i < kParts; ++i) {
    MaskPiece* part = nodes[i];
    if (part == nullptr) continue;
    part->x = Narrow(places[i].x);
    part->y = Narrow(places[i].y);
    part->width = Narrow(places[i].width);
    part->height = Narrow(places[i].height);
    if (at != nullptr && part != &piece) {
      part->cells = cells[i];
      part->listed = false;
    }
    PushFront(part);
  }
  // The heir of a listed piece stays listed in the cells it still covers;
  // the other parts are new, and are not.
  if (at != nullptr) {
    const CellRange was = piece.cells;
    piece.cells = cells[heir];
    if (piece.listed && !SameCells(was, piece.cells)) ShrinkInGrid(grid_, piece, was);
  }
  return true;
}

inline bool MaskRegion::ExcludeByWalk(const FrameEdges& frame) {
  // Pieces made by this call enter at the front, behind the ones already
  // visited, so remembering the next piece before handling the current one
  // visits exactly the pieces that were there when the call began.
  MaskPiece* piece = head_->next;
  std::uint64_t visited = 0;
  std::uint64_t carved = 0;
  // On a page with area every piece has area, and one wholly inside the
  // frame is not apart from it.
  const bool withArea = PageHasArea();
  while (piece != nullptr) {
    MaskPiece* following = piece->next;
    ++visited;
    if (withArea ? TouchedWithArea(*piece, frame) : Touched(*piece, frame)) {
      if (!Carve(*piece, frame, nullptr)) return false;
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

bool MaskRegion::ExcludeAlongList(const FrameEdges& frame, const FrameCells& at) {
  // As ExcludeByWalk, keeping the grid's lists in step; no memory is needed.
  for (MaskPiece* piece = head_->next; piece != nullptr;) {
    MaskPiece* following = piece->next;
    if (TouchedWithArea(*piece, frame) && !Carve(*piece, frame, &at)) return false;
    piece = following;
  }
  return true;
}

bool MaskRegion::ExcludeByGrid(const FrameEdges& frame) {
  // The walk carves the pieces that are wholly inside the frame or not apart
  // from it. A piece not apart overlaps the frame's box grown by one unit up
  // and left (a piece ending on the frame's top or left edge is not apart),
  // with the edges of a frame of negative size taken in order. Carving those
  // pieces in list order, front first, does to each exactly what the walk
  // does.
  //
  // The recent pieces, at the front of the list, are walked: the pieces a
  // frame touches are most often the ones the frames before it made. Those
  // behind them, all listed in the grid, are found through it.
  const Wide left = std::min(frame.left, frame.right) - 1;
  const Wide right = std::max(frame.left, frame.right);
  const Wide top = std::min(frame.top, frame.bottom) - 1;
  const Wide bottom = std::max(frame.top, frame.bottom);
  const FrameCells at = CellsAround(grid_, frame);
  // The cells of the box are those around the frame, but for a frame of
  // negative size, whose edges are taken in order.
  const bool inOrder = frame.left <= frame.right && frame.top <= frame.bottom;
  const CellRange box =
      inOrder ? CellRange{at.lastColumnLeft, at.lastColumnInside, at.lastRowAbove, at.lastRowInside}
              : CellsOfBox(grid_, left, top, right, bottom);
  // A frame over more cells and listings than the region has pieces, as
  // large frames over few pieces are, costs less to carve along the list.
  if (LookupCostsMore(grid_, box, pieceCount_)) return ExcludeAlongList(frame, at);
  const std::uint32_t found = Collect(grid_, box, left, top, right, bottom);
  if (grid_.broken) {
    GiveUpGrid();
    return ExcludeByWalk(frame);
  }
  const std::uint32_t settled = listedUpTo_;
  MaskPiece** touched = grid_.found;
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < found; ++i) {
    // Kept or not without a branch, which would often guess wrong.
    touched[count] = touched[i];
    count += static_cast<std::uint32_t>(touched[i]->stamp <= settled) &
             static_cast<std::uint32_t>(TouchedWithArea(*touched[i], frame));
  }
  // The recent pieces beyond the first recentLimit_ have stayed untouched a
  // while: they are listed, and the walks of later frames stop short of them.
  std::uint32_t carved = 0;
  std::uint32_t walked = 0;
  std::uint32_t listedFrom = 0;
  for (MaskPiece* piece = head_->next; piece != nullptr && piece->stamp > settled;) {
    MaskPiece* following = piece->next;
    if (TouchedWithArea(*piece, frame)) {
      if (!Carve(*piece, frame, &at)) return false;
      ++carved;
    } else if (++walked > recentLimit_) {
      if (!piece->listed) AddToGrid(grid_, *piece);
      if (listedFrom == 0) listedFrom = piece->stamp;
    }
    piece = following;
  }
  if (listedFrom != 0) listedUpTo_ = listedFrom;
  bool done = true;
  if (!InListOrderOrReversed(touched, count)) std::sort(touched, touched + count, NearerTheFront);
  for (std::uint32_t i = 0; i < count && done; ++i) done = Carve(*touched[i], frame, &at);
  carved += count;
  recentLimit_ = std::max(kFewestRecent, kRecentPerCarve * carved);
  // The list is whole whatever happened to the grid's lists on the way.
  if (grid_.broken) GiveUpGrid();
  return done;
}

bool MaskRegion::Exclude(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
  // A region without stamps enough for this frame (many hundreds of
  // millions of pieces) refuses it like a shortage of memory.
  if (failed_ || !RoomForStamps()) {
    failed_ = true;
    return false;
  }
  const FrameEdges frame{x, y, Wide{x} + width, Wide{y} + height};
  if (width < 0 || height < 0) {
    sawNegativeFrame_ = true;
  } else if (width == 0 || height == 0) {
    sawEmptyFrame_ = true;
  }
  const GridFocus box{std::min(frame.left, frame.right), std::min(frame.top, frame.bottom),
                      std::max(frame.left, frame.right), std::max(frame.top, frame.bottom)};
  frameSizes_.widths += static_cast<double>(box.right - box.left);
  frameSizes_.heights += static_cast<double>(box.bottom - box.top);
  if (frames_.left > frames_.right) {
    frames_ = box;
  } else {
    frames_ = GridFocus{std::min(frames_.left, box.left), std::min(frames_.top, box.top),
                        std::max(frames_.right, box.right), std::max(frames_.bottom, box.bottom)};
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

const MaskPiece* MaskRegion::NeighbourByGrid(const MaskPiece& low, bool& below) const {
  // A piece below `low` that spans its columns holds the point just below
  // its bottom left corner, and one above holds the point just above its top
  // left corner: it is listed in the cell of that point. Of those, the first
  // in list order is the one with the largest stamp. The low piece has not
  // grown yet in this pass, so its own cells are exact.
  const Wide left = low.x;
  const Wide right = RightOf(low);
  const Wide top = low.y;
  const Wide bottom = BottomOf(low);
  const std::uint32_t column = low.cells.firstColumn;
  const std::uint32_t rowBelow = SpanAfter(grid_.rows, low.cells.lastRow, bottom - 1);
  const std::uint32_t rowAbove = SpanBefore(grid_.rows, low.cells.firstRow, top);
  const MaskPiece* first = nullptr;
  std::uint32_t firstStamp = 0;
  bool firstBelow = false;
  // Without a branch on what the pieces hold: which of them fits is as hard
  // to foresee as where a page's frames lie. (On a page run again and again
  // the processor learns the branches, and branches look cheaper than they
  // are: the benchmark takes pages drawn alike in turn.)
  const auto search = [&](std::uint32_t row) {
    for (std::uint32_t link = FirstInCell(grid_, column, row); link != kNoEntry;
         link = EntryAt(grid_, link).next) {
      const MaskPiece* s = EntryAt(grid_, link).piece;
      const bool isBelow = s->y == bottom;
      const bool fits =
          (Bit(s->stamp > firstStamp) & Bit(s->x <= left) & Bit(RightOf(*s) >= right) &
           (Bit(isBelow) | Bit(BottomOf(*s) == top))) != 0;
      first = fits ? s : first;
      firstStamp = fits ? s->stamp : firstStamp;
      firstBelow = fits ? isBelow : firstBelow;
    }
  };
  search(rowBelow);
  if (rowAbove != rowBelow) search(rowAbove);
  below = firstBelow;
  return first;
}

const MaskPiece* MaskRegion::NeighbourByIndex(const EdgeIndex& index, const MaskPiece& low,
                                              bool& below) const {
  // A piece below `low` that spans its columns begins at its bottom edge, and
  // one above ends at its top edge. Of those, the first in list order is the
  // one with the largest stamp.
  const Wide left = low.x;
  const Wide right = RightOf(low);
  const MaskPiece* first = nullptr;
  std::uint32_t firstStamp = 0;
  bool firstBelow = false;
  // Without a branch on what the pieces hold, as NeighbourByGrid.
  const auto search = [&](bool isBelow, Wide edge) {
    for (std::uint32_t l = FirstListing(index, !isBelow, edge); l != kNoListing;
         l = index.next[l]) {
      const MaskPiece* s = index.pieces[l];
      const Wide at = isBelow ? Wide{s->y} : BottomOf(*s);
      const bool fits = (Bit(at == edge) & Bit(s->stamp > firstStamp) & Bit(s->x <= left) &
                         Bit(RightOf(*s) >= right)) != 0;
      first = fits ? s : first;
      firstStamp = fits ? s->stamp : firstStamp;
      firstBelow = fits ? isBelow : firstBelow;
    }
  };
  search(true, BottomOf(low));
  search(false, low.y);
  below = firstBelow;
  return first;
}

bool MaskRegion::GrowThroughIndex(std::int32_t minimum, std::uint32_t low) {
  // Each low piece grows at most once, and is then listed again under its
  // new edge, where a later low piece may find it: the index has room for
  // one more listing of each. The walk ends at the last low piece.
  EdgeIndex index{};
  if (!BuildEdgeIndex(index, head_->next, pieceCount_, low)) return false;
  std::uint32_t toGrow = low;
  for (MaskPiece* q = head_->next; q != nullptr && toGrow > 0; q = q->next) {
    if (q->height >= minimum) continue;
    --toGrow;
    bool below = false;
    const MaskPiece* s = NeighbourByIndex(index, *q, below);
    if (s != nullptr && GrowInto(*q, *s, below)) ListEdge(index, below, *q);
  }
  ReleaseEdgeIndex(index);
  return true;
}

void MaskRegion::GrowIntoNeighbours(std::int32_t minimum, std::uint32_t low) {
  // Through the grid, a piece no other piece lies against is passed over at
  // once.
  EdgeValues edges{};
  const bool filtered = grid_.live && NoteEdgeValues(edges, head_->next, pieceCount_);
  // The walk ends at the last low piece: growth changes no other piece's
  // height.
  for (MaskPiece* q = head_->next; q != nullptr && low > 0; q = q->next) {
    if (q->height >= minimum) continue;
    --low;
    if (filtered && grid_.live && !EdgeTaken(edges, false, BottomOf(*q)) &&
        !EdgeTaken(edges, true, q->y)) {
      continue;
    }
    bool below = false;
    const MaskPiece* s = grid_.live ? NeighbourByGrid(*q, below) : NeighbourByWalk(*q, below);
    if (s == nullptr || !GrowInto(*q, *s, below)) continue;
    if (filtered) NoteEdge(edges, below, below ? BottomOf(*q) : Wide{q->y});
    if (!grid_.live) continue;
    // A later low piece may grow into this one: it is listed also in the
    // row of cells of its new bottom or top edge.
    if (below) {
      const std::uint32_t row = SpanOf(grid_.rows, BottomOf(*q) - 1);
      if (row > q->cells.lastRow) ListInRow(grid_, *q, row);
    } else {
      const std::uint32_t row = SpanOf(grid_.rows, q->y);
      if (row < q->cells.firstRow) ListInRow(grid_, *q, row);
    }
    // Without the memory for that, the rest walk the list.
    if (grid_.broken) ReleaseGrid(grid_);
  }
  ReleaseEdgeValues(edges);
}

void MaskRegion::GrowSlivers(std::int32_t minimum) {
  if (failed_) return;
  grown_ = true;
  const Wide grow = minimum;
  // Low pieces at the top or bottom page edge grow off the page. Their cells
  // stay the same: what they gain lies beyond the page.
  std::uint32_t low = 0;
  // Narrow pieces at the left or right page edge, which grow off the page
  // at the end: growth into neighbours changes no piece's columns.
  std::uint32_t narrowAtSide = 0;
  for (MaskPiece* p = head_->next; p != nullptr; p = p->next) {
    narrowAtSide += Bit(p->width < minimum) & (Bit(p->x == 0) | Bit(RightOf(*p) == pageWidth_));
    if (p->height >= minimum) continue;
    if (p->y == 0) {
      Grow(p->y, p->height, -grow, p->height + grow);
    } else if (BottomOf(*p) == pageHeight_) {
      Grow(p->y, p->height, p->y, p->height + grow);
    }
    if (p->height < minimum) ++low;
  }
  // Low pieces grow into the first piece directly below or above them that
  // spans all of their columns, which is already covered. They are found
  // through an index of the pieces' edges or through the grid, built for
  // them when many would otherwise walk the list (or, in a region told when
  // to use its grid, once it holds that many pieces).
  const bool told = gridFromPieces_ != kGridWhenItPays;
  const bool indexWanted = told ? pieceCount_ >= gridFromPieces_ : low >= kLowPiecesForIndex;
  if (low > 0 && indexWanted && pieceCount_ <= indexUpTo_ && PageHasArea()) {
    // Without the memory for the index, they go the grid's way.
    ReleaseGrid(grid_);
    if (GrowThroughIndex(minimum, low)) low = 0;
  }
  const bool gridWanted = told ? pieceCount_ >= gridFromPieces_
                               : low >= kLowPiecesForGrid && pieceCount_ >= kGridFromPieces;
  if (!grid_.live && gridWanted && low > 0 && PageHasArea()) {
    // Without the memory for it, the low pieces walk the list.
    static_cast<void>(BuildGrid(grid_, pageWidth_, pageHeight_,
                                GridFocus{0, 0, pageWidth_, pageHeight_}, FrameSizes{0, 0}, false,
                                head_->next, pieceCount_));
  } else if (grid_.live && low > 0) {
    // Every piece is looked up through the grid: the recent ones are listed
    // too.
    for (MaskPiece* p = head_->next; p != nullptr && p->stamp > listedUpTo_; p = p->next) {
      if (!p->listed) AddToGrid(grid_, *p);
    }
    if (grid_.broken) ReleaseGrid(grid_);
  }
  if (low > 0) GrowIntoNeighbours(minimum, low);
  // The grid no longer lists the grown pieces in every cell they cover. A
  // page of a few frames has had none, and releasing nothing cost it 2%.
  if (grid_.live) ReleaseGrid(grid_);
  // Narrow pieces at the left or right page edge grow off the page; most
  // pages have none, and the walk ends at the last.
  for (MaskPiece* p = head_->next; p != nullptr && narrowAtSide > 0; p = p->next) {
    if (p->width >= minimum) continue;
    if (p->x == 0) {
      Grow(p->x, p->width, -grow, p->width + grow);
      --narrowAtSide;
    } else if (RightOf(*p) == pageWidth_) {
      Grow(p->x, p->width, p->x, p->width + grow);
      --narrowAtSide;
    }
  }
  AuditStep(std::uint64_t{pieceCount_} + kAuditEveryStepUpTo);
}

bool MaskRegion::RoomForStamps() {
  // A frame stamps each piece it finds at most once for each of its parts.
  const std::uint64_t needed = kParts * std::uint64_t{pieceCount_};
  if (kLastStamp - lastStamp_ >= needed) return true;
  // The same order from pieceCount_ at the front down to 1 at the back; the
  // pieces listed in the grid are still those stamped listedUpTo_ or lower.
  const std::uint64_t handedOut = PiecesMade();
  std::uint32_t stamp = pieceCount_;
  std::uint32_t listedUpTo = 0;
  for (MaskPiece* p = head_->next; p != nullptr; p = p->next, --stamp) {
    if (listedUpTo == 0 && p->stamp <= listedUpTo_) listedUpTo = stamp;
    p->stamp = stamp;
  }
  listedUpTo_ = listedUpTo;
  lastStamp_ = pieceCount_;
  stampsBefore_ = handedOut - lastStamp_;
  return kLastStamp - lastStamp_ >= needed;
}

bool MaskRegion::GridPays() const {
  if (gridFromPieces_ != kGridWhenItPays) return pieceCount_ >= gridFromPieces_;
  // Building a grid costs about as much as walking the list this many times:
  // the list is walked until it has cost that much, then the grid is built.
  constexpr std::uint64_t kWalksPerBuild = 16;
  return pieceCount_ >= kGridFromPieces && walkWaste_ >= kWalksPerBuild * pieceCount_;
}

void MaskRegion::FitGrid() {
  // Frames carved after growth, which has taken pieces off the page, walk
  // the list: the grid's listings hold edges on the page.
  if (!PageHasArea() || grown_) return;
  if (grid_.live) {
    const std::uint32_t fewest =
        gridFromPieces_ == kGridWhenItPays ? kGridFromPieces : gridFromPieces_;
    if (pieceCount_ < fewest / 2) {
      ReleaseGrid(grid_);
      walkWaste_ = 0;
      return;
    }
    // A grid is built afresh for eight times the pieces it was built for,
    // when lookups waste more than building it would cost (the pieces crowd
    // where it has few cells), or to give back the memory of a region that
    // has lost most of its pieces.
    const bool outgrown = pieceCount_ / 8 > grid_.builtFor;
    const bool shrunk = pieceCount_ < grid_.builtFor / 4;
    if (!outgrown && !shrunk && !GridWorn(grid_, pieceCount_)) return;
    ReleaseGrid(grid_);
  } else if (!GridPays()) {
    return;
  }
  if (pieceCount_ == 0 || pieceCount_ < gridRetryFrom_) return;
  // The grid holds the edges that suit the frames carved since the last one
  // was built: a page's frames may change their shape as it goes on (a
  // ruled page's rules down the page, then across).
  const FrameSizes frames = frameSizes_;
  frameSizes_ = FrameSizes{0, 0};
  // Added listings keep their bounds in a grid for many pieces (and, for
  // the tests, in a region told when to use its grid).
  const bool keepBounds = pieceCount_ >= kBoundsFromPieces || gridFromPieces_ != kGridWhenItPays;
  if (!BuildGrid(grid_, pageWidth_, pageHeight_, Focus(), frames, keepBounds, head_->next,
                 pieceCount_)) {
    GiveUpGrid();
    return;
  }
  listedUpTo_ = lastStamp_;
  recentLimit_ = kFewestRecent;
}

GridFocus MaskRegion::Focus() const {
  // Frames tend to fall near the frames before them, and to go on the way
  // they went: around the box of the frames so far, as far again on each
  // side.
  if (frames_.left > frames_.right) return GridFocus{0, 0, pageWidth_, pageHeight_};
  const Wide width = frames_.right - frames_.left;
  const Wide height = frames_.bottom - frames_.top;
  return GridFocus{frames_.left - width, frames_.top - height, frames_.right + width,
                   frames_.bottom + height};
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
