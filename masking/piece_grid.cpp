#include "masking/piece_grid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "masking/edge_sort.h"
#include "masking/memory.h"

namespace masking {
namespace {

// Cells a new grid has for each piece. Fewer cells cost less to keep up
// when large pieces are split; more cells make shorter chains.
constexpr std::uint64_t kCellsPerPiece = 2;
// Keeps the cell table of a huge region near 16 MB.
constexpr std::uint64_t kMaxCells = std::uint64_t{1} << 22;
// Pieces whose edges choose the cuts: enough to follow where pieces crowd,
// few enough to sort at once; one in kSampleEvery of a small region's, with
// at least kFewestSampled. A grid for a few hundred pieces has a dozen or so
// cuts an axis, half of them at quantiles: two dozen pieces' edges place
// those as well as more would. Twice as many cost a page of 100 small frames
// 3% of its instructions, in sorting and sizing.
constexpr std::uint32_t kSample = 256;
constexpr std::uint32_t kSampleEvery = 8;
constexpr std::uint32_t kFewestSampled = 24;
constexpr std::uint32_t kMinCapacity = 64;
// A chain entry stepped over for nothing costs about a tenth of listing one
// in a new grid; a grid is built afresh once lookups have wasted this many
// times its size.
constexpr std::uint64_t kWorn = 4;

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
  // Entries are linked by their byte offsets in 32 bits, kNoEntry excluded.
  if (wanted * size >= kNoEntry || !Addressable(wanted, size)) return false;
  void* block = AllocateBlock(static_cast<std::size_t>(wanted) * size);
  if (block == nullptr) return false;
  if (used > 0) std::memcpy(block, array, std::size_t{used} * size);
  ReleaseBlock(array);
  array = static_cast<T*>(block);
  capacity = static_cast<std::uint32_t>(wanted);
  return true;
}

// Makes room for `needed` entries and their bounds; false when memory ran
// out.
bool ReserveEntries(PieceGrid& grid, std::uint64_t needed) {
  // The bounds, when kept, have as much room as the entries.
  std::uint32_t boundsCapacity = grid.entryCapacity;
  return Reserve(grid.entries, grid.entryCapacity, grid.entriesUsed, needed) &&
         (!grid.keepsBounds ||
          Reserve(grid.bounds, boundsCapacity, grid.entriesUsed, grid.entryCapacity));
}

std::uint32_t CellIndex(const PieceGrid& grid, std::uint32_t column, std::uint32_t row) {
  return row * grid.columns.spans + column;
}

// The axis along which listings hold their pieces' edges.
const GridAxis& HeldAxis(const PieceGrid& grid) {
  return grid.holdsColumns ? grid.columns : grid.rows;
}

// Whether the listings hold their pieces' edges: on a page no longer than
// kLargestHeldEdge along the held axis.
bool EdgesHeld(const PieceGrid& grid) { return HeldAxis(grid).extent <= kLargestHeldEdge; }

// An edge as listings hold it, and as lookups compare with it.
std::int32_t Held(Wide value) {
  return static_cast<std::int32_t>(
      value < 0 ? 0 : (value > kLargestHeldEdge ? kLargestHeldEdge : value));
}

// A piece's listing, not yet linked into a chain. Pieces lie on the
// page while the region carves frames through the grid, so their edges fit.
// (Growth, which takes pieces off the page, may list them with edges that
// mean nothing; only lookups for frames read the edges, and the region
// carves none through the grid after growth.)
GridEntry ListingOf(const PieceGrid& grid, MaskPiece& piece) {
  if (!EdgesHeld(grid)) return GridEntry{&piece, kNoEntry, 0, 0};
  const auto from = static_cast<std::uint16_t>(grid.holdsColumns ? Wide{piece.x} : Wide{piece.y});
  const auto to = static_cast<std::uint16_t>(grid.holdsColumns ? RightOf(piece) : BottomOf(piece));
  return GridEntry{&piece, kNoEntry, from, to};
}

// Lists a piece in a cell, given its listing (whose link is set here).
void AddEntry(PieceGrid& grid, std::uint32_t cell, GridEntry listing) {
  std::uint32_t link = grid.freeEntry;
  if (link != kNoEntry) {
    grid.freeEntry = EntryAt(grid, link).next;
  } else {
    if (grid.entriesUsed == grid.entryCapacity &&
        !ReserveEntries(grid, std::uint64_t{grid.entriesUsed} + 1)) {
      grid.broken = true;
      return;
    }
    link = LinkOf(grid.entriesUsed++);
  }
  GridCell& at = grid.cells[cell];
  listing.next = at.first;
  if (grid.keepsBounds) {
    const HeldBounds bounds{std::min(listing.from, at.added.from),
                            std::max(listing.to, at.added.to)};
    at.added = bounds;
    BoundsAt(grid, link) = bounds;
  }
  EntryAt(grid, link) = listing;
  at.first = link;
}

void RemoveEntry(PieceGrid& grid, std::uint32_t cell, const MaskPiece& piece) {
  std::uint32_t* link = &grid.cells[cell].first;
  ++grid.cellsSeen;
  while (*link != kNoEntry && EntryAt(grid, *link).piece != &piece) {
    link = &EntryAt(grid, *link).next;
    ++grid.entriesSeen;
  }
  if (*link == kNoEntry) return;
  const std::uint32_t removed = *link;
  *link = EntryAt(grid, removed).next;
  GridCell& at = grid.cells[cell];
  if (removed == at.built) at.built = *link;
  if (at.first == at.built) at.added = kNoBounds;
  EntryAt(grid, removed).next = grid.freeEntry;
  grid.freeEntry = removed;
}

// Calls change(cell) for each cell, by its index, of the columns
// firstColumn to lastColumn in the rows firstRow to lastRow.
template <typename Change>
void ForCells(std::uint32_t spans, std::uint32_t firstColumn, std::uint32_t lastColumn,
              std::uint32_t firstRow, std::uint32_t lastRow, Change change) {
  for (std::uint32_t row = firstRow; row <= lastRow; ++row) {
    for (std::uint32_t column = firstColumn; column <= lastColumn; ++column) {
      change(row * spans + column);
    }
  }
}

template <typename Change>
void ForCells(std::uint32_t spans, const CellRange& range, Change change) {
  ForCells(spans, range.firstColumn, range.lastColumn, range.firstRow, range.lastRow, change);
}

// Calls change(cell) for each cell of `range` that is not in `skip`, which
// lies within it: the rows above and below `skip`, and the stretches left and
// right of it in its rows.
template <typename Change>
void ForCellsOutside(std::uint32_t spans, const CellRange& range, const CellRange& skip,
                     Change change) {
  if (skip.firstRow > range.firstRow) {
    ForCells(spans, range.firstColumn, range.lastColumn, range.firstRow, skip.firstRow - 1u,
             change);
  }
  if (skip.firstColumn > range.firstColumn) {
    ForCells(spans, range.firstColumn, skip.firstColumn - 1u, skip.firstRow, skip.lastRow, change);
  }
  if (skip.lastColumn < range.lastColumn) {
    ForCells(spans, skip.lastColumn + 1u, range.lastColumn, skip.firstRow, skip.lastRow, change);
  }
  if (skip.lastRow < range.lastRow) {
    ForCells(spans, range.firstColumn, range.lastColumn, skip.lastRow + 1u, range.lastRow, change);
  }
}

// ---- choosing the cuts ------------------------------------------------------

// Up to `spans` - 1 cuts inside (0, extent), strictly rising: half at
// quantiles of the `n` sorted edges, where the pieces crowd now, a quarter at
// even steps across the page, so that no part of it is one huge cell, and a
// quarter at even steps across [focusFrom, focusTo), where the next pieces
// are likeliest to be made; equal ones merge.
std::uint32_t PickCuts(const Wide* edges, std::uint32_t n, Wide extent, Wide focusFrom,
                       Wide focusTo, std::uint32_t spans, Wide* cuts) {
  const std::uint32_t wanted = spans - 1;
  const std::uint32_t quantile = wanted / 2;
  const std::uint32_t even = (wanted - quantile) / 2;
  const std::uint32_t focused = wanted - quantile - even;
  const auto focusSpan = static_cast<std::uint64_t>(focusTo - focusFrom);
  // The three rising sequences, merged.
  constexpr Wide kNone = std::numeric_limits<Wide>::max();
  std::uint32_t q = 1;
  std::uint32_t e = 1;
  std::uint32_t f = 1;
  const auto byQuantile = [&] {
    return q <= quantile ? edges[static_cast<std::uint64_t>(q) * n / (quantile + 1)] : kNone;
  };
  const auto byStep = [&] {
    return e <= even ? static_cast<Wide>(static_cast<std::uint64_t>(extent) * e / (even + 1))
                     : kNone;
  };
  const auto byFocus = [&] {
    return f <= focused ? focusFrom + static_cast<Wide>(focusSpan * f / (focused + 1)) : kNone;
  };
  // The next of each, worked out again only when it is taken: each is a
  // division, which costs more than the rest of the step.
  Wide a = byQuantile();
  Wide b = byStep();
  Wide c = byFocus();
  std::uint32_t made = 0;
  for (std::uint32_t taken = 0; taken < wanted; ++taken) {
    Wide cut = 0;
    if (a <= b && a <= c) {
      cut = a;
      ++q;
      a = byQuantile();
    } else if (b <= c) {
      cut = b;
      ++e;
      b = byStep();
    } else {
      cut = c;
      ++f;
      c = byFocus();
    }
    if (cut <= 0 || cut >= extent || (made > 0 && cut <= cuts[made - 1])) continue;
    cuts[made++] = cut;
  }
  return made;
}

// Buckets per span, and per piece the grid is built for: enough that a
// bucket seldom holds more than one cut even where the cuts crowd, down to
// one bucket a unit of the page, and at most kMostBuckets.
constexpr std::uint64_t kBucketsPerSpan = 8;
constexpr std::uint64_t kBucketsPerPiece = 4;
constexpr std::uint64_t kMostBuckets = std::uint64_t{1} << 20;

std::uint32_t BucketShift(Wide extent, std::uint32_t spans, std::uint32_t pieces) {
  const std::uint64_t wanted = std::min(
      kMostBuckets, std::max(kBucketsPerSpan * spans, kBucketsPerPiece * std::uint64_t{pieces}));
  std::uint32_t shift = 0;
  while ((static_cast<std::uint64_t>(extent - 1) >> shift) + 1 > wanted) ++shift;
  return shift;
}

std::uint32_t BucketsFor(Wide extent, std::uint32_t shift) {
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(extent - 1) >> shift) + 1) + 1;
}

// Sets up the buckets of an axis whose cuts are in place.
void FillBuckets(GridAxis& axis, std::uint32_t shift, std::uint16_t* buckets) {
  const std::uint32_t count = BucketsFor(axis.extent, shift) - 1;
  const std::uint32_t cuts = axis.spans - 1;
  // Bucket b starts at b << shift: the buckets up to the one a cut lies in
  // (or starts at) have the cuts before it at or before their start.
  std::uint32_t b = 0;
  for (std::uint32_t cut = 0; cut < cuts; ++cut) {
    const auto reached = static_cast<std::uint64_t>(axis.cuts[cut] - 1) >> shift;
    const auto end = static_cast<std::uint32_t>(std::min<std::uint64_t>(reached + 1, count));
    if (b >= end) continue;
    std::fill(buckets + b, buckets + end, static_cast<std::uint16_t>(cut));
    b = end;
  }
  std::fill(buckets + b, buckets + count + 1, static_cast<std::uint16_t>(cuts));
  axis.bucketShift = shift;
  axis.bucketCuts = buckets;
}

Wide Clamp(Wide value, Wide extent) { return value < 0 ? 0 : (value > extent ? extent : value); }

// How many columns a grid of `cells` cells should have, so that the typical
// piece is crossed by about as many cuts across as down. Half the cuts of an
// axis lie at quantiles of the sampled edges and half at even steps
// (PickCuts): a piece with i of the E sampled edges strictly inside its
// extent across, and a share f of the page's width, is crossed by about
// C (i / E + f) / 2 of the cuts of C columns; likewise down. The typical
// piece is the median of the sampled pieces by the ratio of the two.
std::uint32_t ColumnsFor(const MaskPiece* const* sample, std::uint32_t count, const Wide* xs,
                         const Wide* ys, std::uint32_t edges, Wide width, Wide height,
                         std::uint64_t cells) {
  // A few dozen pieces tell as much as all.
  constexpr std::uint32_t kShapes = 64;
  const std::uint32_t step = count / kShapes + 1;
  double ratios[kShapes] = {};
  std::uint32_t shapes = 0;
  const auto crossed = [edges](const Wide* sorted, Wide extent, Wide from, Wide to) {
    const auto inside = static_cast<std::ptrdiff_t>(CountEdgesBelow(sorted, edges, to, false)) -
                        static_cast<std::ptrdiff_t>(CountEdgesBelow(sorted, edges, from, true));
    return static_cast<double>(std::max<std::ptrdiff_t>(inside, 0)) / edges +
           static_cast<double>(to - from) / static_cast<double>(extent);
  };
  for (std::uint32_t i = 0; i < count && shapes < kShapes; i += step) {
    const MaskPiece& p = *sample[i];
    const double across = crossed(xs, width, Clamp(p.x, width), Clamp(RightOf(p), width));
    const double down = crossed(ys, height, Clamp(p.y, height), Clamp(BottomOf(p), height));
    if (across > 0 && down > 0) ratios[shapes++] = across / down;
  }
  double ratio = 1;
  if (shapes > 0) {
    std::nth_element(ratios, ratios + shapes / 2, ratios + shapes);
    ratio = ratios[shapes / 2];
  }
  const double columns = std::sqrt(static_cast<double>(cells) / ratio);
  return static_cast<std::uint32_t>(
      std::min(std::max(columns, 1.0),
               std::min(static_cast<double>(kMaxSpans), static_cast<double>(cells))));
}

// Whether listings should hold left and right edges: when the typical frame
// covers a smaller share of a column than of a row, by a clear margin. Near
// a tie top and bottom edges are kept: a page of tiny frames packed close
// (about as wide as high) went 10% slower holding the others.
bool HoldColumns(const PieceGrid& grid, const FrameSizes& frames) {
  constexpr double kMargin = 2;
  const double columnWidth =
      static_cast<double>(grid.columns.extent) / static_cast<double>(grid.columns.spans);
  const double rowHeight =
      static_cast<double>(grid.rows.extent) / static_cast<double>(grid.rows.spans);
  return frames.widths * rowHeight * kMargin < frames.heights * columnWidth;
}

}  // namespace

CellRange CellsOfBox(const PieceGrid& grid, Wide left, Wide top, Wide right, Wide bottom) {
  return CellRange{static_cast<std::uint16_t>(SpanOf(grid.columns, left)),
                   static_cast<std::uint16_t>(SpanOf(grid.columns, right - 1)),
                   static_cast<std::uint16_t>(SpanOf(grid.rows, top)),
                   static_cast<std::uint16_t>(SpanOf(grid.rows, bottom - 1))};
}

bool BuildGrid(PieceGrid& grid, std::int32_t pageWidth, std::int32_t pageHeight,
               const GridFocus& focus, const FrameSizes& frames, bool keepBounds, MaskPiece* first,
               std::uint32_t count) {
  grid = PieceGrid{};
  grid.freeEntry = kNoEntry;
  grid.keepsBounds = keepBounds;
  const Wide width = pageWidth;
  const Wide height = pageHeight;

  // A sample of the pieces, and their edges sorted along each axis.
  const std::uint32_t sampleSize =
      std::min(kSample, std::max(kFewestSampled, count / kSampleEvery));
  const std::uint32_t stride = count / sampleSize + 1;
  const std::size_t sampled = (count + stride - 1) / stride;
  const std::size_t edges = 2 * sampled;
  // The sample holds pointers: the size of a pointer is what is meant.
  const std::size_t pointerSize = sizeof(MaskPiece*);  // NOLINT(bugprone-sizeof-expression)
  void* scratch = AllocateBlock(edges * 3 * sizeof(Wide) + sampled * pointerSize);
  if (scratch == nullptr) return false;
  Wide* xs = static_cast<Wide*>(scratch);
  Wide* ys = xs + edges;
  Wide* spare = ys + edges;
  auto** sample = reinterpret_cast<MaskPiece**>(spare + edges);
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
  SortEdges(xs, spare, sorted, width);
  SortEdges(ys, spare, sorted, height);

  // About one cell for every few pieces, as many columns against rows as the
  // typical piece is wide against high, so that it covers about one cell.
  const std::uint64_t wanted =
      std::min<std::uint64_t>(std::max<std::uint64_t>(count * kCellsPerPiece, 1), kMaxCells);
  const std::uint32_t columns =
      ColumnsFor(sample, static_cast<std::uint32_t>(k), xs, ys, sorted, width, height, wanted);
  const auto rows = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::max<std::uint64_t>(wanted / columns, 1), kMaxSpans));

  const std::uint32_t columnShift = BucketShift(width, columns, count);
  const std::uint32_t rowShift = BucketShift(height, rows, count);
  const std::uint32_t columnBuckets = BucketsFor(width, columnShift);
  const std::uint32_t rowBuckets = BucketsFor(height, rowShift);
  const std::uint64_t cellCount = std::uint64_t{columns} * rows;
  const std::size_t layoutSize = (std::size_t{columns} + rows) * sizeof(Wide) +
                                 static_cast<std::size_t>(cellCount) * sizeof(GridCell) +
                                 (std::size_t{columnBuckets} + rowBuckets) * sizeof(std::uint16_t);
  grid.layout = AllocateBlock(layoutSize);
  if (grid.layout == nullptr) {
    ReleaseBlock(scratch);
    return false;
  }
  Wide* columnCuts = static_cast<Wide*>(grid.layout);
  Wide* rowCuts = columnCuts + columns;
  grid.columns = GridAxis{width,
                          1 + PickCuts(xs, sorted, width, Clamp(focus.left, width),
                                       Clamp(focus.right, width), columns, columnCuts),
                          columnCuts, 0, nullptr};
  grid.rows = GridAxis{height,
                       1 + PickCuts(ys, sorted, height, Clamp(focus.top, height),
                                    Clamp(focus.bottom, height), rows, rowCuts),
                       rowCuts, 0, nullptr};
  ReleaseBlock(scratch);
  grid.cells = reinterpret_cast<GridCell*>(rowCuts + rows);
  auto* buckets = reinterpret_cast<std::uint16_t*>(grid.cells + cellCount);
  FillBuckets(grid.columns, columnShift, buckets);
  FillBuckets(grid.rows, rowShift, buckets + columnBuckets);
  grid.holdsColumns = HoldColumns(grid, frames);

  // The listings are laid out cell by cell, so that a cell's chain runs
  // through neighbouring entries: first each cell's count, then where each
  // cell's listings end, then the listings themselves.
  const std::uint32_t cellsUsed = grid.columns.spans * grid.rows.spans;
  // Each cell's `first` counts its listings, then marks where they end.
  GridCell* cells = grid.cells;
  for (std::uint32_t cell = 0; cell < cellsUsed; ++cell) cells[cell] = GridCell{0, 0, kNoBounds};
  std::uint64_t listings = 0;
  for (MaskPiece* p = first; p != nullptr; p = p->next) {
    p->cells = CellsOf(grid, *p);
    p->listed = true;
    ForCells(grid.columns.spans, p->cells, [&](std::uint32_t cell) { ++cells[cell].first; });
    listings += std::uint64_t{p->cells.lastColumn - p->cells.firstColumn + 1u} *
                (p->cells.lastRow - p->cells.firstRow + 1u);
  }
  // Room for as many again, as the pieces are split.
  if (!ReserveEntries(grid, listings + listings / 2 + count)) {
    ReleaseGrid(grid);
    return false;
  }
  std::uint32_t end = 0;
  for (std::uint32_t cell = 0; cell < cellsUsed; ++cell) {
    end += cells[cell].first;
    cells[cell].first = end - cells[cell].first;  // for now, where the cell's listings begin
  }
  // Each listing is linked to the one after it, and the last of each cell's
  // to none once all are in place.
  for (MaskPiece* p = first; p != nullptr; p = p->next) {
    GridEntry listing = ListingOf(grid, *p);
    ForCells(grid.columns.spans, p->cells, [&](std::uint32_t cell) {
      const std::uint32_t at = cells[cell].first++;
      listing.next = LinkOf(at + 1);
      grid.entries[at] = listing;
    });
  }
  // Each cell's listings are [end of the cell before, end of the cell).
  for (std::uint32_t cell = cellsUsed; cell-- > 0;) {
    const std::uint32_t begin = cell > 0 ? cells[cell - 1].first : 0;
    const std::uint32_t finish = cells[cell].first;
    if (begin < finish) grid.entries[finish - 1].next = kNoEntry;
    cells[cell].first = begin < finish ? LinkOf(begin) : kNoEntry;
    cells[cell].built = cells[cell].first;
  }
  grid.entriesUsed = end;
  grid.builtListings = end;
  grid.live = true;
  grid.builtFor = count;
  return true;
}

void ReleaseGrid(PieceGrid& grid) {
  ReleaseBlock(grid.layout);
  ReleaseBlock(grid.entries);
  ReleaseBlock(grid.bounds);
  ReleaseBlock(grid.found);
  grid = PieceGrid{};
}

bool GridWorn(const PieceGrid& grid, std::uint32_t pieceCount) {
  // Twice as many entries a cell as when the grid was built are fair wear;
  // what lookups step over beyond that is wasted.
  // Asked before every frame: compared multiplied out, without a division.
  const std::uint64_t cells = std::uint64_t{grid.columns.spans} * grid.rows.spans;
  const std::uint64_t size = cells + grid.entriesUsed + pieceCount;
  return grid.entriesSeen * cells >
         2 * grid.cellsSeen * grid.builtListings + (2 * grid.cellsSeen + kWorn * size) * cells;
}

void AddToGrid(PieceGrid& grid, MaskPiece& piece) {
  piece.listed = true;
  if (grid.broken) return;
  const GridEntry listing = ListingOf(grid, piece);
  ForCells(grid.columns.spans, piece.cells, [&](std::uint32_t cell) {
    if (!grid.broken) AddEntry(grid, cell, listing);
  });
}

void RemoveFromGrid(PieceGrid& grid, MaskPiece& piece) {
  if (!grid.broken) {
    ForCells(grid.columns.spans, piece.cells,
             [&](std::uint32_t cell) { RemoveEntry(grid, cell, piece); });
  }
  piece.listed = false;
}

void ShrinkInGrid(PieceGrid& grid, const MaskPiece& piece, const CellRange& was) {
  if (grid.broken) return;
  ForCellsOutside(grid.columns.spans, was, piece.cells,
                  [&](std::uint32_t cell) { RemoveEntry(grid, cell, piece); });
}

// Makes room in grid.found, full with `count` pieces, for one more; without
// the memory for it the grid is broken.
bool MakeRoomForOneMore(PieceGrid& grid, std::uint32_t count) {
  if (Reserve(grid.found, grid.foundCapacity, count, std::uint64_t{count} + 1)) return true;
  grid.broken = true;
  return false;
}

// Whether grid.found, holding `count` pieces, has room for one more, made if
// need be.
inline bool RoomForOneMore(PieceGrid& grid, std::uint32_t count) {
  return count < grid.foundCapacity || MakeRoomForOneMore(grid, count);
}

bool LookupCostsMore(const PieceGrid& grid, const CellRange& box, std::uint64_t steps) {
  // The box's cells and their share of the listings, against `steps`, multiplied
  // out.
  const std::uint64_t cells =
      std::uint64_t{box.lastColumn - box.firstColumn + 1u} * (box.lastRow - box.firstRow + 1u);
  const std::uint64_t all = std::uint64_t{grid.columns.spans} * grid.rows.spans;
  return cells * (all + grid.entriesUsed) > steps * all;
}

std::uint32_t Collect(PieceGrid& grid, const CellRange& box, Wide left, Wide top, Wide right,
                      Wide bottom) {
  if (grid.broken) return 0;
  std::uint32_t count = 0;
  std::uint64_t entriesSeen = 0;
  // The box's edges as the listings hold them. Pieces lie on the page while
  // frames are carved, so on a page no longer than kLargestHeldEdge along
  // the held axis the box may be held to it too; on a longer page no listing
  // is passed over.
  const bool held = EdgesHeld(grid);
  const Wide boxFrom = grid.holdsColumns ? left : top;
  const Wide boxTo = grid.holdsColumns ? right : bottom;
  const std::int32_t heldFrom = held ? Held(boxFrom) : -1;
  const std::int32_t heldTo = held ? Held(boxTo) : kLargestHeldEdge + 1;
  // Whether held edges (or bounds) miss the box.
  const auto misses = [&](std::uint16_t from, std::uint16_t to) {
    return from >= heldTo || to <= heldFrom;
  };
  // Takes the piece of a listing that does not miss the box when it overlaps
  // the box, in the first of the box's cells it lies in; false when memory
  // for it ran out.
  const auto take = [&](const GridEntry& listing, std::uint32_t column, std::uint32_t row) {
    // grid.found grows with what a lookup finds, not with the region; there
    // is always room for one more, written before it is judged.
    if (!RoomForOneMore(grid, count)) return false;
    MaskPiece* piece = listing.piece;
    // A piece spanning several of the box's cells is taken in the first of
    // them only.
    const CellRange& at = piece->cells;
    if (column != std::max<std::uint32_t>(at.firstColumn, box.firstColumn) ||
        row != std::max<std::uint32_t>(at.firstRow, box.firstRow)) {
      return true;
    }
    // Whether it overlaps the box, in one branchless sum: which edge keeps a
    // piece out is hard to predict.
    grid.found[count] = piece;
    count += Bit(piece->x < right) & Bit(RightOf(*piece) > left) & Bit(piece->y < bottom) &
             Bit(BottomOf(*piece) > top);
    return true;
  };
  for (std::uint32_t row = box.firstRow; row <= box.lastRow; ++row) {
    const GridCell* cells = &grid.cells[CellIndex(grid, 0, row)];
    for (std::uint32_t column = box.firstColumn; column <= box.lastColumn; ++column) {
      const std::uint32_t built = grid.keepsBounds ? cells[column].built : cells[column].first;
      std::uint32_t link = cells[column].first;
      // The added listings, until none from one on reaches the box; then
      // those the build laid out. A listing's bounds hold its own edges, so
      // only one that misses the box can end the added ones.
      while (link != built) {
        const GridEntry& listing = EntryAt(grid, link);
        ++entriesSeen;
        if (!misses(listing.from, listing.to)) {
          if (!take(listing, column, row)) return count;
        } else if (const HeldBounds rest = BoundsAt(grid, link); misses(rest.from, rest.to)) {
          link = built;
          break;
        }
        link = listing.next;
      }
      for (; link != kNoEntry; link = EntryAt(grid, link).next) {
        const GridEntry& listing = EntryAt(grid, link);
        ++entriesSeen;
        if (!misses(listing.from, listing.to) && !take(listing, column, row)) return count;
      }
    }
  }
  grid.cellsSeen +=
      std::uint64_t{box.lastColumn - box.firstColumn + 1u} * (box.lastRow - box.firstRow + 1u);
  grid.entriesSeen += entriesSeen;
  return count;
}

void ListInRow(PieceGrid& grid, MaskPiece& piece, std::uint32_t row) {
  const GridEntry listing = ListingOf(grid, piece);
  for (std::uint32_t column = piece.cells.firstColumn;
       column <= piece.cells.lastColumn && !grid.broken; ++column) {
    AddEntry(grid, CellIndex(grid, column, row), listing);
  }
}

const char* GridFault(const PieceGrid& grid, const MaskPiece* first, std::uint32_t count,
                      std::uint32_t listedUpTo) {
  std::uint64_t entries = 0;
  const std::uint64_t cellCount = std::uint64_t{grid.columns.spans} * grid.rows.spans;
  for (std::uint64_t cell = 0; cell < cellCount; ++cell) {
    // Each added listing's bounds hold its own edges and those of the added
    // listing after it, whose bounds hold the rest; the cell's hold the
    // first's.
    const GridCell& at = grid.cells[cell];
    const std::uint32_t built = at.built;
    bool added = true;
    HeldBounds after = at.added;
    for (std::uint32_t e = at.first; e != kNoEntry; e = EntryAt(grid, e).next) {
      if (++entries > grid.entriesUsed) return "a grid cell's chain does not end";
      if (e == built) added = false;
      if (!added || !grid.keepsBounds) continue;
      const GridEntry& listing = EntryAt(grid, e);
      const HeldBounds own = BoundsAt(grid, e);
      if (after.from > own.from || after.to < own.to || own.from > listing.from ||
          own.to < listing.to) {
        return "a grid listing's bounds leave out a listing after it";
      }
      after = own;
    }
    if (added && built != kNoEntry) return "a grid cell's chain has lost the listings laid out";
  }
  std::uint64_t listings = 0;
  std::uint64_t pieces = 0;
  for (const MaskPiece* p = first; p != nullptr && pieces < count; p = p->next, ++pieces) {
    const CellRange range = CellsOf(grid, *p);
    if (std::memcmp(&range, &p->cells, sizeof(range)) != 0) {
      return "a piece's grid cells are not those it covers";
    }
    if (!p->listed) {
      if (p->stamp <= listedUpTo) return "a piece that should be in the grid is not";
      continue;
    }
    listings += std::uint64_t{range.lastColumn - range.firstColumn + 1u} *
                (range.lastRow - range.firstRow + 1u);
    const char* fault = nullptr;
    ForCells(grid.columns.spans, range, [&](std::uint32_t cell) {
      int times = 0;
      for (std::uint32_t e = grid.cells[cell].first; e != kNoEntry; e = EntryAt(grid, e).next) {
        if (EntryAt(grid, e).piece == p) ++times;
      }
      if (times != 1) fault = "a piece is not listed exactly once in one of its grid cells";
    });
    if (fault != nullptr) return fault;
  }
  // Every listed piece is in each of its cells once; any further listing is
  // wrong.
  if (entries != listings) return "a grid cell lists a piece that does not overlap it";
  std::uint64_t freeEntries = 0;
  for (std::uint32_t e = grid.freeEntry; e != kNoEntry; e = EntryAt(grid, e).next) {
    if (++freeEntries > grid.entriesUsed) return "the grid's free entries are not chained";
  }
  if (freeEntries + entries != grid.entriesUsed) return "the grid loses entries";
  return nullptr;
}

}  // namespace masking
