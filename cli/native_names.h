#pragma once

// Entry names are bytes in the ANSI code page of the system that made the archive. The
// platform's own file names are UTF-8 on Linux and in the system's ANSI code page on Windows.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "names.h"

namespace sectorsieve::cli {

class NameCodec {
 public:
  // On Linux, names in code page codePage (1252 when none is given); on Windows, in the
  // system's ANSI code page, as the window reads them. Throws std::invalid_argument with a
  // plain message for a code page that cannot be taken.
  explicit NameCodec(std::optional<unsigned> codePage);

  // Every conversion below may come from any thread: files are named on the threads that
  // finish them.
  const CodePage& Ansi() const { return cp_; }
  // name in UTF-8, or nothing when one of its characters has no exact match.
  std::optional<std::string> ToUtf8(std::string_view name) const;
  // A file's name as the platform gives it, as entry bytes; nothing when it has no exact form.
  std::optional<std::string> EntryName(const std::filesystem::path& file) const;
  // name for this platform's console: UTF-8 on Linux, with "\xNN" for every byte that does
  // not convert; the bytes themselves on Windows, whose console shows the ANSI code page.
  std::string Shown(std::string_view name) const;

 private:
  CodePage cp_;
};

// A path as the command line gave it, as the standard library's path type: on Windows the
// text is UTF-8, which the library would otherwise read byte by byte.
std::filesystem::path PathOf(const std::string& text);

}  // namespace sectorsieve::cli
