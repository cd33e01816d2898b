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
  return Encode(cp_.Id(), file.native());
}

std::filesystem::path PathOf(const std::string& text) { return Utf16(text); }

}  // namespace sectorsieve::cli
