// Windows: the system's own file seam, whose paths are UTF-8, with names in the archive's code
// page.

#include <filesystem>
#include <system_error>

#include "command_files.h"

namespace sectorsieve::cli {

std::shared_ptr<FileSystem> CommandFiles(const NameCodec& names) {
  return SystemFileSystem(names.Ansi());
}

std::string AsFolder(const std::string& path, const CodePage& cp) {
  if (path.ends_with('/') || EndsInBackslash(path, cp)) return path;
  // Windows drops the trailing dots and spaces of a path's last part ("out." is "out"), but not
  // once a separator follows it: drop them here, so that the folder checked is the one opened.
  // "." and ".." stay, and so does what follows a drive ("C:.").
  const std::size_t last = LastSeparator(path, cp);
  const std::size_t start = last != std::string::npos            ? last + 1
                            : path.size() >= 2 && path[1] == ':' ? 2
                                                                 : 0;
  std::string folder = path;
  if (path.find_first_not_of('.', start) != std::string::npos)
    while (folder.size() > start && (folder.back() == '.' || folder.back() == ' '))
      folder.pop_back();
  return folder + '\\';
}

void MakeFolders(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(
      std::filesystem::path(std::u8string(path.begin(), path.end())), error);
  if (error) throw IoError(error.message());
}

}  // namespace sectorsieve::cli
