#pragma once

// Archives written record by record, for tests and benchmarks. Paths are the platform's own;
// entry names are bytes in an ANSI code page.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "imgpack.h"

namespace sectorsieve::imgpack {

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

}  // namespace sectorsieve::imgpack
