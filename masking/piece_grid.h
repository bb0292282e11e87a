// A uniform grid of cells over a page that lists, in each cell, the pieces of
// a region overlapping it, so that the region finds the pieces near a frame
// or a point without walking its whole list.
#pragma once

#include <cstdint>

#include "masking/mask_piece.h"

namespace masking {

// The cells a rectangle covers, first to last inclusive.
struct CellRange {
  std::uint32_t firstColumn;
  std::uint32_t lastColumn;
  std::uint32_t firstRow;
  std::uint32_t lastRow;
};

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

// A piece's cells are those its rectangle overlaps once each of its edges is
// clamped to the page, so a piece grown off the page stays in the border
// cells. Clamping keeps coordinates in order, so a piece that overlaps a
// rectangle shares a cell with that rectangle clamped the same way, wherever
// either lies.
//
// While `live` and not `broken`: every piece of the region has positive width
// and height, and its slot names it (slots[piece->slot].piece == piece); each
// piece's slot is listed exactly once in each of its cells and in no other
// cell; free slots and entries are chained from freeSlot and freeEntry.
//
// All memory comes from AllocateBlock. When a request fails the grid becomes
// `broken`: its lists are incomplete, every further change is ignored, and
// the region releases it and does without.
struct PieceGrid {
  bool live;
  bool broken;
  std::uint32_t builtFor;  // the region's piece count when the grid was built
  Wide pageWidth;
  Wide pageHeight;
  std::uint32_t columns;
  std::uint32_t rows;
  std::uint32_t columnShift;  // a cell is 1 << columnShift units wide
  std::uint32_t rowShift;     // and 1 << rowShift units high
  std::uint32_t* cells;       // the first entry of each cell's chain, row by row
  GridEntry* entries;
  std::uint32_t entryCapacity;
  std::uint32_t entriesUsed;  // entries ever handed out, free ones included
  std::uint32_t freeEntry;
  GridSlot* slots;
  std::uint32_t slotCapacity;
  std::uint32_t slotsUsed;  // slots ever handed out, free ones included
  std::uint32_t freeSlot;
  MaskPiece** found;  // what the last CollectOverlapping call found
  std::uint32_t foundCapacity;
};

// Lists the `count` pieces from `first` on in a new grid over a page of
// positive size, with cells sized for that many pieces. Returns false, with
// the grid released, when memory ran out.
bool BuildGrid(PieceGrid& grid, std::int32_t pageWidth, std::int32_t pageHeight, MaskPiece* first,
               std::uint32_t count);
// Frees the grid's memory; the grid is then neither live nor broken.
void ReleaseGrid(PieceGrid& grid);

CellRange CellsOf(const PieceGrid& grid, const MaskPiece& piece);
std::uint64_t CellCount(const CellRange& range);

// Gives the piece a slot and lists it in its cells.
void AddToGrid(PieceGrid& grid, MaskPiece& piece);
// Takes the piece out of its cells and frees its slot.
void RemoveFromGrid(PieceGrid& grid, const MaskPiece& piece);
// Passes the slot of `piece` to `heir`, which lies within it, and takes the
// slot out of the cells the heir does not cover.
void HandOverSlot(PieceGrid& grid, const MaskPiece& piece, MaskPiece& heir);
// Lists a piece that has grown in the cells it has gained since it covered
// `before`.
void AddGrowth(PieceGrid& grid, const MaskPiece& piece, const CellRange& before);

// Puts every piece overlapping the box [left, right) x [top, bottom), which
// must not be empty, into grid.found, each once and in no particular order,
// and returns how many there are.
std::uint32_t CollectOverlapping(PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom);

// The chain of the cell holding the point (x, y) once it is clamped to the
// page: every piece containing the point is on it.
std::uint32_t FirstEntryAt(const PieceGrid& grid, Wide x, Wide y);
inline MaskPiece* EntryPiece(const PieceGrid& grid, std::uint32_t entry) {
  return grid.slots[grid.entries[entry].slot].piece;
}

// Checks the grid's invariant against the region's `count` pieces from
// `first` on; returns what is wrong, or null.
const char* GridFault(const PieceGrid& grid, const MaskPiece* first, std::uint32_t count);

}  // namespace masking
