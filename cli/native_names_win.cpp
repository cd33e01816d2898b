// Entry names on Windows: the system's ANSI code page, which the file functions take as is.

#include <windows.h>

#include <stdexcept>

#include "ansi_text.h"
#include "file_io.h"
#include "native_names.h"
#include "wide_text.h"

namespace sectorsieve::cli {

namespace {

const CodePage& SystemOnly(const std::optional<unsigned>& codePage) {
  if (codePage)
    throw std::invalid_argument(
        "--codepage is for Linux only; on Windows, names are in the system's ANSI code page");
  return SystemFileSystem().Ansi();
}

}  // namespace

NameCodec::NameCodec(std::optional<unsigned> codePage) : cp_(SystemOnly(codePage)) {}

std::optional<std::string> NameCodec::ToUtf8(std::string_view name) const {
  if (name.empty()) return std::string();
  const int size = static_cast<int>(name.size());
  const int n = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), size, wide.data(), n);
  const int m = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(m), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, utf8.data(), m, nullptr, nullptr);
  return utf8;
}

std::optional<std::string> NameCodec::EntryName(const std::filesystem::path& file) const {
  try {
    return shell::ExactAnsi(file.native());
  } catch (const UnconvertibleText&) {
    return std::nullopt;
  }
}

std::string NameCodec::Shown(std::string_view name) const { return std::string(name); }

std::filesystem::path PathOf(const std::string& text) { return Utf16(text); }

}  // namespace sectorsieve::cli
