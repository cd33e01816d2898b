// Windows: the system's own file seam, whose paths are UTF-8, with names in the archive's code
// page.

#include "command_files.h"

namespace sectorsieve::cli {

std::shared_ptr<FileSystem> CommandFiles(const NameCodec& names) {
  return SystemFileSystem(names.Ansi());
}

std::string PlatformRefusal(std::string_view name, const NameCodec& names) {
  // Part by part, as the seam makes the file's name: a trail byte 0x5C stays in its character.
  for (std::size_t start = 0;;) {
    const std::size_t end = FindSeparator(name, start, names.Ansi());
    if (!names.ToUtf8(name.substr(start, end - start)))
      return "its name does not convert from code page " + std::to_string(names.Ansi().Id()) +
             " to Unicode";
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

std::string AsFolder(const std::string& path, const CodePage& cp) {
  return path.ends_with('/') || EndsInBackslash(path, cp) ? path : path + '\\';
}

}  // namespace sectorsieve::cli
