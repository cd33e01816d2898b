#pragma once

// Packs files into an archive pair (base + ".img", base + ".dir"). Paths are the platform's
// own; entry names are bytes in an ANSI code page.

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "archive_change.h"
#include "file_io.h"
#include "names.h"

namespace sectorsieve::imgpack {

// The folder or the archive cannot be packed; what() says which file and why, one line for
// each file refused.
class PackError : public std::runtime_error {
 public:
  explicit PackError(const std::string& reason) : PackError(std::vector<std::string>{reason}) {}
  explicit PackError(std::vector<std::string> reasons);
  // Every reason, in the order of the files' entry names.
  const std::vector<std::string>& Reasons() const { return reasons_; }

 private:
  std::vector<std::string> reasons_;
};

// There is an archive where the new one would go, and it was not to be replaced.
class ArchiveExists : public PackError {
 public:
  using PackError::PackError;
};

// A file's name, spelled as paths are, as an entry name in the archive's code page, or nothing
// when it has no exact form there.
using EntryNamer = std::function<std::optional<std::string>(const std::string& fileName)>;

// Packs every plain file directly inside folder, in sorted entry-name order, into the archive
// at paths, with names in fs's code page; paths are spelled as fs spells them. The archive's
// own files and this program's temporary files are left out. Everything is checked before
// anything is written, every file that cannot be packed is told at once, and the new pair
// replaces the old one whole or not at all (see ArchiveChange): on any failure, an
// interruption included, the old pair reads as it was. Where either file of the archive
// exists and replace is false, nothing is packed (ArchiveExists). Returns how many files it
// packed; throws PackError for what cannot be packed and ChangeError for what could not be
// written. packed, when given, is told each entry name as its file is packed.
std::size_t PackFolder(FileSystem& fs, const std::string& folder, const ArchivePaths& paths,
                       const EntryNamer& entryName, const KeepGoing& keepGoing = {},
                       bool replace = true,
                       const std::function<void(const std::string&)>& packed = {});

}  // namespace sectorsieve::imgpack
