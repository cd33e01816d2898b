// Windows: the system's own file seam, whose paths are in the ANSI code page.

#include "command_files.h"

namespace sectorsieve::cli {

std::shared_ptr<FileSystem> CommandFiles(const NameCodec&) {
  // The system's seam lives as long as the program: nothing to free.
  return std::shared_ptr<FileSystem>(&SystemFileSystem(), [](FileSystem*) {});
}

std::string PlatformRefusal(std::string_view, const NameCodec&) { return {}; }

std::string AsFolder(const std::string& path, const CodePage& cp) {
  return path.ends_with('/') || EndsInBackslash(path, cp) ? path : path + '\\';
}

}  // namespace sectorsieve::cli
