#include "masking/edge_set.h"

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
  // Fibonacci hashing spreads edges that are close together.
  const std::uint64_t mixed = static_cast<std::uint64_t>(edge) * 0x9E3779B97F4A7C15u;
  return static_cast<std::uint32_t>(mixed >> 32) & mask;
}

bool MakePlaces(EdgeSet& set, std::uint64_t size) {
  if (size > (std::uint64_t{1} << 31) ||
      size > std::numeric_limits<std::size_t>::max() / sizeof(Wide)) {
    return false;
  }
  set.places = static_cast<Wide*>(AllocateBlock(static_cast<std::size_t>(size) * sizeof(Wide)));
  if (set.places == nullptr) return false;
  for (std::uint64_t i = 0; i < size; ++i) set.places[i] = kNoEdge;
  set.mask = static_cast<std::uint32_t>(size - 1);
  set.used = 0;
  return true;
}

void Place(EdgeSet& set, Wide edge) {
  std::uint32_t place = PlaceOf(edge, set.mask);
  while (set.places[place] != kNoEdge && set.places[place] != edge) place = (place + 1) & set.mask;
  if (set.places[place] == kNoEdge) {
    set.places[place] = edge;
    ++set.used;
  }
}

bool Insert(EdgeSet& set, Wide edge) {
  if (2 * (std::uint64_t{set.used} + 1) > std::uint64_t{set.mask} + 1) {
    EdgeSet larger{};
    if (!MakePlaces(larger, 2 * (std::uint64_t{set.mask} + 1))) return false;
    for (std::uint32_t i = 0; i <= set.mask; ++i) {
      if (set.places[i] != kNoEdge) Place(larger, set.places[i]);
    }
    ReleaseBlock(set.places);
    set = larger;
  }
  Place(set, edge);
  return true;
}

}  // namespace

bool CollectEdges(EdgeSet& tops, EdgeSet& bottoms, const MaskPiece* first) {
  tops = EdgeSet{};
  bottoms = EdgeSet{};
  bool complete = MakePlaces(tops, kFirstPlaces) && MakePlaces(bottoms, kFirstPlaces);
  for (const MaskPiece* p = first; p != nullptr && complete; p = p->next) {
    complete = Insert(tops, p->y) && Insert(bottoms, BottomOf(*p));
  }
  if (!complete) ReleaseEdges(tops, bottoms);
  return complete;
}

bool HasEdge(const EdgeSet& set, Wide edge) {
  for (std::uint32_t place = PlaceOf(edge, set.mask);; place = (place + 1) & set.mask) {
    if (set.places[place] == edge) return true;
    if (set.places[place] == kNoEdge) return false;
  }
}

void ReleaseEdges(EdgeSet& tops, EdgeSet& bottoms) {
  ReleaseBlock(tops.places);
  ReleaseBlock(bottoms.places);
  tops = EdgeSet{};
  bottoms = EdgeSet{};
}

}  // namespace masking
