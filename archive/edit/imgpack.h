#pragma once

// Packs files into an archive pair (base + ".img", base + ".dir"). Paths are the platform's
// own; entry names are bytes in an ANSI code page.

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "archive_change.h"
#include "file_io.h"
#include "names.h"

namespace sectorsieve::imgpack {

// The folder or the archive cannot be packed; what() says which file and why.
class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file's name, spelled as paths are, as an entry name in the archive's code page, or nothing
// when it has no exact form there.
using EntryNamer = std::function<std::optional<std::string>(const std::string& fileName)>;

// Packs every plain file directly inside folder, in sorted entry-name order, into the archive
// at paths, with names in fs's code page; paths are spelled as fs spells them. The archive's
// own files and this program's temporary files are left out. Everything is checked before
// anything is written, and the new pair replaces the old one whole or not at all (see
// ArchiveChange): on any failure, an interruption included, the old pair reads as it was.
// Returns how many files it packed; throws PackError for what cannot be packed and
// ChangeError for what could not be written.
std::size_t PackFolder(FileSystem& fs, const std::string& folder, const ArchivePaths& paths,
                       const EntryNamer& entryName, const KeepGoing& keepGoing = {});

}  // namespace sectorsieve::imgpack
