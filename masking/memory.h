// Memory for the engine's own nodes and message texts.
//
// Allocation failure is an ordinary result here (null), never an exception.
// The product links memory.cpp; tests link an allocator that can be told to
// fail the n-th request, to prove that every shortage is handled.
#pragma once

#include <cstddef>

namespace masking {

// Returns `size` bytes suitably aligned for any object, or null when memory
// has run out.
void* AllocateBlock(std::size_t size);
// Releases a block from AllocateBlock; null is ignored.
void ReleaseBlock(void* block);

}  // namespace masking
