#include "masking/memory.h"

#include <cstdlib>

void* AllocateBlock(std::size_t size) { return std::malloc(size); }

void ReleaseBlock(void* block) { std::free(block); }
