#pragma once

// The file system the command line works through: the platform's own paths (UTF-8 on
// Windows, byte for byte on Linux), with entry names in the archive's code page.

#include <memory>
#include <string>

#include "file_io.h"
#include "native_names.h"

namespace sectorsieve::cli {

std::shared_ptr<FileSystem> CommandFiles(const NameCodec& names);
// path (spelled in code page cp, that of paths) as a folder: ending in the platform's
// separator.
std::string AsFolder(const std::string& path, const CodePage& cp);
// Makes the folder path (the platform's own path) and the folders it lies in, where missing, as
// mkdir -p does. Throws IoError with the system's reason.
void MakeFolders(const std::string& path);

}  // namespace sectorsieve::cli
