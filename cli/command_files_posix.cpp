// Linux: "\" in a path is a character, and file names are UTF-8.

#include <filesystem>
#include <system_error>

#include "command_files.h"
#include "utf8_file_system.h"

namespace sectorsieve::cli {

std::shared_ptr<FileSystem> CommandFiles(const NameCodec& names) {
  return std::make_shared<Utf8FileSystem>(NativeFileSystem(names.Ansi()), names);
}

std::string AsFolder(const std::string& path, const CodePage&) {
  return path.ends_with('/') ? path : path + '/';
}

void MakeFolders(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path), error);
  if (error) throw IoError(error.message());
}

}  // namespace sectorsieve::cli
