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

// One listing of a piece in a cell: a link of the cell's chain.
struct GridEntry {
  std::uint32_t slot;
  std::uint32_t next;  // kNoEntry at the end of the chain
};

// The piece behind a slot. Cells list slots, not pieces, so that a piece
// split into smaller ones can hand its slot to one of them without touching
// the many cells that piece still covers.
struct GridSlot {
  MaskPiece* piece;  // null while the slot is free
  std::uint32_t nextFree;
};

constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;
// Columns and rows are numbered in 16 bits.
constexpr std::uint32_t kMaxSpans = 0xFFFFu;

// One axis of the grid: [0, extent) cut into `spans` columns or rows at the
// strictly rising positions cuts[0 .. spans - 2], all inside (0, extent). A
// coordinate's span is found from its bucket, one of equal power-of-two
// lengths: bucketCuts[b] is the number of cuts at or before the bucket's
// start, so only the few cuts inside the bucket are searched.
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
// and height, its slot names it (slots[piece->slot].piece == piece),
// piece->cells are its cells, and its slot is listed exactly once in each of
// them and in no other cell; free slots and entries are chained from
// freeSlot and freeEntry.
//
// All memory comes from AllocateBlock. When a request fails the grid becomes
// `broken`: its lists are incomplete, every further change is ignored, and
// the region releases it and does without.
struct PieceGrid {
  bool live;
  bool broken;
  std::uint32_t builtFor;  // the region's piece count when the grid was built
  GridAxis columns;
  GridAxis rows;
  void* layout;          // one block: both axes' cuts and buckets, and the cells
  std::uint32_t* cells;  // the first entry of each cell's chain, row by row
  GridEntry* entries;
  std::uint32_t entryCapacity;
  std::uint32_t entriesUsed;  // entries ever handed out, free ones included
  std::uint32_t freeEntry;
  GridSlot* slots;
  std::uint32_t slotCapacity;
  std::uint32_t slotsUsed;  // slots ever handed out, free ones included
  std::uint32_t freeSlot;
  MaskPiece** found;  // what the last Collect call found
  std::uint32_t foundCapacity;
  // Chain entries and cells stepped over, and what the steps were for
  // (pieces found, listings removed), since the grid was built: when the
  // first far outgrows the second the cells no longer fit the pieces.
  std::uint64_t stepped;
  std::uint64_t served;
};

// Lists the `count` pieces from `first` on in a new grid over a page of
// positive size, with cells fitted to them. Returns false, with the grid
// released, when memory ran out.
bool BuildGrid(PieceGrid& grid, std::int32_t pageWidth, std::int32_t pageHeight, MaskPiece* first,
               std::uint32_t count);
// Frees the grid's memory; the grid is then neither live nor broken.
void ReleaseGrid(PieceGrid& grid);

// Whether lookups stepped over so many entries since the grid was built that
// building it afresh for the current pieces costs less than going on.
bool GridWorn(const PieceGrid& grid, std::uint32_t pieceCount);

std::uint32_t SpanOf(const GridAxis& axis, Wide value);
// The cells of the box [left, right) x [top, bottom), which is not empty.
CellRange CellsOfBox(const PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom);
inline CellRange CellsOf(const PieceGrid& grid, const MaskPiece& piece) {
  return CellsOfBox(grid, piece.x, piece.y, RightOf(piece), BottomOf(piece));
}

// Gives the piece a slot and lists it in `cells`, which are its cells.
void AddToGrid(PieceGrid& grid, MaskPiece& piece, const CellRange& cells);
// Takes the piece out of its cells and frees its slot.
void RemoveFromGrid(PieceGrid& grid, const MaskPiece& piece);
// Passes the slot of `piece` to `heir`, which lies within it and covers
// `heirCells`, and takes the slot out of the cells the heir does not cover.
void HandOverSlot(PieceGrid& grid, const MaskPiece& piece, MaskPiece& heir,
                  const CellRange& heirCells);
// Puts every piece overlapping the box [left, right) x [top, bottom), which
// must not be empty, into grid.found, each once and in no particular order,
// and returns how many there are.
std::uint32_t Collect(PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom);

// Checks the grid's invariant against the region's `count` pieces from
// `first` on; returns what is wrong, or null.
const char* GridFault(const PieceGrid& grid, const MaskPiece* first, std::uint32_t count);

}  // namespace masking
