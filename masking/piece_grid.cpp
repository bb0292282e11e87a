#include "masking/piece_grid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "masking/memory.h"

namespace masking {
namespace {

// Pieces per cell that a new grid is sized for. Fewer cells cost less to
// keep up when large pieces are split; more cells make shorter chains.
constexpr double kPiecesPerCell = 2.0;
// Keeps the cell table of a huge region under 32 MB: rounding cell sizes to
// powers of two may double the count.
constexpr double kMaxCells = 1 << 22;
constexpr std::uint32_t kMinCapacity = 64;

// Whether `count` elements of `size` bytes fit in one block, on a 32-bit
// system too.
bool Addressable(std::uint64_t count, std::size_t size) {
  return count <= std::numeric_limits<std::size_t>::max() / size;
}

// Makes room for `needed` elements, keeping the first `used`; false when
// memory ran out, with the array as it was.
template <typename T>
bool Reserve(T*& array, std::uint32_t& capacity, std::uint32_t used, std::uint64_t needed) {
  if (needed <= capacity) return true;
  std::uint64_t wanted = std::uint64_t{capacity} * 2;
  if (wanted < needed) wanted = needed;
  if (wanted < kMinCapacity) wanted = kMinCapacity;
  // T is at times a pointer: the size of that pointer is what is meant.
  const std::size_t size = sizeof(T);  // NOLINT(bugprone-sizeof-expression)
  // Slots and entries are numbered in 32 bits, kNoEntry excluded.
  if (wanted >= kNoEntry || !Addressable(wanted, size)) return false;
  void* block = AllocateBlock(static_cast<std::size_t>(wanted) * size);
  if (block == nullptr) return false;
  if (used > 0) std::memcpy(block, array, std::size_t{used} * size);
  ReleaseBlock(array);
  array = static_cast<T*>(block);
  capacity = static_cast<std::uint32_t>(wanted);
  return true;
}

std::uint32_t Column(const PieceGrid& grid, Wide x) {
  const Wide clamped = x < 0 ? 0 : (x >= grid.pageWidth ? grid.pageWidth - 1 : x);
  return static_cast<std::uint32_t>(clamped) >> grid.columnShift;
}

std::uint32_t Row(const PieceGrid& grid, Wide y) {
  const Wide clamped = y < 0 ? 0 : (y >= grid.pageHeight ? grid.pageHeight - 1 : y);
  return static_cast<std::uint32_t>(clamped) >> grid.rowShift;
}

// The cells of the box [left, right) x [top, bottom), which is not empty.
CellRange CellsOfBox(const PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom) {
  return CellRange{Column(grid, left), Column(grid, right - 1), Row(grid, top),
                   Row(grid, bottom - 1)};
}

bool Contains(const CellRange& range, std::uint32_t column, std::uint32_t row) {
  return range.firstColumn <= column && column <= range.lastColumn && range.firstRow <= row &&
         row <= range.lastRow;
}

std::uint32_t CellIndex(const PieceGrid& grid, std::uint32_t column, std::uint32_t row) {
  return row * grid.columns + column;
}

void AddEntry(PieceGrid& grid, std::uint32_t cell, std::uint32_t slot) {
  std::uint32_t entry = grid.freeEntry;
  if (entry != kNoEntry) {
    grid.freeEntry = grid.entries[entry].next;
  } else {
    if (!Reserve(grid.entries, grid.entryCapacity, grid.entriesUsed,
                 std::uint64_t{grid.entriesUsed} + 1)) {
      grid.broken = true;
      return;
    }
    entry = grid.entriesUsed++;
  }
  grid.entries[entry] = GridEntry{slot, grid.cells[cell]};
  grid.cells[cell] = entry;
}

void RemoveEntry(PieceGrid& grid, std::uint32_t cell, std::uint32_t slot) {
  std::uint32_t* link = &grid.cells[cell];
  while (*link != kNoEntry && grid.entries[*link].slot != slot) link = &grid.entries[*link].next;
  if (*link == kNoEntry) return;
  const std::uint32_t entry = *link;
  *link = grid.entries[entry].next;
  grid.entries[entry].next = grid.freeEntry;
  grid.freeEntry = entry;
}

// The power of two nearest to `size` (at least 1), as a shift.
std::uint32_t ShiftNear(double size) {
  std::uint32_t shift = 0;
  while (shift < 30 && static_cast<double>(std::uint32_t{1} << (shift + 1)) <= size * 1.4142) {
    ++shift;
  }
  return shift;
}

// About `wanted` cells shaped like the typical piece, so that a page of
// hairlines gets flat cells rather than cells crossed by hundreds of them.
// Each cell is a power of two wide and high, so that finding a cell takes
// shifts rather than divisions.
void ChooseCells(PieceGrid& grid, double wanted, double pieceAspect) {
  const double width = static_cast<double>(grid.pageWidth);
  const double height = static_cast<double>(grid.pageHeight);
  const double columns =
      std::min(std::max(std::sqrt(wanted * width / (height * pieceAspect)), 1.0), width);
  const double rows = std::min(std::max(wanted / columns, 1.0), height);
  grid.columnShift = ShiftNear(width / columns);
  grid.rowShift = ShiftNear(height / rows);
  grid.columns = static_cast<std::uint32_t>((grid.pageWidth - 1) >> grid.columnShift) + 1;
  grid.rows = static_cast<std::uint32_t>((grid.pageHeight - 1) >> grid.rowShift) + 1;
}

// The typical width of a piece over its height: the median of the pieces'
// ratios, each rounded to a power of two (a page of small squares that still
// holds a few long strips gets square cells), and each side counted at most
// as long as the page.
double PieceAspect(const MaskPiece* first, Wide pageWidth, Wide pageHeight) {
  constexpr int kLargest = 32;  // 2^32 exceeds any ratio of 32-bit sides
  std::uint32_t counts[2 * kLargest + 1] = {};
  std::uint32_t total = 0;
  for (const MaskPiece* p = first; p != nullptr; p = p->next) {
    const double w = static_cast<double>(std::min(Wide{p->width}, pageWidth));
    const double h = static_cast<double>(std::min(Wide{p->height}, pageHeight));
    const auto power = static_cast<int>(std::lround(std::log2(w) - std::log2(h)));
    ++counts[std::min(std::max(power, -kLargest), kLargest) + kLargest];
    ++total;
  }
  std::uint32_t seen = 0;
  for (int bucket = 0; bucket <= 2 * kLargest; ++bucket) {
    seen += counts[bucket];
    if (2 * seen > total) return std::exp2(bucket - kLargest);
  }
  return 1.0;
}

}  // namespace

CellRange CellsOf(const PieceGrid& grid, const MaskPiece& piece) {
  return CellsOfBox(grid, piece.x, piece.y, RightOf(piece), BottomOf(piece));
}

std::uint64_t CellCount(const CellRange& range) {
  return std::uint64_t{range.lastColumn - range.firstColumn + 1} *
         (range.lastRow - range.firstRow + 1);
}

bool BuildGrid(PieceGrid& grid, std::int32_t pageWidth, std::int32_t pageHeight, MaskPiece* first,
               std::uint32_t count) {
  grid = PieceGrid{};
  grid.pageWidth = pageWidth;
  grid.pageHeight = pageHeight;
  grid.freeEntry = kNoEntry;
  grid.freeSlot = kNoEntry;
  double wanted = count / kPiecesPerCell;
  if (wanted < 1) wanted = 1;
  if (wanted > kMaxCells) wanted = kMaxCells;
  ChooseCells(grid, wanted, PieceAspect(first, pageWidth, pageHeight));

  const std::uint64_t cellCount = std::uint64_t{grid.columns} * grid.rows;
  grid.cells = static_cast<std::uint32_t*>(
      AllocateBlock(static_cast<std::size_t>(cellCount) * sizeof(std::uint32_t)));
  if (grid.cells == nullptr) return false;
  for (std::uint64_t cell = 0; cell < cellCount; ++cell) grid.cells[cell] = kNoEntry;

  std::uint64_t entries = 0;
  for (const MaskPiece* p = first; p != nullptr; p = p->next)
    entries += CellCount(CellsOf(grid, *p));
  if (!Reserve(grid.slots, grid.slotCapacity, 0, count) ||
      !Reserve(grid.entries, grid.entryCapacity, 0, entries)) {
    ReleaseGrid(grid);
    return false;
  }
  for (MaskPiece* p = first; p != nullptr && !grid.broken; p = p->next) AddToGrid(grid, *p);
  if (grid.broken) {
    ReleaseGrid(grid);
    return false;
  }
  grid.live = true;
  grid.builtFor = count;
  return true;
}

void ReleaseGrid(PieceGrid& grid) {
  ReleaseBlock(grid.cells);
  ReleaseBlock(grid.entries);
  ReleaseBlock(grid.slots);
  ReleaseBlock(grid.found);
  grid = PieceGrid{};
}

void AddToGrid(PieceGrid& grid, MaskPiece& piece) {
  if (grid.broken) return;
  std::uint32_t slot = grid.freeSlot;
  if (slot != kNoEntry) {
    grid.freeSlot = grid.slots[slot].nextFree;
  } else {
    if (!Reserve(grid.slots, grid.slotCapacity, grid.slotsUsed,
                 std::uint64_t{grid.slotsUsed} + 1)) {
      grid.broken = true;
      return;
    }
    slot = grid.slotsUsed++;
  }
  grid.slots[slot] = GridSlot{&piece, kNoEntry};
  piece.slot = slot;
  const CellRange range = CellsOf(grid, piece);
  for (std::uint32_t row = range.firstRow; row <= range.lastRow; ++row) {
    for (std::uint32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
      AddEntry(grid, CellIndex(grid, column, row), slot);
      if (grid.broken) return;
    }
  }
}

void RemoveFromGrid(PieceGrid& grid, const MaskPiece& piece) {
  if (grid.broken) return;
  const CellRange range = CellsOf(grid, piece);
  for (std::uint32_t row = range.firstRow; row <= range.lastRow; ++row) {
    for (std::uint32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
      RemoveEntry(grid, CellIndex(grid, column, row), piece.slot);
    }
  }
  grid.slots[piece.slot] = GridSlot{nullptr, grid.freeSlot};
  grid.freeSlot = piece.slot;
}

void HandOverSlot(PieceGrid& grid, const MaskPiece& piece, MaskPiece& heir) {
  if (grid.broken) return;
  const CellRange range = CellsOf(grid, piece);
  const CellRange kept = CellsOf(grid, heir);
  for (std::uint32_t row = range.firstRow; row <= range.lastRow; ++row) {
    for (std::uint32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
      if (!Contains(kept, column, row)) RemoveEntry(grid, CellIndex(grid, column, row), piece.slot);
    }
  }
  grid.slots[piece.slot].piece = &heir;
  heir.slot = piece.slot;
}

void AddGrowth(PieceGrid& grid, const MaskPiece& piece, const CellRange& before) {
  if (grid.broken) return;
  const CellRange range = CellsOf(grid, piece);
  for (std::uint32_t row = range.firstRow; row <= range.lastRow; ++row) {
    for (std::uint32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
      if (Contains(before, column, row)) continue;
      AddEntry(grid, CellIndex(grid, column, row), piece.slot);
      if (grid.broken) return;
    }
  }
}

std::uint32_t CollectOverlapping(PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom) {
  if (grid.broken) return 0;
  const CellRange box = CellsOfBox(grid, left, top, right, bottom);
  std::uint32_t count = 0;
  for (std::uint32_t row = box.firstRow; row <= box.lastRow; ++row) {
    for (std::uint32_t column = box.firstColumn; column <= box.lastColumn; ++column) {
      for (std::uint32_t entry = grid.cells[CellIndex(grid, column, row)]; entry != kNoEntry;
           entry = grid.entries[entry].next) {
        MaskPiece* piece = EntryPiece(grid, entry);
        if (piece->x >= right || RightOf(*piece) <= left || piece->y >= bottom ||
            BottomOf(*piece) <= top) {
          continue;
        }
        // A piece spanning several of the box's cells is taken in the first
        // of them only.
        const CellRange cells = CellsOf(grid, *piece);
        const std::uint32_t firstColumn =
            cells.firstColumn > box.firstColumn ? cells.firstColumn : box.firstColumn;
        const std::uint32_t firstRow =
            cells.firstRow > box.firstRow ? cells.firstRow : box.firstRow;
        if (column != firstColumn || row != firstRow) continue;
        if (!Reserve(grid.found, grid.foundCapacity, count, std::uint64_t{count} + 1)) {
          grid.broken = true;
          return 0;
        }
        grid.found[count++] = piece;
      }
    }
  }
  return count;
}

std::uint32_t FirstEntryAt(const PieceGrid& grid, Wide x, Wide y) {
  return grid.cells[CellIndex(grid, Column(grid, x), Row(grid, y))];
}

const char* GridFault(const PieceGrid& grid, const MaskPiece* first, std::uint32_t count) {
  std::uint64_t entries = 0;
  const std::uint64_t cellCount = std::uint64_t{grid.columns} * grid.rows;
  for (std::uint64_t cell = 0; cell < cellCount; ++cell) {
    for (std::uint32_t e = grid.cells[cell]; e != kNoEntry; e = grid.entries[e].next) {
      if (++entries > grid.entriesUsed) return "a grid cell's chain does not end";
    }
  }
  std::uint64_t listings = 0;
  for (const MaskPiece* p = first; p != nullptr; p = p->next) {
    if (p->slot >= grid.slotsUsed || grid.slots[p->slot].piece != p) {
      return "a piece's grid slot does not name it";
    }
    const CellRange range = CellsOf(grid, *p);
    listings += CellCount(range);
    for (std::uint32_t row = range.firstRow; row <= range.lastRow; ++row) {
      for (std::uint32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
        int times = 0;
        for (std::uint32_t e = grid.cells[CellIndex(grid, column, row)]; e != kNoEntry;
             e = grid.entries[e].next) {
          if (grid.entries[e].slot == p->slot) ++times;
        }
        if (times != 1) return "a piece is not listed exactly once in one of its grid cells";
      }
    }
  }
  // Every piece is in each of its cells once; any further listing is wrong.
  if (entries != listings) return "a grid cell lists a piece that does not overlap it";
  std::uint32_t freeSlots = 0;
  for (std::uint32_t s = grid.freeSlot; s != kNoEntry; s = grid.slots[s].nextFree) {
    if (grid.slots[s].piece != nullptr || ++freeSlots > grid.slotsUsed) {
      return "the grid's free slots are not chained";
    }
  }
  if (std::uint64_t{freeSlots} + count != grid.slotsUsed) return "the grid loses slots";
  return nullptr;
}

}  // namespace masking
