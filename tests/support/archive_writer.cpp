#include "archive_writer.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include <vector>

#include "format.h"
#include "names.h"

namespace sectorsieve::imgpack {

namespace {

namespace fs = std::filesystem;

// Files are copied into the data file this much at a time.
constexpr std::size_t CHUNK_BYTES = 1 << 20;

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

std::int64_t SectorsFor(std::int64_t bytes) { return (bytes + SECTOR_SIZE - 1) / SECTOR_SIZE; }

std::ofstream Create(const fs::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw PackError("cannot create " + Quoted(path));
  return out;
}

}  // namespace

ArchiveWriter::ArchiveWriter(const fs::path& basePath)
    : ArchiveWriter(fs::path(basePath) += kDataExtension,
                    fs::path(basePath) += kDirectoryExtension) {}

ArchiveWriter::ArchiveWriter(const fs::path& imgPath, const fs::path& dirPath)
    : imgPath_(imgPath), dirPath_(dirPath), img_(Create(imgPath_)), dir_(Create(dirPath_)) {}

std::int32_t ArchiveWriter::CheckedSector(std::int64_t sector, std::string_view name) const {
  if (sector > std::numeric_limits<std::int32_t>::max())
    throw PackError("the archive is full: \"" + std::string(name) +
                    "\" would end beyond the last sector a record can address");
  return static_cast<std::int32_t>(sector);
}

void ArchiveWriter::WriteRecord(std::string_view name, std::int32_t lOffset, std::int32_t lSize) {
  if (name.size() > ENTRY_NAME_LENGTH)
    throw PackError("the name \"" + std::string(name) + "\" is longer than 24 bytes");
  DirEntry entry{lOffset, lSize, {}};
  std::copy(name.begin(), name.end(), entry.sName.begin());
  std::array<char, DIR_RECORD_SIZE> record{};
  EncodeRecord(entry, record.data());
  dir_.write(record.data(), record.size());
}

void ArchiveWriter::PadToSector() {
  const std::int64_t end = img_.tellp();
  const std::int64_t padded = SectorsFor(end) * SECTOR_SIZE;
  static constexpr std::array<char, SECTOR_SIZE> zeros{};
  img_.write(zeros.data(), padded - end);
  nextSector_ = std::max(nextSector_, padded / SECTOR_SIZE);
}

void ArchiveWriter::Append(std::string_view name, std::string_view bytes) {
  const std::int64_t sectors = SectorsFor(static_cast<std::int64_t>(bytes.size()));
  const std::int32_t lOffset = CheckedSector(nextSector_, name);
  CheckedSector(nextSector_ + sectors, name);
  WriteRecord(name, lOffset, static_cast<std::int32_t>(sectors));
  img_.seekp(std::int64_t{lOffset} * SECTOR_SIZE);
  img_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  PadToSector();
}

void ArchiveWriter::AppendFile(std::string_view name, const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PackError("cannot open " + Quoted(file));
  const auto size = static_cast<std::int64_t>(fs::file_size(file));
  const std::int32_t lOffset = CheckedSector(nextSector_, name);
  CheckedSector(nextSector_ + SectorsFor(size), name);
  WriteRecord(name, lOffset, static_cast<std::int32_t>(SectorsFor(size)));
  img_.seekp(std::int64_t{lOffset} * SECTOR_SIZE);
  std::vector<char> chunk(CHUNK_BYTES);
  for (std::int64_t done = 0; done < size;) {
    const auto want = static_cast<std::streamsize>(
        std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), size - done));
    if (!in.read(chunk.data(), want)) throw PackError("cannot read " + Quoted(file));
    img_.write(chunk.data(), want);
    done += want;
  }
  PadToSector();
}

void ArchiveWriter::Put(std::string_view name, std::int32_t lOffset, std::int32_t lSize,
                        std::string_view bytes) {
  WriteRecord(name, lOffset, lSize);
  if (bytes.empty()) return;
  if (lOffset < 0) throw PackError("bytes cannot be written before the start of the data file");
  const std::int64_t start = std::int64_t{lOffset} * SECTOR_SIZE;
  img_.seekp(0, std::ios::end);
  // Seeking past the end does not extend the file, so a gap is written out as zeros.
  const std::vector<char> gap(
      static_cast<std::size_t>(std::max<std::int64_t>(0, start - img_.tellp())));
  img_.write(gap.data(), static_cast<std::streamsize>(gap.size()));
  img_.seekp(start);
  img_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  img_.seekp(0, std::ios::end);
  PadToSector();
}

void ArchiveWriter::Close() {
  img_.close();
  dir_.close();
  if (img_.fail()) throw PackError("cannot write " + Quoted(imgPath_));
  if (dir_.fail()) throw PackError("cannot write " + Quoted(dirPath_));
}

}  // namespace sectorsieve::imgpack
