#include "masking/mask_region.h"

#include <cstdint>
#include <limits>
#include <new>

#include "masking/memory.h"

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
      MaskPiece{nullptr, nullptr, Narrow(x), Narrow(y), Narrow(width), Narrow(height)};
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

}  // namespace

MaskRegion* MaskRegion::Create(std::int32_t pageWidth, std::int32_t pageHeight) {
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
  ReleaseBlock(region);
}

void MaskRegion::PushFront(MaskPiece* piece) {
  if (head_->next != nullptr) head_->next->prev = piece;
  piece->next = head_->next;
  piece->prev = head_;
  head_->next = piece;
  ++pieceCount_;
}

void MaskRegion::Unlink(MaskPiece* piece) {
  if (piece->prev != nullptr) piece->prev->next = piece->next;
  if (piece->next != nullptr) piece->next->prev = piece->prev;
  --pieceCount_;
}

void MaskRegion::Remove(MaskPiece& piece) {
  Unlink(&piece);
  FreePiece(&piece);
}

bool MaskRegion::SplitAround(MaskPiece& piece, const FrameEdges& frame) {
  Split split{};
  if (!MakeSplit(piece, frame, split)) return false;
  for (int i = 0; i < split.count; ++i) PushFront(split.made[i]);
  Unlink(&piece);
  FreePiece(&piece);
  return true;
}

bool MaskRegion::Exclude(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
  const FrameEdges frame{x, y, Wide{x} + width, Wide{y} + height};
  if (width < 0 || height < 0) {
    sawNegativeFrame_ = true;
  } else if (width == 0 || height == 0) {
    sawEmptyFrame_ = true;
  }
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

void MaskRegion::GrowIntoNeighbours(std::int32_t minimum) {
  for (MaskPiece* q = head_->next; q != nullptr; q = q->next) {
    if (q->height >= minimum) continue;
    bool below = false;
    const MaskPiece* s = NeighbourByWalk(*q, below);
    if (s == nullptr) continue;
    if (below) {
      Grow(q->y, q->height, q->y, Wide{q->height} + s->height);
    } else {
      Grow(q->y, q->height, Wide{q->y} - s->height, Wide{q->height} + s->height);
    }
  }
}

void MaskRegion::GrowSlivers(std::int32_t minimum) {
  grown_ = true;
  const Wide grow = minimum;
  // Low pieces at the top or bottom page edge grow off the page.
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

bool MaskRegion::InvariantApplies() const {
  return pageWidth_ > 0 && pageHeight_ > 0 && !sawNegativeFrame_ && !grown_;
}

}  // namespace masking
