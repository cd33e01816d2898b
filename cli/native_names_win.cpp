// Entry names on Windows: bytes in a code page, as the system's own conversions read them.

#include <windows.h>

#include <stdexcept>

#include "file_io.h"
#include "native_names.h"
#include "wide_text.h"

namespace sectorsieve::cli {

CodePage NameCodec::Converted(std::optional<unsigned> codePage) {
  const unsigned id = codePage.value_or(::GetACP());
  if (!::IsValidCodePage(id))
    throw std::invalid_argument("code page " + std::to_string(id) +
                                " is not one this system can convert names from");
  return WindowsCodePage(id);
}

std::optional<std::string> NameCodec::ToUtf8(std::string_view name) const {
  return DecodeToUtf8(cp_.Id(), name);
}

std::optional<std::string> NameCodec::EntryName(const std::filesystem::path& file) const {
  const std::wstring& wide = file.native();
  if (wide.empty()) return std::string();
  // A look-alike would name another file. UTF-8 holds every character, and takes neither the
  // flag nor the question.
  const bool utf8 = cp_.Id() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* report = utf8 ? nullptr : &usedDefault;
  const int size = static_cast<int>(wide.size());
  const int n =
      ::WideCharToMultiByte(cp_.Id(), flags, wide.data(), size, nullptr, 0, nullptr, report);
  if (n == 0) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(cp_.Id(), flags, wide.data(), size, bytes.data(), n, nullptr, report);
  // The way back catches what the flag does not (unpaired surrogates, for one).
  if (usedDefault || Decode(cp_.Id(), bytes) != wide) return std::nullopt;
  return bytes;
}

std::filesystem::path PathOf(const std::string& text) { return Utf16(text); }

}  // namespace sectorsieve::cli
