#pragma once

// Entry names are bytes in the ANSI code page of the system that made the archive. The
// platform's own file names are UTF-8 on Linux and in the system's ANSI code page on Windows.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "names.h"
#include "unique_handle.h"

#ifndef _WIN32
#include <iconv.h>
#endif

namespace sectorsieve::cli {

#ifndef _WIN32
struct IconvTraits {
  using pointer = iconv_t;
  static pointer invalid() { return reinterpret_cast<iconv_t>(-1); }
  static void close(iconv_t cd) { ::iconv_close(cd); }
};
#endif

class NameCodec {
 public:
#ifdef _WIN32
  // The system's ANSI code page, as the window uses.
  NameCodec();
#else
  // Names in code page codePage (1252, 932, ...); throws std::invalid_argument with a plain
  // message when the C library cannot convert it.
  explicit NameCodec(unsigned codePage);
#endif

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
#ifndef _WIN32
  // iconv keeps a state per conversion direction, so each direction has its own; files are
  // finished on the run's worker threads, so one conversion runs at a time.
  unique_handle<IconvTraits> toUtf8_;
  unique_handle<IconvTraits> fromUtf8_;
  mutable std::mutex iconvMutex_;
#endif
};

// A path as the command line gave it, as the standard library's path type: on Windows the
// text is in the ANSI code page, which the library would otherwise read as UTF-8.
std::filesystem::path PathOf(const std::string& text);

}  // namespace sectorsieve::cli
