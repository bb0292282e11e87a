#include "bench/counting_memory.h"

#include <cstddef>
#include <cstdlib>

#include "masking/memory.h"

namespace masking {
namespace {

// Each block carries its size in front, in a header that keeps the block
// aligned for any object.
constexpr std::size_t kHeader = alignof(std::max_align_t);
std::size_t held = 0;
std::size_t peak = 0;
std::size_t requests = 0;

}  // namespace

void* AllocateBlock(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(kHeader + size));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  held += size;
  if (held > peak) peak = held;
  ++requests;
  return block + kHeader;
}

void ReleaseBlock(void* block) {
  if (block == nullptr) return;
  unsigned char* start = static_cast<unsigned char*>(block) - kHeader;
  held -= *reinterpret_cast<std::size_t*>(start);
  std::free(start);
}

void ResetMemoryCount() {
  peak = held;
  requests = 0;
}

std::size_t PeakBytes() { return peak; }
std::size_t Requests() { return requests; }

}  // namespace masking
