// Memory for the engine's own nodes and message texts.
//
// Allocation failure is an ordinary result here (null), never an exception.
// The product links memory.cpp; tests link an allocator that can be told to
// fail the n-th request, to prove that every shortage is handled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace masking {

// Whether `count` elements of `size` bytes fit in one block, on a 32-bit
// system too.
inline bool Addressable(std::uint64_t count, std::size_t size) {
  return count <= std::numeric_limits<std::size_t>::max() / size;
}

// Returns `size` bytes suitably aligned for any object, or null when memory
// has run out.
void* AllocateBlock(std::size_t size);
// Releases a block from AllocateBlock; null is ignored.
void ReleaseBlock(void* block);

}  // namespace masking
