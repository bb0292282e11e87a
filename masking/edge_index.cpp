#include "masking/edge_index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "masking/memory.h"

namespace masking {
namespace {

constexpr Wide kNoEdge = std::numeric_limits<Wide>::min();
// Pieces share few distinct edges (a frame's edges are those of many of its
// pieces), so the tables start small and double while more than half full.
constexpr std::uint32_t kFirstPlaces = 64;

std::uint32_t PlaceOf(Wide edge, std::uint32_t mask) {
  // The finalizer of MurmurHash3: edges close together land far apart.
  auto mixed = static_cast<std::uint64_t>(edge);
  mixed ^= mixed >> 33;
  mixed *= 0xFF51AFD7ED558CCDu;
  mixed ^= mixed >> 33;
  return static_cast<std::uint32_t>(mixed) & mask;
}

bool MakeTable(EdgeTable& table, std::uint64_t size) {
  const std::size_t entry = sizeof(Wide) + sizeof(std::uint32_t);
  if (size > (std::uint64_t{1} << 31) || !Addressable(size, entry)) {
    return false;
  }
  void* block = AllocateBlock(static_cast<std::size_t>(size) * entry);
  if (block == nullptr) return false;
  table.values = static_cast<Wide*>(block);
  table.chains = reinterpret_cast<std::uint32_t*>(table.values + size);
  for (std::uint64_t i = 0; i < size; ++i) table.values[i] = kNoEdge;
  table.mask = static_cast<std::uint32_t>(size - 1);
  table.used = 0;
  return true;
}

void ReleaseTable(EdgeTable& table) {
  ReleaseBlock(table.values);
  ReleaseBlock(table.sortedFrom);
  table = EdgeTable{};
}

// The place of `edge`, or of the empty place where it would go.
std::uint32_t Find(const EdgeTable& table, Wide edge) {
  std::uint32_t place = PlaceOf(edge, table.mask);
  while (table.values[place] != kNoEdge && table.values[place] != edge) {
    place = (place + 1) & table.mask;
  }
  return place;
}

// The chain head of `edge`, made if it is new; null when memory ran out.
std::uint32_t* ChainOf(EdgeTable& table, Wide edge) {
  const std::uint32_t known = Find(table, edge);
  if (table.values[known] == edge) return &table.chains[known];
  if (2 * (std::uint64_t{table.used} + 1) > std::uint64_t{table.mask} + 1) {
    EdgeTable larger{};
    if (!MakeTable(larger, 2 * (std::uint64_t{table.mask} + 1))) return nullptr;
    for (std::uint32_t i = 0; i <= table.mask; ++i) {
      if (table.values[i] == kNoEdge) continue;
      const std::uint32_t place = Find(larger, table.values[i]);
      larger.values[place] = table.values[i];
      larger.chains[place] = table.chains[i];
      ++larger.used;
    }
    ReleaseTable(table);
    table = larger;
  }
  const std::uint32_t place = Find(table, edge);
  if (table.values[place] == kNoEdge) {
    table.values[place] = edge;
    table.chains[place] = kNoListing;
    ++table.used;
  }
  return &table.chains[place];
}

bool List(EdgeIndex& index, EdgeTable& table, Wide edge, MaskPiece& piece) {
  std::uint32_t* chain = ChainOf(table, edge);
  if (chain == nullptr || index.used == index.capacity) return false;
  index.listings[index.used] = EdgeListing{&piece, *chain};
  *chain = index.used++;
  return true;
}

bool SpansColumns(const MaskPiece& s, const MaskPiece& q) {
  return s.x <= q.x && RightOf(s) >= RightOf(q);
}

bool EdgeFirst(const EdgeEntry& a, const EdgeEntry& b) {
  return a.edge != b.edge ? a.edge < b.edge : a.x < b.x;
}

// The first listings of every chain of `table`, each chain's sorted by
// column into its own stretch of one array, which the table then points to.
EdgeEntry* SortedListings(const EdgeIndex& index, EdgeTable& table, std::uint32_t count) {
  auto* entries = static_cast<EdgeEntry*>(AllocateBlock(std::size_t{count} * sizeof(EdgeEntry)));
  const std::size_t places = std::size_t{table.mask} + 1;
  table.sortedFrom = static_cast<std::uint32_t*>(AllocateBlock(2 * places * sizeof(std::uint32_t)));
  if (entries == nullptr || table.sortedFrom == nullptr) {
    ReleaseBlock(entries);
    ReleaseBlock(table.sortedFrom);
    table.sortedFrom = nullptr;
    return nullptr;
  }
  table.sortedCount = table.sortedFrom + places;
  std::uint32_t made = 0;
  for (std::uint32_t place = 0; place <= table.mask; ++place) {
    table.sortedFrom[place] = made;
    if (table.values[place] != kNoEdge) {
      for (std::uint32_t l = table.chains[place]; l != kNoListing; l = index.listings[l].next) {
        if (l >= index.first) continue;
        MaskPiece* piece = index.listings[l].piece;
        entries[made++] = EdgeEntry{table.values[place], piece->x, piece};
      }
      std::sort(entries + table.sortedFrom[place], entries + made, EdgeFirst);
    }
    table.sortedCount[place] = made - table.sortedFrom[place];
  }
  return entries;
}

void SortListings(EdgeIndex& index) {
  const std::uint32_t count = index.first / 2;
  index.byTop = SortedListings(index, index.tops, count);
  index.byBottom = index.byTop == nullptr ? nullptr : SortedListings(index, index.bottoms, count);
  if (index.byBottom == nullptr) {
    ReleaseBlock(index.byTop);
    index.byTop = nullptr;
    index.sortFailed = true;
  }
}

// Among `count` listings of one edge sorted by column, the one whose piece
// starts at the largest column not beyond `x`, or null.
const EdgeEntry* Holding(const EdgeEntry* entries, std::uint32_t count, Wide x) {
  std::uint32_t low = 0;
  std::uint32_t high = count;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    if (entries[middle].x <= x) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low == 0 ? nullptr : &entries[low - 1];
}

}  // namespace

bool BuildEdgeIndex(EdgeIndex& index, MaskPiece* first, std::uint32_t count, bool disjoint,
                    std::uint32_t longChain) {
  index = EdgeIndex{};
  index.disjoint = disjoint;
  index.longChain = longChain;
  const std::uint64_t capacity = 3 * std::uint64_t{count};
  if (capacity >= kNoListing || !Addressable(capacity, sizeof(EdgeListing))) {
    return false;
  }
  index.listings = static_cast<EdgeListing*>(
      AllocateBlock(static_cast<std::size_t>(capacity) * sizeof(EdgeListing)));
  index.capacity = static_cast<std::uint32_t>(capacity);
  bool complete = index.listings != nullptr && MakeTable(index.tops, kFirstPlaces) &&
                  MakeTable(index.bottoms, kFirstPlaces);
  for (MaskPiece* p = first; p != nullptr && complete; p = p->next) {
    complete = List(index, index.tops, p->y, *p) && List(index, index.bottoms, BottomOf(*p), *p);
  }
  if (!complete) ReleaseEdgeIndex(index);
  index.first = index.used;
  return complete;
}

void ReleaseEdgeIndex(EdgeIndex& index) {
  ReleaseBlock(index.listings);
  ReleaseBlock(index.byTop);
  ReleaseBlock(index.byBottom);
  if (index.tops.values != nullptr) ReleaseTable(index.tops);
  if (index.bottoms.values != nullptr) ReleaseTable(index.bottoms);
  index = EdgeIndex{};
}

const MaskPiece* NeighbourByEdges(EdgeIndex& index, const MaskPiece& low, bool& below) {
  // Below: a piece whose top edge is the bottom edge of `low`; above: one
  // whose bottom edge is its top edge. Of those spanning its columns, the
  // first in list order is the one with the largest stamp.
  const MaskPiece* first = nullptr;
  bool firstBelow = false;
  const Wide bottom = BottomOf(low);
  const Wide top = low.y;
  const auto consider = [&](const MaskPiece* s) {
    if (first != nullptr && s->stamp <= first->stamp) return;
    const bool isBelow = s->y == bottom && SpansColumns(*s, low);
    const bool isAbove = BottomOf(*s) == top && SpansColumns(*s, low);
    if (isBelow || isAbove) {
      first = s;
      firstBelow = isBelow;
    }
  };
  for (int side = 0; side < 2; ++side) {
    const EdgeTable& table = side == 0 ? index.tops : index.bottoms;
    const Wide edge = side == 0 ? bottom : top;
    const std::uint32_t place = Find(table, edge);
    if (table.values[place] == kNoEdge) continue;
    std::uint32_t walked = 0;
    for (std::uint32_t l = table.chains[place]; l != kNoListing; l = index.listings[l].next) {
      // Moved edges are listed in front of the listings made first.
      if (index.byTop != nullptr && l < index.first) break;
      if (index.byTop == nullptr && index.disjoint && !index.sortFailed &&
          ++walked > index.longChain) {
        SortListings(index);
        if (index.byTop != nullptr) return NeighbourByEdges(index, low, below);
      }
      consider(index.listings[l].piece);
    }
    if (index.byTop != nullptr) {
      const EdgeEntry* sorted =
          (side == 0 ? index.byTop : index.byBottom) + table.sortedFrom[place];
      const EdgeEntry* entry = Holding(sorted, table.sortedCount[place], low.x);
      if (entry != nullptr) consider(entry->piece);
    }
  }
  if (first != nullptr) below = firstBelow;
  return first;
}

void NoteMovedEdge(EdgeIndex& index, MaskPiece& piece, bool bottom) {
  // The new value is that of a piece's same edge, so its chain exists and
  // the table does not grow; the listings have room for one move a piece.
  if (bottom) {
    List(index, index.bottoms, BottomOf(piece), piece);
  } else {
    List(index, index.tops, piece.y, piece);
  }
}

}  // namespace masking
