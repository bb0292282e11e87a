#include "tests/support/failing_memory.h"

#include <cstdlib>

#include "masking/memory.h"

namespace {
long failAt = 0;
long requests = 0;
long live = 0;
bool paused = false;
}  // namespace

void FailAllocationAfter(long n) {
  failAt = n;
  requests = 0;
}

long AllocationRequests() { return requests; }

long LiveBlocks() { return live; }

void PauseAllocationFailures(bool pause) { paused = pause; }

void* masking::AllocateBlock(std::size_t size) {
  if (!paused && ++requests == failAt) return nullptr;
  void* block = std::malloc(size);
  if (block != nullptr) ++live;
  return block;
}

void masking::ReleaseBlock(void* block) {
  if (block == nullptr) return;
  --live;
  std::free(block);
}
