// Sorting a grid's sampled piece edges, and counting among them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "masking/mask_piece.h"

namespace masking {

// Puts `count` values between 0 and `largest` in order, using `spare`, room
// for as many: a radix sort, a byte at a time. A comparison sort's branches
// guess wrong about every other time on edges in no order; building a grid
// for a few hundred pieces spent a third of its mispredicted branches there.
inline void SortEdges(Wide* values, Wide* spare, std::uint32_t count, Wide largest) {
  constexpr unsigned kDigitBits = 8;
  constexpr std::uint32_t kDigitValues = 1u << kDigitBits;
  const auto top = static_cast<std::uint64_t>(largest);
  Wide* from = values;
  Wide* to = spare;
  for (unsigned shift = 0; shift < 64 && (top >> shift) != 0; shift += kDigitBits) {
    const auto digit = [shift](Wide value) {
      return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) >> shift) &
             (kDigitValues - 1);
    };
    std::uint32_t starts[kDigitValues] = {};
    for (std::uint32_t i = 0; i < count; ++i) ++starts[digit(from[i])];
    std::uint32_t sum = 0;
    for (std::uint32_t& start : starts) {
      const std::uint32_t inDigit = start;
      start = sum;
      sum += inDigit;
    }
    for (std::uint32_t i = 0; i < count; ++i) to[starts[digit(from[i])]++] = from[i];
    std::swap(from, to);
  }
  if (from != values) std::memcpy(values, from, std::size_t{count} * sizeof(Wide));
}

// How many of the `count` sorted values lie below `value` (or, `orAt`, at or
// below it), halving without a branch on the values: on edges in no order a
// branching search goes the wrong way about every other step, and sizing a
// grid for a few hundred pieces searches some five hundred times.
inline std::uint32_t CountEdgesBelow(const Wide* sorted, std::uint32_t count, Wide value,
                                     bool orAt) {
  if (count == 0) return 0;
  const Wide* base = sorted;
  std::uint32_t left = count;
  while (left > 1) {
    const std::uint32_t half = left / 2;
    base = (orAt ? base[half] <= value : base[half] < value) ? base + half : base;
    left -= half;
  }
  return static_cast<std::uint32_t>(base - sorted) + Bit(orAt ? *base <= value : *base < value);
}

}  // namespace masking
