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

#include "names.h"

namespace sectorsieve::imgpack {

// The folder or the archive cannot be packed; what() says which file and why.
class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Packing stopped because it was asked to.
class PackInterrupted : public PackError {
 public:
  PackInterrupted() : PackError("packing was interrupted; the archive was left as it was") {}
};

// Asked between pieces of work; false stops the packing.
using KeepGoing = std::function<bool()>;

// Writes an archive pair record by record. Append lays entries end to end as a packer
// would; Put writes any record over any bytes, for archives that are meant to be wrong.
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
  // A file that grows or shrinks meanwhile is refused; keepGoing is asked between pieces.
  void AppendFile(std::string_view name, const std::filesystem::path& file,
                  const KeepGoing& keepGoing = {});

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

// Why name (bytes in code page cp) cannot be an entry of a packed folder, or empty when it can.
std::string RefusedNameReason(std::string_view name, const CodePage& cp);

// A file's name as an entry name in the archive's code page, or nothing when it has no exact
// form there.
using EntryNamer = std::function<std::optional<std::string>(const std::filesystem::path& file)>;

// Packs every plain file directly inside folder, in sorted entry-name order, into basePath +
// ".img" and ".dir", with names in code page cp. The archive's own two files are left out when
// they lie in folder. Everything is checked before anything is written, and both files are
// written under temporary names that replace an existing pair only once both are complete: on
// any failure, an interruption included, the old pair is left as it was. Returns how many
// files it packed; throws PackError.
std::size_t PackFolder(const std::filesystem::path& folder, const std::filesystem::path& basePath,
                       const CodePage& cp, const EntryNamer& entryName,
                       const KeepGoing& keepGoing = {});

}  // namespace sectorsieve::imgpack
