// Stands in for the earlier tree's region when the benchmark has none.
#include <cstdint>
#include <vector>

#include "bench/region_engines.h"

namespace bench {
namespace earlier {

bool Available() { return false; }
std::int64_t FullWork(const std::vector<Frame>&) { return -1; }
Carved Carve(const std::vector<Frame>&) { return Carved{-1, -1, -1}; }
MemoryUse Memory(const std::vector<Frame>&) { return MemoryUse{0, 0}; }

}  // namespace earlier
}  // namespace bench
