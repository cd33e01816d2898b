#pragma once

// Entry names are bytes in the ANSI code page of the system that made the archive. What the
// program prints is UTF-8 everywhere, and so are the paths it is given on Windows.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "names.h"

namespace sectorsieve::cli {

class NameCodec {
 public:
  // Names in code page codePage; when none is given, in 1252 on Linux and in the system's
  // ANSI code page on Windows, as the window reads them. Throws std::invalid_argument with a
  // plain message for a code page that cannot be taken.
  explicit NameCodec(std::optional<unsigned> codePage);

  // Every conversion below may come from any thread: files are named on the threads that
  // finish them.
  const CodePage& Ansi() const { return cp_; }
  // name in UTF-8, or nothing when one of its characters has no exact match.
  std::optional<std::string> ToUtf8(std::string_view name) const;
  // A file's name as the platform gives it, as entry bytes; nothing when it has no exact form.
  std::optional<std::string> EntryName(const std::filesystem::path& file) const;
  // name as people read it: UTF-8, with "\xNN" for every byte that does not convert.
  std::string Shown(std::string_view name) const;

 private:
  // The code page as this platform converts it: codePage, or the platform's default when none
  // is given. Throws std::invalid_argument when the system cannot convert it.
  static CodePage Converted(std::optional<unsigned> codePage);

  CodePage cp_;
};

// A path as the command line gave it, as the standard library's path type: on Windows the
// text is UTF-8, which the library would otherwise read byte by byte.
std::filesystem::path PathOf(const std::string& text);

}  // namespace sectorsieve::cli
