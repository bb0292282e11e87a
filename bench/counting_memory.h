// The engine's memory for the benchmarks: plain malloc, counting what is held
// at once. Compiled once for this tree's engine and once (its namespace
// renamed) for an earlier tree's.
#pragma once

#include <cstddef>

namespace masking {

// Starts counting afresh.
void ResetMemoryCount();
// The most bytes held at once, and the requests, since the last reset.
std::size_t PeakBytes();
std::size_t Requests();

}  // namespace masking
