// Linux: "\" in a path is a character, and file names are UTF-8.

#include "command_files.h"
#include "utf8_file_system.h"

namespace sectorsieve::cli {

std::shared_ptr<FileSystem> CommandFiles(const NameCodec& names) {
  return std::make_shared<Utf8FileSystem>(NativeFileSystem(names.Ansi()), names);
}

std::string AsFolder(const std::string& path, const CodePage&) {
  return path.ends_with('/') ? path : path + '/';
}

}  // namespace sectorsieve::cli
