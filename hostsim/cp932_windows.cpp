// Code page 932 conversions through the Windows API.
#include <windows.h>

#include "hostsim/cp932.h"

namespace hostsim {
namespace {

constexpr UINT kCodePage932 = 932;

std::optional<std::wstring> ToWide(UINT codePage, std::string_view text, DWORD flags) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
  return wide;
}

std::optional<std::string> FromWide(UINT codePage, const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPointer = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const int length =
      WideCharToMultiByte(codePage, flags, wide.c_str(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, flags, wide.c_str(), size, out.data(), length, nullptr,
                      usedDefaultPointer);
  if (usedDefault) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::string> Cp932ToUtf8(std::string_view text) {
  const auto wide = ToWide(kCodePage932, text, MB_ERR_INVALID_CHARS);
  if (!wide) return std::nullopt;
  return FromWide(CP_UTF8, *wide);
}

std::optional<std::string> Utf8ToCp932(std::string_view text) {
  const auto wide = ToWide(CP_UTF8, text, MB_ERR_INVALID_CHARS);
  if (!wide) return std::nullopt;
  return FromWide(kCodePage932, *wide);
}

std::string Cp932ToUtf8ForDisplay(std::string_view text) {
  // Without MB_ERR_INVALID_CHARS bytes that are not code page 932 become
  // U+FFFD (or the code page's default character).
  const auto wide = ToWide(kCodePage932, text, 0);
  if (!wide) return std::string();
  const auto utf8 = FromWide(CP_UTF8, *wide);
  return utf8 ? *utf8 : std::string();
}

}  // namespace hostsim
