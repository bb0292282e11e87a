// Code page 932 conversions through iconv.
#include <iconv.h>

#include <cerrno>
#include <cstddef>

#include "hostsim/cp932.h"

namespace hostsim {
namespace {

// iconv_open's failure value is (iconv_t)-1 by its definition.
bool Unavailable(iconv_t cd) {
  return cd == reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
}

// One converter per direction, opened on first use and kept: opening one
// costs far more than a conversion, and attribute names are converted on
// every call of the host API that takes one. One that could not be opened
// (memory ran short) is tried again next time. Single-threaded, like the
// stand-in.
iconv_t Converter(bool toUtf8) {
  static iconv_t converters[2] = {
      reinterpret_cast<iconv_t>(-1),   // NOLINT(performance-no-int-to-ptr)
      reinterpret_cast<iconv_t>(-1)};  // NOLINT(performance-no-int-to-ptr)
  iconv_t& converter = converters[toUtf8 ? 1 : 0];
  if (Unavailable(converter)) {
    converter = toUtf8 ? iconv_open("UTF-8", "CP932") : iconv_open("CP932", "UTF-8");
  }
  return converter;
}

enum class Step { kDone, kBadInput, kUnavailable };

// Converts `text` into `out`; on bad input `consumed` tells how far it got.
Step Convert(iconv_t cd, std::string_view text, std::string& out, std::size_t& consumed) {
  out.clear();
  consumed = 0;
  if (Unavailable(cd)) return Step::kUnavailable;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  // iconv takes a non-const input pointer but never writes through it.
  char* in = const_cast<char*>(text.data());  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  std::size_t inLeft = text.size();
  char buffer[512];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      consumed = text.size() - inLeft;
      return Step::kBadInput;
    }
  }
  consumed = text.size();
  return Step::kDone;
}

Conversion ConvertAll(bool toUtf8, std::string_view text, std::string& out) {
  std::size_t consumed = 0;
  switch (Convert(Converter(toUtf8), text, out, consumed)) {
    case Step::kDone:
      return Conversion::kDone;
    case Step::kBadInput:
      return Conversion::kNotHeld;
    case Step::kUnavailable:
      break;
  }
  return Conversion::kFailed;
}

std::optional<std::string> ConvertAll(bool toUtf8, std::string_view text) {
  std::string out;
  if (ConvertAll(toUtf8, text, out) != Conversion::kDone) return std::nullopt;
  return out;
}

}  // namespace

Conversion Cp932ToUtf8(std::string_view text, std::string& out) {
  return ConvertAll(true, text, out);
}

Conversion Utf8ToCp932(std::string_view text, std::string& out) {
  return ConvertAll(false, text, out);
}

std::optional<std::string> Cp932ToUtf8(std::string_view text) { return ConvertAll(true, text); }

std::optional<std::string> Utf8ToCp932(std::string_view text) { return ConvertAll(false, text); }

std::string Cp932ToUtf8ForDisplay(std::string_view text) {
  static const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
  std::string result;
  std::string piece;
  while (!text.empty()) {
    std::size_t consumed = 0;
    const Step step = Convert(Converter(true), text, piece, consumed);
    result += piece;
    if (step == Step::kDone) break;
    if (step == Step::kUnavailable) consumed = 0;
    // Skip one byte that is not part of a character and go on after it.
    result += kReplacement;
    text.remove_prefix(consumed + 1);
  }
  return result;
}

}  // namespace hostsim
