#include "masking/mask_region.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "masking/memory.h"
#include "masking/piece_grid.h"

// Every value that a split stores lies between edges of the piece being
// split, so it fits in 32 bits again.
namespace masking {
namespace {

bool FitsIn32(Wide value) {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

std::int32_t Narrow(Wide value) { return static_cast<std::int32_t>(value); }

MaskPiece* NewPiece(Wide x, Wide y, Wide width, Wide height) {
  void* block = AllocateBlock(sizeof(MaskPiece));
  if (block == nullptr) return nullptr;
  return new (block)
      MaskPiece{nullptr, nullptr, Narrow(x), Narrow(y), Narrow(width), Narrow(height), 0, 0};
}

void FreePiece(MaskPiece* piece) { ReleaseBlock(piece); }

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
struct Split {
  MaskPiece* made[4];
  int count;
};

// Allocates every piece of the split before touching the list, so that a
// shortage changes nothing.
bool MakeSplit(const MaskPiece& p, const FrameEdges& f, Split& split) {
  struct Rect {
    Wide x, y, width, height;
  } rects[4];
  int count = 0;
  Wide y = p.y;
  Wide height = p.height;
  if (y < f.top) {
    rects[count++] = {p.x, y, p.width, f.top - y};
    height = y + height - f.top;
    y = f.top;
  }
  if (y + height > f.bottom) {
    rects[count++] = {p.x, f.bottom, p.width, y + height - f.bottom};
    height = f.bottom - y;
  }
  if (p.x < f.left && height > 0) {
    rects[count++] = {p.x, y, f.left - p.x, height};
  }
  if (RightOf(p) > f.right && height > 0) {
    rects[count++] = {f.right, y, RightOf(p) - f.right, height};
  }
  for (int i = 0; i < count; ++i) {
    split.made[i] = NewPiece(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    if (split.made[i] == nullptr) {
      for (int j = 0; j < i; ++j) FreePiece(split.made[j]);
      return false;
    }
  }
  split.count = count;
  return true;
}

// Moves a split piece's listings to the pieces made from it. The one covering
// the most cells keeps its slot, so that a large piece losing a strip costs
// only the cells of that strip; the others are listed afresh.
void ListSplit(PieceGrid& grid, const MaskPiece& piece, const Split& split) {
  if (split.count == 0) {
    RemoveFromGrid(grid, piece);
    return;
  }
  int heir = 0;
  std::uint64_t most = 0;
  for (int i = 0; i < split.count; ++i) {
    const std::uint64_t cells = CellCount(CellsOf(grid, *split.made[i]));
    if (cells > most) {
      most = cells;
      heir = i;
    }
  }
  HandOverSlot(grid, piece, *split.made[heir]);
  for (int i = 0; i < split.count; ++i) {
    if (i != heir) AddToGrid(grid, *split.made[i]);
  }
}

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

}  // namespace

MaskRegion* MaskRegion::Create(std::int32_t pageWidth, std::int32_t pageHeight,
                               std::uint32_t gridFromPieces) {
  void* block = AllocateBlock(sizeof(MaskRegion));
  if (block == nullptr) return nullptr;
  MaskPiece* sentinel = NewPiece(0, 0, 0, 0);
  if (sentinel == nullptr) {
    ReleaseBlock(block);
    return nullptr;
  }
  MaskPiece* page = NewPiece(0, 0, pageWidth, pageHeight);
  if (page == nullptr) {
    FreePiece(sentinel);
    ReleaseBlock(block);
    return nullptr;
  }
  MaskRegion* region = new (block) MaskRegion();
  region->head_ = sentinel;
  region->pageWidth_ = pageWidth;
  region->pageHeight_ = pageHeight;
  region->gridFromPieces_ = gridFromPieces;
  region->PushFront(page);
  return region;
}

void MaskRegion::Destroy(MaskRegion* region) {
  if (region == nullptr) return;
  MaskPiece* node = region->head_;
  while (node != nullptr) {
    MaskPiece* next = node->next;
    FreePiece(node);
    node = next;
  }
  ReleaseGrid(region->grid_);
  ReleaseBlock(region);
}

void MaskRegion::PushFront(MaskPiece* piece) {
  if (head_->next != nullptr) head_->next->prev = piece;
  piece->next = head_->next;
  piece->prev = head_;
  head_->next = piece;
  piece->stamp = ++lastStamp_;
  ++pieceCount_;
}

void MaskRegion::Unlink(MaskPiece* piece) {
  if (piece->prev != nullptr) piece->prev->next = piece->next;
  if (piece->next != nullptr) piece->next->prev = piece->prev;
  --pieceCount_;
}

inline void MaskRegion::Remove(MaskPiece& piece) {
  if (grid_.live) RemoveFromGrid(grid_, piece);
  Unlink(&piece);
  FreePiece(&piece);
}

inline bool MaskRegion::SplitAround(MaskPiece& piece, const FrameEdges& frame) {
  Split split{};
  if (!MakeSplit(piece, frame, split)) return false;
  for (int i = 0; i < split.count; ++i) PushFront(split.made[i]);
  if (grid_.live) ListSplit(grid_, piece, split);
  Unlink(&piece);
  FreePiece(&piece);
  return true;
}

inline bool MaskRegion::ExcludeByWalk(const FrameEdges& frame) {
  // Pieces made by this call enter at the front, behind the ones already
  // visited, so remembering the next piece before handling the current one
  // visits exactly the pieces that were there when the call began.
  MaskPiece* piece = head_->next;
  while (piece != nullptr) {
    MaskPiece* following = piece->next;
    if (WhollyInside(*piece, frame)) {
      Remove(*piece);
    } else if (!Apart(*piece, frame) && !SplitAround(*piece, frame)) {
      return false;
    }
    piece = following;
  }
  return true;
}

bool MaskRegion::ExcludeByGrid(const FrameEdges& frame) {
  // The walk carves the pieces that are wholly inside the frame or not apart
  // from it. With pieces of positive size those are the ones overlapping the
  // frame grown by one unit up and left, since a piece ending on the frame's
  // top or left edge is not apart. Carving them in list order, front first,
  // does to each exactly what the walk does.
  const std::uint32_t count =
      CollectOverlapping(grid_, frame.left - 1, frame.top - 1, frame.right, frame.bottom);
  if (grid_.broken) {
    GiveUpGrid();
    return ExcludeByWalk(frame);
  }
  MaskPiece** touched = grid_.found;
  std::sort(touched, touched + count, NearerTheFront);
  bool carved = true;
  for (std::uint32_t i = 0; i < count && carved; ++i) {
    MaskPiece& piece = *touched[i];
    if (WhollyInside(piece, frame)) {
      Remove(piece);
    } else {
      carved = SplitAround(piece, frame);
    }
  }
  // The list is whole whatever happened to the grid's lists on the way.
  if (grid_.broken) GiveUpGrid();
  return carved;
}

bool MaskRegion::Exclude(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
  const FrameEdges frame{x, y, Wide{x} + width, Wide{y} + height};
  // Most pages have few pieces and ordinary frames: they only walk the list.
  if (width <= 0 || height <= 0 || grid_.live || pieceCount_ >= gridFromPieces_) {
    if (width < 0 || height < 0) {
      // Such a frame can make pieces of no area, which no cell can hold.
      sawNegativeFrame_ = true;
      ReleaseGrid(grid_);
    } else if (width == 0 || height == 0) {
      sawEmptyFrame_ = true;
    }
    FitGrid();
    if (grid_.live) return ExcludeByGrid(frame);
  }
  return ExcludeByWalk(frame);
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
  // A piece below `low` spanning its columns contains the point (x, bottom)
  // of `low`, one above contains (x, y - 1); of those that qualify, the first
  // in list order is the one with the largest stamp.
  const Wide points[2][2] = {{low.x, BottomOf(low)}, {low.x, Wide{low.y} - 1}};
  const MaskPiece* first = nullptr;
  for (const auto& point : points) {
    for (std::uint32_t e = FirstEntryAt(grid_, point[0], point[1]); e != kNoEntry;
         e = grid_.entries[e].next) {
      const MaskPiece* s = EntryPiece(grid_, e);
      if ((first == nullptr || s->stamp > first->stamp) &&
          (LiesBelow(*s, low) || LiesAbove(*s, low))) {
        first = s;
      }
    }
  }
  if (first != nullptr) below = LiesBelow(*first, low);
  return first;
}

void MaskRegion::GrowIntoNeighbours(std::int32_t minimum) {
  for (MaskPiece* q = head_->next; q != nullptr; q = q->next) {
    if (q->height >= minimum) continue;
    bool below = false;
    const MaskPiece* s = grid_.live ? NeighbourByGrid(*q, below) : NeighbourByWalk(*q, below);
    if (s == nullptr) continue;
    const CellRange before = grid_.live ? CellsOf(grid_, *q) : CellRange{};
    if (below) {
      Grow(q->y, q->height, q->y, Wide{q->height} + s->height);
    } else {
      Grow(q->y, q->height, Wide{q->y} - s->height, Wide{q->height} + s->height);
    }
    if (grid_.live) {
      AddGrowth(grid_, *q, before);
      if (grid_.broken) GiveUpGrid();
    }
  }
}

void MaskRegion::GrowSlivers(std::int32_t minimum) {
  grown_ = true;
  FitGrid();
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
  // spans all of their columns, which is already covered.
  GrowIntoNeighbours(minimum);
  // Narrow pieces at the left or right page edge grow off the page.
  for (MaskPiece* p = head_->next; p != nullptr; p = p->next) {
    if (p->width >= minimum) continue;
    if (p->x == 0) {
      Grow(p->x, p->width, -grow, p->width + grow);
    } else if (RightOf(*p) == pageWidth_) {
      Grow(p->x, p->width, p->x, p->width + grow);
    }
  }
}

void MaskRegion::FitGrid() {
  if (!grid_.live && pieceCount_ < gridFromPieces_) return;
  if (grid_.live) {
    const bool fewPieces = pieceCount_ < gridFromPieces_ / 4;
    const bool cellsTooLarge = pieceCount_ / 4 > grid_.builtFor;
    const bool cellsTooSmall = pieceCount_ < grid_.builtFor / 8;
    if (!fewPieces && !cellsTooLarge && !cellsTooSmall) return;
    ReleaseGrid(grid_);
    if (fewPieces) return;
  }
  if (pageWidth_ <= 0 || pageHeight_ <= 0 || sawNegativeFrame_) return;
  if (pieceCount_ < gridFromPieces_ || pieceCount_ < gridRetryFrom_) return;
  if (!BuildGrid(grid_, pageWidth_, pageHeight_, head_->next, pieceCount_)) GiveUpGrid();
}

void MaskRegion::GiveUpGrid() {
  ReleaseGrid(grid_);
  gridRetryFrom_ = 2 * std::uint64_t{pieceCount_};
}

bool MaskRegion::InvariantApplies() const {
  return pageWidth_ > 0 && pageHeight_ > 0 && !sawNegativeFrame_ && !grown_;
}

}  // namespace masking
