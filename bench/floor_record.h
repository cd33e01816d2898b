#pragma once

// The .dir's records as both floors read them: without a check.

#include <cstdint>
#include <cstring>

namespace floor_record {

constexpr std::int64_t SECTOR = 2048;
constexpr int RECORD = 32;
constexpr int NAME_AT = 8;
constexpr int NAME = 24;

// One record: where its entry starts and how long it is, in bytes, and its name.
struct Entry {
  std::int64_t offset;
  std::int64_t bytes;
  char name[NAME + 1];
};

inline std::int64_t Field(const unsigned char* p) {
  return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 |
                                   static_cast<std::uint32_t>(p[3]) << 24);
}

inline Entry Read(const unsigned char* record) {
  Entry entry{Field(record) * SECTOR, Field(record + 4) * SECTOR, {}};
  std::memcpy(entry.name, record + NAME_AT, NAME);
  return entry;
}

}  // namespace floor_record
