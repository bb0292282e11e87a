// The region's self-check, for the tests, the fuzz targets and the checked
// builds.
#include <cstdint>

#include "masking/layout_check.h"
#include "masking/mask_region.h"
#include "masking/piece_grid.h"

namespace masking {

const char* MaskRegion::SelfCheck() const { return Check(kBlockMemory); }

const char* MaskRegion::Check(const ScratchMemory& memory) const {
  const MaskPiece& sentinel = *head_;
  if (sentinel.prev != nullptr || sentinel.x != 0 || sentinel.y != 0 || sentinel.width != 0 ||
      sentinel.height != 0) {
    return "the sentinel has changed";
  }
  std::uint64_t count = 0;
  for (const MaskPiece* p = head_; p->next != nullptr; p = p->next) {
    if (p->next->prev != p) return "a piece's prev link does not name the piece before it";
    const bool stampInOrder = p == head_ ? p->next->stamp <= lastStamp_ : p->next->stamp < p->stamp;
    if (!stampInOrder) return "the stamps do not fall from the front of the list to its back";
    // Also ends the walk of a list that runs in a circle.
    if (++count > pieceCount_) return "the list holds more pieces than the region counts";
  }
  if (count != pieceCount_) return "the list holds fewer pieces than the region counts";
  if (!grid_.live && (grid_.layout != nullptr || grid_.entries != nullptr ||
                      grid_.bounds != nullptr || grid_.found != nullptr)) {
    return "a grid that is not live holds memory";
  }
  if (grown_ && grid_.live) return "a grid outlives growth, which left its cells behind";
  if (!PageHasArea() || grown_) return nullptr;
  for (const MaskPiece* p = head_->next; p != nullptr; p = p->next) {
    if (p->width <= 0 || p->height <= 0) return "a piece has no area";
    if (p->x < 0 || p->y < 0 || RightOf(*p) > pageWidth_ || BottomOf(*p) > pageHeight_) {
      return "a piece lies off the page";
    }
  }
  if (grid_.broken) return "the grid is broken";
  if (grid_.live) {
    if (const char* fault = GridFault(grid_, head_->next, pieceCount_, listedUpTo_)) return fault;
  }
  if (!LayoutApplies()) return nullptr;
  return LayoutFault(head_->next, pieceCount_, sawEmptyFrame_, memory);
}

}  // namespace masking
