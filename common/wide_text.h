#pragma once

// On Windows the program's own texts and paths are UTF-8; the system's are UTF-16, and entry
// names are bytes in an ANSI code page. These are the crossings between them.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace sectorsieve {

// Bytes in code page cp as UTF-16; nothing when flags make a failure of a byte sequence that
// means no character there (MB_ERR_INVALID_CHARS).
inline std::optional<std::wstring> ToUtf16(unsigned cp, DWORD flags, std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(cp, flags, text.data(), size, nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(cp, flags, text.data(), size, wide.data(), n);
  return wide;
}

// UTF-16 as UTF-8; nothing when flags make a failure of text that is not UTF-16 (a surrogate
// without its pair, under WC_ERR_INVALID_CHARS).
inline std::optional<std::string> FromUtf16(DWORD flags, std::wstring_view text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const int n =
      ::WideCharToMultiByte(CP_UTF8, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n == 0) return std::nullopt;
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, flags, text.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

// UTF-8 text as UTF-16; a byte that is not UTF-8 becomes U+FFFD.
inline std::wstring Utf16(std::string_view text) { return ToUtf16(CP_UTF8, 0, text).value_or(L""); }

// UTF-16 text as UTF-8, exactly or not at all.
inline std::optional<std::string> Utf8(std::wstring_view text) {
  return FromUtf16(WC_ERR_INVALID_CHARS, text);
}

// Bytes in code page cp as UTF-16, exactly as the system's ANSI functions read them; nothing
// when a byte sequence means no character there.
inline std::optional<std::wstring> Decode(unsigned cp, std::string_view text) {
  return ToUtf16(cp, MB_ERR_INVALID_CHARS, text);
}

// The same, on to UTF-8.
inline std::optional<std::string> DecodeToUtf8(unsigned cp, std::string_view text) {
  const auto wide = Decode(cp, text);
  return wide ? Utf8(*wide) : std::nullopt;
}

// UTF-16 text in code page cp, exactly: nothing when a character has no exact match there, since
// a look-alike would name another file. shown, when given, receives the text with each such
// character as the code page's default ("?").
inline std::optional<std::string> Encode(unsigned cp, std::wstring_view text,
                                         std::string* shown = nullptr) {
  if (text.empty()) return std::string();
  // UTF-8 holds every character, and takes neither the flag nor the question.
  const bool utf8 = cp == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* report = utf8 ? nullptr : &usedDefault;
  const int size = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(cp, flags, text.data(), size, nullptr, 0, nullptr, report);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(cp, flags, text.data(), size, bytes.data(), n, nullptr, report);
  if (shown) *shown = bytes;
  // The way back catches what the flag does not (unpaired surrogates, for one).
  if (n == 0 || usedDefault || Decode(cp, bytes) != text) return std::nullopt;
  return bytes;
}

// path made full against the working folder, as the system makes every path it is given;
// "" when the system will not.
inline std::wstring FullPathOf(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);
  }
}

}  // namespace sectorsieve
