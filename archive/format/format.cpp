#include "format.h"

#include <algorithm>
#include <cstring>

namespace sectorsieve {

namespace {

std::int32_t ReadInt32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
      static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
}

void WriteInt32(char* p, std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

}  // namespace

DirEntry DecodeRecord(const char* record) {
  DirEntry e;
  e.lOffset = ReadInt32(record + RECORD_OFFSET_FIELD);
  e.lSize = ReadInt32(record + RECORD_SIZE_FIELD);
  std::memcpy(e.sName.data(), record + RECORD_NAME_FIELD, ENTRY_NAME_LENGTH);
  return e;
}

void EncodeRecord(const DirEntry& entry, char* record) {
  WriteInt32(record + RECORD_OFFSET_FIELD, entry.lOffset);
  WriteInt32(record + RECORD_SIZE_FIELD, entry.lSize);
  std::memcpy(record + RECORD_NAME_FIELD, entry.sName.data(), ENTRY_NAME_LENGTH);
}

std::vector<SectorRun> MergedRuns(std::vector<SectorRun> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const SectorRun& a, const SectorRun& b) { return a.first < b.first; });
  std::vector<SectorRun> runs;
  for (const SectorRun& range : ranges)
    if (!runs.empty() && range.first <= runs.back().end)
      runs.back().end = std::max(runs.back().end, range.end);
    else
      runs.push_back(range);
  return runs;
}

}  // namespace sectorsieve
