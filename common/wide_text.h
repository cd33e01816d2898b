#pragma once

// On Windows the program's own texts and paths are UTF-8; the system's are UTF-16, and entry
// names are bytes in an ANSI code page. These are the crossings between them.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace sectorsieve {

// UTF-8 text as UTF-16; a byte that is not UTF-8 becomes U+FFFD.
inline std::wstring Utf16(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), n);
  return wide;
}

// UTF-16 text as UTF-8; nothing when it is not UTF-16 (a surrogate without its pair).
inline std::optional<std::string> Utf8(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, nullptr, 0,
                                      nullptr, nullptr);
  if (n == 0) return std::nullopt;
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, utf8.data(), n, nullptr,
                        nullptr);
  return utf8;
}

// Bytes in code page cp as UTF-16, exactly as the system's ANSI functions read them; nothing
// when a byte sequence means no character there.
inline std::optional<std::wstring> Decode(unsigned cp, std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
  return wide;
}

}  // namespace sectorsieve
