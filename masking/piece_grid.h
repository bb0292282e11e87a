// A grid of cells over a page that lists, in each cell, the pieces of a
// region overlapping it, so that the region finds the pieces near a frame or
// a point without walking its whole list.
//
// The cells are not even: each axis is cut mostly where the pieces' edges
// crowd (at quantiles of a sample of them) and partly at even steps (so that
// parts of the page without pieces yet are not one huge cell), and the number
// of columns against rows follows the typical piece's shape, so that a page
// of long strips gets cells as long as they are.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"

namespace masking {

// One listing of a piece in a cell: a link of the cell's chain, with two of
// the piece's edges when it was listed, its top and bottom or, in a grid
// that holds those, its left and right. Carving only ever shrinks a listed
// piece, so a lookup passes over a listing whose held edges miss what it
// looks for without reading the piece itself. Edges are held in 16 bits: on
// a page longer than kLargestHeldEdge along the held axis, listings hold
// nothing of use, and lookups pass over none.
struct GridEntry {
  MaskPiece* piece;
  std::uint32_t next;  // the link of the next entry, kNoEntry at the end of the chain
  std::uint16_t from;  // the top or left edge
  std::uint16_t to;    // the bottom or right edge
};

constexpr std::int32_t kLargestHeldEdge = 0xFFFF;

// The least `from` and the greatest `to` of some listings, or none: from
// beyond to.
struct HeldBounds {
  std::uint16_t from;
  std::uint16_t to;
};
constexpr HeldBounds kNoBounds{0xFFFF, 0};

// A cell's chain holds first the listings added since the grid was built,
// newest first, and then those the build laid out, from `built` on. In a
// grid that keeps bounds, the bounds of an added listing hold its own edges
// and those of the added listings after it, as they were when it was added
// (a listing taken out later only leaves them wider than need be), and the
// cell's bounds those of all its added listings. Frames that go on across
// the page the way they went, as a document's do, are beyond the pieces
// listed while the frames before them were carved: a lookup passes over all
// of those at once.
struct GridCell {
  std::uint32_t first;  // the link of the chain's first entry
  std::uint32_t built;  // the link of the first listing laid out, kNoEntry when none is left
  HeldBounds added;     // kNoBounds while none is added, or while bounds are not kept
};

constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;
// Entries are linked by their byte offsets in the grid's array of them, which
// a step along a chain adds to the array's address as they are: the step
// waits for one load, not for a load, a multiplication and an addition.
constexpr std::uint32_t LinkOf(std::uint32_t entry) {
  return entry * static_cast<std::uint32_t>(sizeof(GridEntry));
}
// Columns and rows are numbered in 16 bits.
constexpr std::uint32_t kMaxSpans = 0xFFFFu;

// One axis of the grid: [0, extent) cut into `spans` columns or rows at the
// strictly rising positions cuts[0 .. spans - 2], all inside (0, extent). A
// coordinate's span is found from its bucket, one of equal power-of-two
// lengths, several for each span: bucketCuts[b] is the number of cuts at or
// before the bucket's start, so only the few cuts inside the bucket are
// searched.
struct GridAxis {
  Wide extent;
  std::uint32_t spans;
  const Wide* cuts;
  std::uint32_t bucketShift;
  const std::uint16_t* bucketCuts;  // one more than there are buckets
};

// A piece's cells are those its rectangle overlaps once each of its edges is
// clamped to the page, so a piece grown off the page stays in the border
// cells. Clamping keeps coordinates in order, so a piece that overlaps a
// rectangle shares a cell with that rectangle clamped the same way, wherever
// either lies.
//
// While `live` and not `broken`: every piece of the region has positive width
// and height and piece->cells are its cells; a piece that is `listed` is
// listed exactly once in each of them and in no other cell, and one that is
// not is in no cell; free entries are chained from freeEntry. A piece keeps
// its listings when its rectangle shrinks in place: only the cells it no
// longer covers are taken from it. Which pieces are listed is the region's
// choice.
//
// All memory comes from AllocateBlock; a grid that is not `live` holds none.
// When a request fails the grid becomes `broken`: its lists are incomplete,
// every further change is ignored, and the region releases it and does
// without.
struct PieceGrid {
  bool live;
  bool broken;
  // Whether listings hold left and right edges rather than top and bottom.
  // The held edges pass over the listings of a cell that lie beside a frame
  // along that axis; they pass over few when the frames span many cells
  // along it, as a tall narrow frame does down the rows.
  bool holdsColumns;
  bool keepsBounds;        // whether added listings keep their bounds (GridCell)
  std::uint32_t builtFor;  // the region's piece count when the grid was built
  GridAxis columns;
  GridAxis rows;
  void* layout;     // one block: both axes' cuts and buckets, and the cells
  GridCell* cells;  // row by row
  GridEntry* entries;
  HeldBounds* bounds;  // of each entry, by its number, while it is an added listing, if kept
  std::uint32_t entryCapacity;
  std::uint32_t entriesUsed;  // entries ever handed out, free ones included
  std::uint32_t freeEntry;    // the link of the chain of free entries
  MaskPiece** found;          // what the last Collect call found
  std::uint32_t foundCapacity;
  // The listings when the grid was built, and the cells and chain entries
  // that lookups have stepped over since: when the chains grow far longer
  // than they were, the pieces crowd where the grid has few cells.
  std::uint64_t builtListings;
  std::uint64_t cellsSeen;
  std::uint64_t entriesSeen;
};

// Where on the page the next frames are expected; may lie partly off it.
struct GridFocus {
  Wide left;
  Wide top;
  Wide right;
  Wide bottom;
};

// How large a run of frames was: their widths and their heights, each
// summed (both 0 for none). Only the ratio of the two counts.
struct FrameSizes {
  double widths;
  double heights;
};

// Lists the `count` pieces from `first` on in a new grid over a page of
// positive size, with cells fitted to them and fine also over `focus`, whose
// listings hold the edges that pass over the most for frames of `frames`'
// shape, and whose added listings keep their bounds if `keepBounds`.
// Returns false, with the grid released, when memory ran out.
bool BuildGrid(PieceGrid& grid, std::int32_t pageWidth, std::int32_t pageHeight,
               const GridFocus& focus, const FrameSizes& frames, bool keepBounds, MaskPiece* first,
               std::uint32_t count);
// Frees the grid's memory; the grid is then neither live nor broken.
void ReleaseGrid(PieceGrid& grid);

// Whether lookups stepped over so many more entries than the cells held when
// the grid was built that building it afresh for the current pieces costs
// less than going on.
bool GridWorn(const PieceGrid& grid, std::uint32_t pieceCount);

// The column or row of a coordinate, clamped to the page.
inline std::uint32_t SpanOf(const GridAxis& axis, Wide value) {
  const Wide clamped = value < 0 ? 0 : (value >= axis.extent ? axis.extent - 1 : value);
  const auto bucket =
      static_cast<std::uint32_t>(static_cast<std::uint64_t>(clamped) >> axis.bucketShift);
  std::uint32_t low = axis.bucketCuts[bucket];
  std::uint32_t high = axis.bucketCuts[bucket + 1];
  // The first cut beyond the value, among the bucket's few.
  while (high - low > 8) {
    const std::uint32_t middle = low + (high - low) / 2;
    if (axis.cuts[middle] <= clamped) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  while (low < high && axis.cuts[low] <= clamped) ++low;
  return low;
}
// The span of `value` + 1, given that of `value`.
inline std::uint32_t SpanAfter(const GridAxis& axis, std::uint32_t span, Wide value) {
  return span + 1 < axis.spans && axis.cuts[span] == value + 1 ? span + 1 : span;
}
// The span of `value` - 1, given that of `value`.
inline std::uint32_t SpanBefore(const GridAxis& axis, std::uint32_t span, Wide value) {
  return span > 0 && axis.cuts[span - 1] == value ? span - 1 : span;
}
// The cells of the box [left, right) x [top, bottom), which is not empty.
CellRange CellsOfBox(const PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom);
inline CellRange CellsOf(const PieceGrid& grid, const MaskPiece& piece) {
  return CellsOfBox(grid, piece.x, piece.y, RightOf(piece), BottomOf(piece));
}

// Lists a piece that is not listed in its cells.
void AddToGrid(PieceGrid& grid, MaskPiece& piece);
// Takes a listed piece out of its cells.
void RemoveFromGrid(PieceGrid& grid, MaskPiece& piece);
// Takes a listed piece, shrunk in place from the cells `was` to its cells
// now (within them), out of the cells it no longer covers.
void ShrinkInGrid(PieceGrid& grid, const MaskPiece& piece, const CellRange& was);
// Whether Collect would step over more than `steps` cells and listings, about,
// in the cells `box`.
bool LookupCostsMore(const PieceGrid& grid, const CellRange& box, std::uint64_t steps);
// Puts every piece overlapping the box [left, right) x [top, bottom), which
// must not be empty and whose cells are `box`, into grid.found, each once
// and in no particular order, and returns how many there are; without the
// memory for them the grid is broken.
std::uint32_t Collect(PieceGrid& grid, const CellRange& box, Wide left, Wide top, Wide right,
                      Wide bottom);

// For growth, which may leave the grid inexact: lists the piece also in the
// cells of `row` under its columns.
void ListInRow(PieceGrid& grid, MaskPiece& piece, std::uint32_t row);
// The link of the first entry of a cell's chain.
inline std::uint32_t FirstInCell(const PieceGrid& grid, std::uint32_t column, std::uint32_t row) {
  return grid.cells[row * grid.columns.spans + column].first;
}
// The entry a link leads to.
inline GridEntry& EntryAt(const PieceGrid& grid, std::uint32_t link) {
  return *reinterpret_cast<GridEntry*>(reinterpret_cast<char*>(grid.entries) + link);
}
// The bounds of the added listing a link leads to. Apart from the entries,
// which the growth of thin pieces steps through by the hundred thousand:
// larger entries made that slower.
inline HeldBounds& BoundsAt(const PieceGrid& grid, std::uint32_t link) {
  return grid.bounds[link / sizeof(GridEntry)];
}

// Checks the grid's invariant against the region's `count` pieces from
// `first` on, of which those stamped `listedUpTo` or lower must be listed;
// returns what is wrong, or null.
const char* GridFault(const PieceGrid& grid, const MaskPiece* first, std::uint32_t count,
                      std::uint32_t listedUpTo);

}  // namespace masking
