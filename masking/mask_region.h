// The part of one page that is still to be covered by mask annotations, kept
// as a doubly linked list of rectangles behind a sentinel.
#pragma once

#include <cstdint>

#include "masking/edge_index.h"
#include "masking/layout_check.h"
#include "masking/mask_piece.h"
#include "masking/piece_grid.h"
#include "masking/piece_pool.h"

namespace masking {

// The fewest pieces for which a region looks them up through a grid rather
// than by walking its list. Above it, a region walks its list until the
// steps a grid would have saved have cost about as much as building it, and
// then builds it: a page of few frames never pays for a grid, nor does one
// whose frames carve much of the list each (a few hairlines across the
// page), and a page whose frames keep walking a long list for little soon
// does.
constexpr std::uint32_t kGridFromPieces = 32;
// What Create takes for that rule; any other number is a piece count from
// which the grid is used whatever it costs (0: always), for tests.
constexpr std::uint32_t kGridWhenItPays = 0xFFFFFFFFu;

// The most pieces for which growth looks up neighbours through an index of
// the pieces' edges rather than through the grid. The index's buckets are
// spread over memory by their values; in a larger region reading them costs
// more than the grid's cells, which gather neighbouring pieces (measured:
// 20,000 small random frames, 187,000 pieces, took twice as long).
constexpr std::uint32_t kIndexUpTo = 1u << 16;

// The grid rows and columns of a frame's edges, looked up once per frame:
// each piece of a split covers the cells of the split piece cut at these.
struct FrameCells {
  std::uint16_t lastColumnLeft;  // of the column just left of the frame
  std::uint16_t lastColumnInside;
  std::uint16_t firstColumnRight;
  std::uint16_t lastRowAbove;
  std::uint16_t firstRowInside;
  std::uint16_t lastRowInside;
  std::uint16_t firstRowBelow;
};

// How a piece not apart from a frame, and not wholly inside it, falls apart
// around it: a top strip above the frame's top edge and a bottom strip below
// its bottom edge, both of the piece's full width, and in the band between
// (when it has height) a left piece and a right piece beside the frame. They
// enter the list in that order: top, bottom, left, right.
struct Split {
  Wide left, top, right, bottom;  // the piece's edges
  Wide bandTop, bandBottom;       // the band between the strips
  bool hasTop, hasBottom, hasLeft, hasRight;
};

// The region of one page. Its nodes come from a pool of slabs owned by the
// region (masking/piece_pool.h). New pieces always enter at the front,
// directly behind the sentinel; the list order decides the order of the
// page's mask annotations and which neighbour a thin piece grows into.
//
// On a page of positive width and height: every piece has positive width and
// height and lies on the page. Carved only by frames of non-negative size,
// and until GrowSlivers runs, no two pieces overlap either, and together they
// cover exactly the page minus the frames. When every frame also had positive
// size, no two pieces sit side by side (one's right edge on the other's left
// edge, with rows in common): pieces only meet above and below. A frame of
// negative size may leave pieces that overlap. GrowSlivers then enlarges
// pieces off the page and over each other.
//
// Memory shortage never leaves the list half-linked: Create returns null, and
// an Exclude that cannot get the nodes for splitting a piece leaves that piece
// as it was and returns false. The list is then still whole and well formed,
// but the frame is only partly carved: the region is failed from then on, and
// every later Exclude returns false and GrowSlivers does nothing, so that no
// caller can go on as if the page had been carved. The grid only speeds up
// lookups: when it cannot get memory the region drops it and walks its list,
// with the very same result.
//
// Builds that define VELUMO_REGION_CHECKS (the sanitizer and fuzz builds)
// check the whole invariant after each step (for large regions, once enough
// has changed since the last check) and abort with the fault.
// (Its own pieces are left unset on purpose: see ownPieces_.)
struct MaskRegion {  // NOLINT(cppcoreguidelines-pro-type-member-init)
  // A region holding one piece for the whole page, or null when memory ran
  // out. It uses a grid when that pays, or (for tests) once it holds
  // `gridFromPieces` pieces, and then every grid's added listings keep their
  // bounds; growth uses an index of the pieces' edges in a region of up to
  // `indexUpTo` pieces.
  [[nodiscard]] static MaskRegion* Create(std::int32_t pageWidth, std::int32_t pageHeight,
                                          std::uint32_t gridFromPieces = kGridWhenItPays,
                                          std::uint32_t indexUpTo = kIndexUpTo);
  // Frees the pieces, the grid and the region.
  static void Destroy(MaskRegion* region);

  // Carves the rectangle (x, y, width, height) out of the region: the pieces
  // present when the call begins are visited in list order; each wholly
  // inside the frame is removed, and each other one that is not apart from
  // it is replaced by the pieces around the frame, pushed to the front. A
  // piece ending exactly on the frame's top or left edge is not apart; one
  // starting exactly on its bottom or right edge is. Returns false when
  // memory for new pieces ran out, then or before (see above).
  [[nodiscard]] bool Exclude(std::int32_t x, std::int32_t y, std::int32_t width,
                             std::int32_t height);

  // Enlarges pieces lower or narrower than `minimum` without covering more of
  // the page: off the page at its edges, or into a neighbour above or below
  // that spans all of the piece's columns. Does nothing on a failed region.
  void GrowSlivers(std::int32_t minimum);

  // The first piece, or null when the region is empty.
  const MaskPiece* First() const { return head_->next; }

  // Whether an Exclude ran out of memory: the list is whole but only partly
  // carved, and the region refuses all further work.
  bool Failed() const { return failed_; }

  // Checks everything the region can know about itself: the links and the
  // sentinel, the stamps, the piece count and the grid, and on a page of
  // positive size the pieces' sizes and that they lie on the page, and,
  // while carved only by frames of non-negative size and not grown, that they
  // do not overlap and (frames of positive size only) do not sit side by
  // side. Returns what is wrong, or null. Takes O(n log n) time for n pieces
  // and memory from AllocateBlock; without that memory it reports so.
  const char* SelfCheck() const;

  // Whether lookups currently go through the grid.
  bool UsesGrid() const { return grid_.live; }

  // How many pieces the region has made, the page's first one included: the
  // measure of the work its frames asked for.
  std::uint64_t PiecesMade() const { return stampsBefore_ + lastStamp_; }

 private:
  // Tests that damage a region on purpose to see its self-check report it,
  // or bring its stamps near their end.
  friend struct MaskRegionProbe;

  // Puts a new piece directly behind the sentinel.
  void PushFront(MaskPiece* piece);
  // Takes a piece out of the list; its own links stay as they were and the
  // caller frees it.
  void Unlink(MaskPiece* piece);

  // Takes a piece out of the list and puts it back in front.
  void MoveToFront(MaskPiece& piece);
  // Takes a piece out of the list and the grid, and frees it.
  void Remove(MaskPiece& piece);
  // Removes a piece the frame touches, or replaces it by the pieces of it
  // around the frame, the largest of them in the piece's own node, and in
  // the grid when given the frame's cells; false when memory for them ran
  // out, with the piece left as it was.
  bool Carve(MaskPiece& piece, const FrameEdges& frame, const FrameCells* at);
  // Carve for a piece that falls apart in two parts or more. It works out
  // the split again rather than take Carve's: handed over by reference, the
  // split lived in memory for every carve, the many of one part too.
  bool SplitInParts(MaskPiece& piece, const FrameEdges& frame, const FrameCells* at);
  // Carve for a piece that a frame across it leaves in two parts; likewise.
  bool SplitAcross(MaskPiece& piece, const FrameEdges& frame, const FrameCells* at);
  bool ExcludeByWalk(const FrameEdges& frame);
  // Carves like ExcludeByWalk while there is a grid, given the frame's cells.
  bool ExcludeAlongList(const FrameEdges& frame, const FrameCells& at);
  bool ExcludeByGrid(const FrameEdges& frame);
  // The first piece in list order directly below or above `low` that spans
  // all of its columns, and whether it lies below: by walking the list, or
  // through the grid.
  const MaskPiece* NeighbourByWalk(const MaskPiece& low, bool& below) const;
  const MaskPiece* NeighbourByGrid(const MaskPiece& low, bool& below) const;
  const MaskPiece* NeighbourByIndex(const EdgeIndex& index, const MaskPiece& low,
                                    bool& below) const;
  // Pass 2 of growth, for `low` low pieces, through an index of the pieces'
  // edges; false, with nothing done, without the memory for it.
  bool GrowThroughIndex(std::int32_t minimum, std::uint32_t low);
  // Pass 2 of growth for the region's `low` low pieces, through the grid or
  // by walking the list.
  void GrowIntoNeighbours(std::int32_t minimum, std::uint32_t low);

  // Makes sure the next frame finds stamps enough for every piece it may
  // make, numbering the pieces afresh if need be; false when even that
  // leaves too few.
  bool RoomForStamps();
  // Whether a region without a grid should build one now.
  bool GridPays() const;
  // Builds, rebuilds or drops the grid for the current pieces.
  void FitGrid();
  // Where the grid should be fine besides where the pieces crowd.
  GridFocus Focus() const;
  // Drops a grid that ran out of memory; the next is built only once the
  // piece count has doubled.
  void GiveUpGrid();
  // Whether the pieces must lie on the page with positive size, and whether
  // they must not overlap.
  bool PageHasArea() const { return pageWidth_ > 0 && pageHeight_ > 0; }
  bool LayoutApplies() const { return PageHasArea() && !sawNegativeFrame_ && !grown_; }
  const char* Check(const ScratchMemory& memory) const;
  // The check after a step that made or removed `changed` pieces, in builds
  // that ask for it.
  void AuditStep(std::uint64_t changed);

  MaskPiece* head_ = nullptr;  // the sentinel; head_->next is the first piece
  std::int32_t pageWidth_ = 0;
  std::int32_t pageHeight_ = 0;
  std::uint32_t pieceCount_ = 0;
  std::uint32_t lastStamp_ = 0;
  // Stamps handed out before the pieces were last numbered afresh, less
  // those they were numbered with.
  std::uint64_t stampsBefore_ = 0;
  std::uint32_t gridFromPieces_ = 0;
  std::uint32_t indexUpTo_ = 0;
  std::uint64_t gridRetryFrom_ = 0;
  // Steps of walks that a grid would have saved, towards building one.
  std::uint64_t walkWaste_ = 0;
  // While there is a grid: every piece stamped this or lower is listed in
  // it. Those stamped higher, the recent ones at the front of the list, may
  // not be; a frame walks them, and lists those beyond the first
  // recentLimit_ it leaves untouched.
  std::uint32_t listedUpTo_ = 0;
  std::uint32_t recentLimit_ = 0;
  std::uint64_t changedSinceAudit_ = 0;
  std::uint64_t changedInStep_ = 0;
  // The box of the frames carved so far, empty (left beyond right) before
  // the first.
  GridFocus frames_{1, 1, 0, 0};
  // The sizes of the frames carved since the grid was last built: which of
  // its pieces' edges the next grid's listings hold.
  FrameSizes frameSizes_{0, 0};
  bool sawEmptyFrame_ = false;     // a frame of zero width or height
  bool sawNegativeFrame_ = false;  // a frame of negative width or height
  bool grown_ = false;             // GrowSlivers has run
  bool failed_ = false;            // an Exclude ran out of memory
  PieceGrid grid_{};
  PiecePool pool_{};
  MaskPiece sentinel_{};
  // The first pieces live in the region's own block, so that a page of few
  // pieces (a plausible page of 10 frames holds a few dozen at most) costs
  // one request for memory. Like a slab's, they are left as they come: the
  // pool hands out pieces with undefined contents, and clearing these cost
  // such a page 5% of its time.
  static constexpr std::uint32_t kOwnPieces = 64;
  // cppcheck-suppress uninitMemberVarPrivate
  MaskPiece ownPieces_[kOwnPieces];
};

}  // namespace masking
