// Windows: the system's own file seam, whose paths are UTF-8, with names in the archive's code
// page.

#include "command_files.h"

namespace sectorsieve::cli {

std::shared_ptr<FileSystem> CommandFiles(const NameCodec& names) {
  return SystemFileSystem(names.Ansi());
}

std::string AsFolder(const std::string& path, const CodePage& cp) {
  return path.ends_with('/') || EndsInBackslash(path, cp) ? path : path + '\\';
}

}  // namespace sectorsieve::cli
