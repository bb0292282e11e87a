#include "hostsim/cp932.h"

#ifndef _WIN32

#include <iconv.h>

#include <cerrno>
#include <cstddef>

namespace hostsim {
namespace {

// Runs the whole of `text` through iconv. Any conversion error (invalid or
// incomplete input, unrepresentable character, unavailable converter) makes
// the caller fall back to the original text.
bool Convert(const char* to, const char* from, std::string_view text, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  // iconv_open's failure value is (iconv_t)-1 by its definition.
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;  // NOLINT(performance-no-int-to-ptr)
  out.clear();
  std::string input(text);
  char* in = input.data();
  std::size_t inLeft = input.size();
  char buffer[256];
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  if (ok) {
    // Flush any shift state (none for these encodings, but cheap to do right).
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      ok = false;
    } else {
      out.append(buffer, sizeof buffer - outLeft);
    }
  }
  iconv_close(cd);
  return ok;
}

std::string ConvertOrKeep(const char* to, const char* from, std::string_view text) {
  std::string out;
  if (Convert(to, from, text, out)) return out;
  return std::string(text);
}

}  // namespace

std::string Cp932ToUtf8(std::string_view text) { return ConvertOrKeep("UTF-8", "CP932", text); }

std::string Utf8ToCp932(std::string_view text) { return ConvertOrKeep("CP932", "UTF-8", text); }

}  // namespace hostsim

#endif  // _WIN32
