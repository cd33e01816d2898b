#pragma once

// Packs files into an archive pair (base + ".img", base + ".dir"). Paths are the platform's
// own; entry names are bytes in an ANSI code page.

#include <cstdint>
#include <filesystem>
#include <fstream>
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

// Writes an archive pair record by record, for tests and benchmarks that build archives as
// they are or as they are meant to be wrong: Append lays entries end to end as a packer would;
// Put writes any record over any bytes.
class ArchiveWriter {
 public:
  // Creates (or empties) basePath + ".img" and basePath + ".dir".
  explicit ArchiveWriter(const std::filesystem::path& basePath);
  // Creates (or empties) the two files under names of their own.
  ArchiveWriter(const std::filesystem::path& imgPath, const std::filesystem::path& dirPath);

  // Adds bytes as the next entry: at the first sector after everything written so far,
  // sized in whole sectors with the last one zero-filled.
  void Append(std::string_view name, std::string_view bytes);
  // The same for the contents of a file, read piece by piece so that size does not matter.
  void AppendFile(std::string_view name, const std::filesystem::path& file);

  // Writes bytes at sector lOffset of the data file (gaps read as zeros) and a record that
  // claims lOffset and lSize, whatever the bytes' length. The name is up to 24 raw bytes.
  void Put(std::string_view name, std::int32_t lOffset, std::int32_t lSize,
           std::string_view bytes = {});

  // Flushes both files; throws PackError when they could not be written completely.
  void Close();

 private:
  void WriteRecord(std::string_view name, std::int32_t lOffset, std::int32_t lSize);
  void PadToSector();
  std::int32_t CheckedSector(std::int64_t sector, std::string_view name) const;

  std::filesystem::path imgPath_;
  std::filesystem::path dirPath_;
  std::ofstream img_;
  std::ofstream dir_;
  std::int64_t nextSector_ = 0;
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
