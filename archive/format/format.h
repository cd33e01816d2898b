#pragma once

// The archive format: a data file of sectors and a directory file of fixed records.

#include <array>
#include <cstdint>
#include <vector>

namespace sectorsieve {

inline constexpr int SECTOR_SIZE = 2048;
inline constexpr int DIR_RECORD_SIZE = 32;
inline constexpr int ENTRY_NAME_LENGTH = 24;

// Byte offsets of the fields inside a directory record (little-endian).
inline constexpr int RECORD_OFFSET_FIELD = 0;
inline constexpr int RECORD_SIZE_FIELD = 4;
inline constexpr int RECORD_NAME_FIELD = 8;

// One directory record, decoded field by field.
struct DirEntry {
  std::int32_t lOffset = 0;  // first sector of the entry in the data file
  std::int32_t lSize = 0;    // length in sectors
  std::array<char, ENTRY_NAME_LENGTH> sName{};
};
static_assert(sizeof(DirEntry) == DIR_RECORD_SIZE, "a directory record is 32 bytes");

// The sectors bytes take, the last one perhaps in part.
inline constexpr std::int64_t SectorsFor(std::int64_t bytes) {
  return (bytes + SECTOR_SIZE - 1) / SECTOR_SIZE;
}

// The sectors [first, end) of the data file.
struct SectorRun {
  std::int64_t first;
  std::int64_t end;
};
// The sectors that the ranges reach, merged where they touch or overlap, in order: what of a
// data file its entries use, as compact keeps it and check counts it.
std::vector<SectorRun> MergedRuns(std::vector<SectorRun> ranges);

// Reads the DIR_RECORD_SIZE bytes at record.
DirEntry DecodeRecord(const char* record);
// Writes entry as DIR_RECORD_SIZE bytes at record.
void EncodeRecord(const DirEntry& entry, char* record);

}  // namespace sectorsieve
