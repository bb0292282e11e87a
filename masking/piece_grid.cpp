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
constexpr std::uint32_t kPiecesPerCell = 2;
// Keeps the cell table of a huge region near 16 MB.
constexpr std::uint64_t kMaxCells = std::uint64_t{1} << 22;
// Pieces whose edges choose the cuts: enough to follow where pieces crowd,
// few enough to sort at once.
constexpr std::uint32_t kSample = 256;
constexpr std::uint32_t kMinCapacity = 64;
// A chain entry stepped over for nothing costs about as much as listing one;
// a grid is built afresh once this many times its size has been wasted.
constexpr std::uint64_t kWorn = 2;

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

std::uint32_t CellIndex(const PieceGrid& grid, std::uint32_t column, std::uint32_t row) {
  return row * grid.columns.spans + column;
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
  while (*link != kNoEntry && grid.entries[*link].slot != slot) {
    link = &grid.entries[*link].next;
    ++grid.stepped;
  }
  ++grid.served;
  if (*link == kNoEntry) return;
  const std::uint32_t entry = *link;
  *link = grid.entries[entry].next;
  grid.entries[entry].next = grid.freeEntry;
  grid.freeEntry = entry;
}

template <typename Change>
void ForCells(std::uint32_t firstColumn, std::uint32_t lastColumn, std::uint32_t firstRow,
              std::uint32_t lastRow, Change change) {
  for (std::uint32_t row = firstRow; row <= lastRow; ++row) {
    for (std::uint32_t column = firstColumn; column <= lastColumn; ++column) change(column, row);
  }
}

// Calls change(column, row) for each cell of `range` that is not in `skip`,
// which lies within it or holds no cell: the rows above and below `skip`,
// and the stretches left and right of it in its rows.
template <typename Change>
void ForCellsOutside(const CellRange& range, const CellRange& skip, Change change) {
  if (skip.firstRow > skip.lastRow) {
    ForCells(range.firstColumn, range.lastColumn, range.firstRow, range.lastRow, change);
    return;
  }
  if (skip.firstRow > range.firstRow) {
    ForCells(range.firstColumn, range.lastColumn, range.firstRow, skip.firstRow - 1u, change);
  }
  if (skip.firstColumn > range.firstColumn) {
    ForCells(range.firstColumn, skip.firstColumn - 1u, skip.firstRow, skip.lastRow, change);
  }
  if (skip.lastColumn < range.lastColumn) {
    ForCells(skip.lastColumn + 1u, range.lastColumn, skip.firstRow, skip.lastRow, change);
  }
  if (skip.lastRow < range.lastRow) {
    ForCells(range.firstColumn, range.lastColumn, skip.lastRow + 1u, range.lastRow, change);
  }
}

// A range that contains no cell.
constexpr CellRange kNoCells{1, 0, 1, 0};

// ---- choosing the cuts ------------------------------------------------------

// Up to `spans` - 1 cuts inside (0, extent), strictly rising: three quarters at
// quantiles of the `n` sorted edges, the rest at even steps; equal ones merge.
std::uint32_t PickCuts(const Wide* edges, std::uint32_t n, Wide extent, std::uint32_t spans,
                       Wide* cuts) {
  const std::uint32_t even = spans / 2 + 1;
  const std::uint32_t quantile = spans + 1 - even;
  std::uint32_t made = 0;
  std::uint32_t q = 1;
  std::uint32_t e = 1;
  while (q < quantile || e < even) {
    constexpr Wide kNone = std::numeric_limits<Wide>::max();
    Wide byQuantile = kNone;
    if (q < quantile) byQuantile = edges[static_cast<std::uint64_t>(q) * n / quantile];
    Wide byStep = kNone;
    if (e < even) byStep = static_cast<Wide>(static_cast<std::uint64_t>(extent) * e / even);
    Wide cut = 0;
    if (byQuantile <= byStep) {
      cut = byQuantile;
      ++q;
    } else {
      cut = byStep;
      ++e;
    }
    if (cut <= 0 || cut >= extent || (made > 0 && cut <= cuts[made - 1])) continue;
    cuts[made++] = cut;
  }
  return made;
}

// Sets up the buckets of an axis whose cuts are in place: buckets of a power
// of two length, about two for each span.
void FillBuckets(GridAxis& axis, std::uint16_t* buckets) {
  std::uint32_t shift = 0;
  while ((static_cast<std::uint64_t>(axis.extent - 1) >> shift) + 1 > 2 * std::uint64_t{axis.spans})
    ++shift;
  const auto count =
      static_cast<std::uint32_t>((static_cast<std::uint64_t>(axis.extent - 1) >> shift) + 1);
  std::uint32_t cut = 0;
  for (std::uint32_t b = 0; b < count; ++b) {
    const Wide start = static_cast<Wide>(std::uint64_t{b} << shift);
    while (cut < axis.spans - 1 && axis.cuts[cut] <= start) ++cut;
    buckets[b] = static_cast<std::uint16_t>(cut);
  }
  buckets[count] = static_cast<std::uint16_t>(axis.spans - 1);
  axis.bucketShift = shift;
  axis.bucketCuts = buckets;
}

std::uint32_t BucketsFor(Wide extent, std::uint32_t spans) {
  std::uint32_t shift = 0;
  while ((static_cast<std::uint64_t>(extent - 1) >> shift) + 1 > 2 * std::uint64_t{spans}) ++shift;
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(extent - 1) >> shift) + 1) + 1;
}

Wide Clamp(Wide value, Wide extent) { return value < 0 ? 0 : (value > extent ? extent : value); }

// The typical extent of a piece across the columns over its extent across the
// rows, both counted in sampled edges it spans (so in the units in which the
// cuts are placed): the median of the sampled pieces' ratios, each rounded to
// a power of two.
double SampleAspect(const MaskPiece* const* sample, std::uint32_t count, const Wide* xs,
                    const Wide* ys, std::uint32_t edges, Wide width, Wide height) {
  constexpr int kLargest = 24;  // 2^24 exceeds any ratio of sampled edges
  // The median of a few dozen is as good as that of all.
  constexpr std::uint32_t kShapes = 64;
  const std::uint32_t step = count / kShapes + 1;
  std::uint32_t counts[2 * kLargest + 1] = {};
  std::uint32_t shapes = 0;
  for (std::uint32_t i = 0; i < count; i += step, ++shapes) {
    const MaskPiece& p = *sample[i];
    const auto rank = [edges](const Wide* sorted, Wide value) {
      return static_cast<std::int64_t>(std::lower_bound(sorted, sorted + edges, value) - sorted);
    };
    const std::int64_t across =
        std::max<std::int64_t>(1, rank(xs, Clamp(RightOf(p), width)) - rank(xs, Clamp(p.x, width)));
    const std::int64_t down = std::max<std::int64_t>(
        1, rank(ys, Clamp(BottomOf(p), height)) - rank(ys, Clamp(p.y, height)));
    int power = 0;
    for (std::int64_t a = across; a > 2 * down && power < kLargest; a /= 2) ++power;
    for (std::int64_t d = down; d > 2 * across && power > -kLargest; d /= 2) --power;
    ++counts[power + kLargest];
  }
  std::uint32_t seen = 0;
  for (int bucket = 0; bucket <= 2 * kLargest; ++bucket) {
    seen += counts[bucket];
    if (2 * seen > shapes) return std::ldexp(1.0, bucket - kLargest);
  }
  return 1.0;
}

}  // namespace

std::uint32_t SpanOf(const GridAxis& axis, Wide value) {
  const Wide clamped = value < 0 ? 0 : (value >= axis.extent ? axis.extent - 1 : value);
  const std::uint32_t bucket =
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

CellRange CellsOfBox(const PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom) {
  return CellRange{static_cast<std::uint16_t>(SpanOf(grid.columns, left)),
                   static_cast<std::uint16_t>(SpanOf(grid.columns, right - 1)),
                   static_cast<std::uint16_t>(SpanOf(grid.rows, top)),
                   static_cast<std::uint16_t>(SpanOf(grid.rows, bottom - 1))};
}

bool BuildGrid(PieceGrid& grid, std::int32_t pageWidth, std::int32_t pageHeight, MaskPiece* first,
               std::uint32_t count) {
  grid = PieceGrid{};
  grid.freeEntry = kNoEntry;
  grid.freeSlot = kNoEntry;
  const Wide width = pageWidth;
  const Wide height = pageHeight;

  // A sample of the pieces, and their edges sorted along each axis.
  const std::uint32_t stride = count / kSample + 1;
  const std::size_t sampled = (count + stride - 1) / stride;
  const std::size_t edges = 2 * sampled;
  // The sample holds pointers: the size of a pointer is what is meant.
  const std::size_t pointerSize = sizeof(MaskPiece*);  // NOLINT(bugprone-sizeof-expression)
  void* scratch = AllocateBlock(edges * 2 * sizeof(Wide) + sampled * pointerSize);
  if (scratch == nullptr) return false;
  Wide* xs = static_cast<Wide*>(scratch);
  Wide* ys = xs + edges;
  auto** sample = reinterpret_cast<MaskPiece**>(ys + edges);
  std::size_t k = 0;
  std::uint32_t skip = 0;
  for (MaskPiece* p = first; p != nullptr && k < sampled; p = p->next) {
    if (skip > 0) {
      --skip;
      continue;
    }
    skip = stride - 1;
    sample[k] = p;
    xs[2 * k] = Clamp(p->x, width);
    xs[2 * k + 1] = Clamp(RightOf(*p), width);
    ys[2 * k] = Clamp(p->y, height);
    ys[2 * k + 1] = Clamp(BottomOf(*p), height);
    ++k;
  }
  const auto sorted = static_cast<std::uint32_t>(2 * k);
  std::sort(xs, xs + sorted);
  std::sort(ys, ys + sorted);

  // About one cell for every few pieces, as many columns against rows as the
  // typical piece is wide against high, so that it covers about one cell.
  const std::uint64_t wanted =
      std::min<std::uint64_t>(std::max<std::uint64_t>(count / kPiecesPerCell, 1), kMaxCells);
  const double aspect =
      SampleAspect(sample, static_cast<std::uint32_t>(k), xs, ys, sorted, width, height);

  const double across = std::sqrt(static_cast<double>(wanted) / aspect);
  const auto columns = static_cast<std::uint32_t>(
      std::min(std::max(across, 1.0),
               std::min(static_cast<double>(kMaxSpans), static_cast<double>(wanted))));
  const auto rows = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::max<std::uint64_t>(wanted / columns, 1), kMaxSpans));

  const std::uint32_t columnBuckets = BucketsFor(width, columns);
  const std::uint32_t rowBuckets = BucketsFor(height, rows);
  const std::uint64_t cellCount = std::uint64_t{columns} * rows;
  const std::size_t layoutSize = (std::size_t{columns} + rows) * sizeof(Wide) +
                                 static_cast<std::size_t>(cellCount) * sizeof(std::uint32_t) +
                                 (std::size_t{columnBuckets} + rowBuckets) * sizeof(std::uint16_t);
  grid.layout = AllocateBlock(layoutSize);
  if (grid.layout == nullptr) {
    ReleaseBlock(scratch);
    return false;
  }
  Wide* columnCuts = static_cast<Wide*>(grid.layout);
  Wide* rowCuts = columnCuts + columns;
  grid.columns =
      GridAxis{width, 1 + PickCuts(xs, sorted, width, columns, columnCuts), columnCuts, 0, nullptr};
  grid.rows =
      GridAxis{height, 1 + PickCuts(ys, sorted, height, rows, rowCuts), rowCuts, 0, nullptr};
  ReleaseBlock(scratch);
  grid.cells = reinterpret_cast<std::uint32_t*>(rowCuts + rows);
  auto* buckets = reinterpret_cast<std::uint16_t*>(grid.cells + cellCount);
  FillBuckets(grid.columns, buckets);
  FillBuckets(grid.rows, buckets + columnBuckets);
  const std::uint64_t cellsUsed = std::uint64_t{grid.columns.spans} * grid.rows.spans;
  for (std::uint64_t cell = 0; cell < cellsUsed; ++cell) grid.cells[cell] = kNoEntry;

  if (!Reserve(grid.slots, grid.slotCapacity, 0, count) ||
      !Reserve(grid.entries, grid.entryCapacity, 0, 2 * std::uint64_t{count})) {
    ReleaseGrid(grid);
    return false;
  }
  grid.live = true;
  for (MaskPiece* p = first; p != nullptr && !grid.broken; p = p->next) {
    AddToGrid(grid, *p, CellsOf(grid, *p));
  }
  if (grid.broken) {
    ReleaseGrid(grid);
    return false;
  }
  grid.builtFor = count;
  return true;
}

void ReleaseGrid(PieceGrid& grid) {
  ReleaseBlock(grid.layout);
  ReleaseBlock(grid.entries);
  ReleaseBlock(grid.slots);
  ReleaseBlock(grid.found);
  grid = PieceGrid{};
}

bool GridWorn(const PieceGrid& grid, std::uint32_t pieceCount) {
  const std::uint64_t cells = std::uint64_t{grid.columns.spans} * grid.rows.spans;
  const std::uint64_t size = cells + grid.entriesUsed + pieceCount;
  return grid.stepped > 2 * grid.served + kWorn * size;
}

void AddToGrid(PieceGrid& grid, MaskPiece& piece, const CellRange& cells) {
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
  piece.cells = cells;
  for (std::uint32_t row = cells.firstRow; row <= cells.lastRow; ++row) {
    for (std::uint32_t column = cells.firstColumn; column <= cells.lastColumn; ++column) {
      AddEntry(grid, CellIndex(grid, column, row), slot);
      if (grid.broken) return;
    }
  }
}

void RemoveFromGrid(PieceGrid& grid, const MaskPiece& piece) {
  if (grid.broken) return;
  ForCellsOutside(piece.cells, kNoCells, [&](std::uint32_t column, std::uint32_t row) {
    RemoveEntry(grid, CellIndex(grid, column, row), piece.slot);
  });
  grid.slots[piece.slot] = GridSlot{nullptr, grid.freeSlot};
  grid.freeSlot = piece.slot;
}

void HandOverSlot(PieceGrid& grid, const MaskPiece& piece, MaskPiece& heir,
                  const CellRange& heirCells) {
  if (grid.broken) return;
  ForCellsOutside(piece.cells, heirCells, [&](std::uint32_t column, std::uint32_t row) {
    RemoveEntry(grid, CellIndex(grid, column, row), piece.slot);
  });
  grid.slots[piece.slot].piece = &heir;
  heir.slot = piece.slot;
  heir.cells = heirCells;
}

std::uint32_t Collect(PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom) {
  if (grid.broken) return 0;
  const CellRange box = CellsOfBox(grid, left, top, right, bottom);
  std::uint32_t count = 0;
  for (std::uint32_t row = box.firstRow; row <= box.lastRow; ++row) {
    for (std::uint32_t column = box.firstColumn; column <= box.lastColumn; ++column) {
      ++grid.stepped;
      for (std::uint32_t entry = grid.cells[CellIndex(grid, column, row)]; entry != kNoEntry;
           entry = grid.entries[entry].next) {
        ++grid.stepped;
        MaskPiece* piece = grid.slots[grid.entries[entry].slot].piece;
        // A piece spanning several of the box's cells is taken in the first
        // of them only.
        const CellRange& cells = piece->cells;
        if (column != std::max(cells.firstColumn, box.firstColumn) ||
            row != std::max(cells.firstRow, box.firstRow)) {
          continue;
        }
        if (piece->x >= right || RightOf(*piece) <= left || piece->y >= bottom ||
            BottomOf(*piece) <= top) {
          continue;
        }
        if (!Reserve(grid.found, grid.foundCapacity, count, std::uint64_t{count} + 1)) {
          grid.broken = true;
          return 0;
        }
        grid.found[count++] = piece;
      }
    }
  }
  grid.served += count + 1;
  return count;
}

const char* GridFault(const PieceGrid& grid, const MaskPiece* first, std::uint32_t count) {
  std::uint64_t entries = 0;
  const std::uint64_t cellCount = std::uint64_t{grid.columns.spans} * grid.rows.spans;
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
    if (std::memcmp(&range, &p->cells, sizeof(range)) != 0) {
      return "a piece's grid cells are not those it covers";
    }
    listings += std::uint64_t{range.lastColumn - range.firstColumn + 1u} *
                (range.lastRow - range.firstRow + 1u);
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
