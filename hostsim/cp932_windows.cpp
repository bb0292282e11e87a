// Code page 932 conversions through the Windows API.
#include <windows.h>

#include "hostsim/cp932.h"

namespace hostsim {
namespace {

constexpr UINT kCodePage932 = 932;

// Bad input is text the code page does not hold; any other failure is the
// system's.
Conversion Failed() {
  return GetLastError() == ERROR_NO_UNICODE_TRANSLATION ? Conversion::kNotHeld
                                                        : Conversion::kFailed;
}

Conversion ToWide(UINT codePage, std::string_view text, DWORD flags, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return Conversion::kDone;
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return Failed();
  wide.assign(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
  return Conversion::kDone;
}

Conversion FromWide(UINT codePage, const std::wstring& wide, std::string& out) {
  out.clear();
  if (wide.empty()) return Conversion::kDone;
  const int size = static_cast<int>(wide.size());
  const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPointer = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const int length =
      WideCharToMultiByte(codePage, flags, wide.c_str(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return Failed();
  out.assign(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, flags, wide.c_str(), size, out.data(), length, nullptr,
                      usedDefaultPointer);
  return usedDefault ? Conversion::kNotHeld : Conversion::kDone;
}

Conversion Convert(UINT from, UINT to, std::string_view text, std::string& out) {
  std::wstring wide;
  const Conversion result = ToWide(from, text, MB_ERR_INVALID_CHARS, wide);
  return result != Conversion::kDone ? result : FromWide(to, wide, out);
}

std::optional<std::string> Converted(UINT from, UINT to, std::string_view text) {
  std::string out;
  if (Convert(from, to, text, out) != Conversion::kDone) return std::nullopt;
  return out;
}

}  // namespace

Conversion Cp932ToUtf8(std::string_view text, std::string& out) {
  return Convert(kCodePage932, CP_UTF8, text, out);
}

Conversion Utf8ToCp932(std::string_view text, std::string& out) {
  return Convert(CP_UTF8, kCodePage932, text, out);
}

std::optional<std::string> Cp932ToUtf8(std::string_view text) {
  return Converted(kCodePage932, CP_UTF8, text);
}

std::optional<std::string> Utf8ToCp932(std::string_view text) {
  return Converted(CP_UTF8, kCodePage932, text);
}

std::string Cp932ToUtf8ForDisplay(std::string_view text) {
  // Without MB_ERR_INVALID_CHARS bytes that are not code page 932 become
  // U+FFFD (or the code page's default character).
  std::wstring wide;
  std::string utf8;
  if (ToWide(kCodePage932, text, 0, wide) != Conversion::kDone ||
      FromWide(CP_UTF8, wide, utf8) != Conversion::kDone) {
    return std::string();
  }
  return utf8;
}

}  // namespace hostsim
