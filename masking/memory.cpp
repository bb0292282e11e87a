#include "masking/memory.h"

#include <cstdlib>

namespace masking {

void* AllocateBlock(std::size_t size) { return std::malloc(size); }

void ReleaseBlock(void* block) { std::free(block); }

}  // namespace masking
