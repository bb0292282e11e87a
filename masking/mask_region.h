// The part of one page that is still to be covered by mask annotations, kept
// as a doubly linked list of rectangles behind a sentinel.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"
#include "masking/piece_grid.h"

namespace masking {

// How many pieces a region holds before it looks them up through a grid
// rather than by walking its list. Random A4 pages of 50 to 300 frames were
// timed with either: below about 250 pieces the walk costs less than
// keeping the grid, above it more and more.
constexpr std::uint32_t kGridFromPieces = 256;

// The region of one page. Every node is a separate allocation owned by the
// region. New pieces always enter at the front, directly behind the sentinel;
// the list order decides the order of the page's mask annotations and which
// neighbour a thin piece grows into.
//
// On a page of positive width and height carved only by frames of
// non-negative size, and until GrowSlivers runs: every piece has positive
// width and height and lies on the page, no two pieces overlap, and together
// they cover exactly the page minus the frames. When every frame also had
// positive size, no two pieces sit side by side either (one's right edge on
// the other's left edge, with rows in common): pieces only meet above and
// below. GrowSlivers then enlarges pieces off the page and over each other.
//
// Memory shortage never leaves the list half-linked: Create returns null, and
// an Exclude that cannot get the nodes for splitting a piece leaves that piece
// as it was and returns false. The list is then still whole and well formed,
// but the frame is only partly carved, so the caller gives up on the page.
// The grid only speeds up lookups: when it cannot get memory the region drops
// it and walks its list, with the very same result.
struct MaskRegion {
  // A region holding one piece for the whole page, or null when memory ran
  // out. It uses a grid once it holds `gridFromPieces` pieces.
  [[nodiscard]] static MaskRegion* Create(std::int32_t pageWidth, std::int32_t pageHeight,
                                          std::uint32_t gridFromPieces = kGridFromPieces);
  // Frees the sentinel, every piece in list order, the grid, then the region.
  static void Destroy(MaskRegion* region);

  // Carves the rectangle (x, y, width, height) out of the region: the pieces
  // present when the call begins are visited in list order; each wholly
  // inside the frame is removed, and each other one that is not apart from
  // it is replaced by the pieces around the frame, pushed to the front. A
  // piece ending exactly on the frame's top or left edge is not apart; one
  // starting exactly on its bottom or right edge is. Returns false when
  // memory for new pieces ran out (see above).
  [[nodiscard]] bool Exclude(std::int32_t x, std::int32_t y, std::int32_t width,
                             std::int32_t height);

  // Enlarges pieces lower or narrower than `minimum` without covering more of
  // the page: off the page at its edges, or into a neighbour above or below
  // that spans all of the piece's columns.
  void GrowSlivers(std::int32_t minimum);

  // The first piece, or null when the region is empty.
  const MaskPiece* First() const { return head_->next; }

  // Checks everything the region can know about itself: the links and the
  // sentinel, the stamps, the piece count and the grid, and, while the
  // invariant above applies, the pieces' sizes, that they lie on the page,
  // do not overlap and (frames of positive size only) do not sit side by
  // side. Returns what is wrong, or null. Takes O(n log n) time for n pieces
  // and memory from AllocateBlock; without that memory it reports so.
  const char* SelfCheck() const;

  // Whether lookups currently go through the grid.
  bool UsesGrid() const { return grid_.live; }

 private:
  // Puts a new piece directly behind the sentinel.
  void PushFront(MaskPiece* piece);
  // Takes a piece out of the list; its own links stay as they were and the
  // caller frees it.
  void Unlink(MaskPiece* piece);

  // Takes a piece out of the list and the grid, and frees it.
  void Remove(MaskPiece& piece);
  // Replaces a piece by the pieces of it around the frame; false when memory
  // for them ran out, with the piece left as it was.
  bool SplitAround(MaskPiece& piece, const FrameEdges& frame);
  bool ExcludeByWalk(const FrameEdges& frame);
  bool ExcludeByGrid(const FrameEdges& frame);
  // The first piece in list order directly below or above `low` that spans
  // all of its columns, and whether it lies below.
  const MaskPiece* NeighbourByWalk(const MaskPiece& low, bool& below) const;
  const MaskPiece* NeighbourByGrid(const MaskPiece& low, bool& below) const;
  void GrowIntoNeighbours(std::int32_t minimum);

  // Builds, refines or drops the grid for the current piece count.
  void FitGrid();
  // Drops a grid that ran out of memory; the next is built only once the
  // piece count has doubled.
  void GiveUpGrid();
  // Whether the geometric invariant above applies now.
  bool InvariantApplies() const;

  MaskPiece* head_ = nullptr;  // the sentinel; head_->next is the first piece
  std::int32_t pageWidth_ = 0;
  std::int32_t pageHeight_ = 0;
  std::uint32_t pieceCount_ = 0;
  std::uint64_t lastStamp_ = 0;
  std::uint32_t gridFromPieces_ = 0;
  std::uint64_t gridRetryFrom_ = 0;
  bool sawEmptyFrame_ = false;     // a frame of zero width or height
  bool sawNegativeFrame_ = false;  // a frame of negative width or height
  bool grown_ = false;             // GrowSlivers has run
  PieceGrid grid_{};
};

}  // namespace masking
