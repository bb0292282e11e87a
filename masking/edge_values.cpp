#include "masking/edge_values.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "masking/memory.h"

namespace masking {

bool NoteEdgeValues(EdgeValues& values, const MaskPiece* first, std::uint32_t count) {
  std::uint32_t bits = kFewestEdgeValueBits;
  while (bits < kMostEdgeValueBits && bits / 8 < count) bits *= 2;
  values.mask = bits - 1;
  const std::size_t size = std::size_t{2} * (bits / 64) * sizeof(std::uint64_t);
  values.bits = static_cast<std::uint64_t*>(AllocateBlock(size));
  if (values.bits == nullptr) return false;
  std::memset(values.bits, 0, size);
  std::uint32_t noted = 0;
  for (const MaskPiece* p = first; p != nullptr && noted < count; p = p->next, ++noted) {
    NoteEdge(values, false, p->y);
    NoteEdge(values, true, BottomOf(*p));
  }
  return true;
}

void ReleaseEdgeValues(EdgeValues& values) {
  ReleaseBlock(values.bits);
  values.bits = nullptr;
}

}  // namespace masking
