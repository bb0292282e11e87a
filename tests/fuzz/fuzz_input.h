// Reading a fuzzer's bytes as the fields of a test case, front to back.
//
// The format is plain little-endian so that seed inputs can be written by
// hand (see tests/fuzz/make_seeds.py); once the bytes run out every field
// reads as zero, so any input, however short, is a complete case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return position_ >= size_; }

  std::uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }

  std::uint32_t Uint32() {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) value |= std::uint32_t{Byte()} << shift;
    return value;
  }

  std::int32_t Int32() { return static_cast<std::int32_t>(Uint32()); }

  // A length byte, then that many bytes (fewer if the input ends).
  std::string String() {
    const std::size_t length = Byte();
    std::string text;
    while (text.size() < length && !Empty()) text.push_back(static_cast<char>(Byte()));
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};
