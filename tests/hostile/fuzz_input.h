#pragma once

// One fuzz input holds one archive pair: a 2-byte little-endian length of the directory
// file, that many bytes of directory file, and the rest as the data file. Lengths beyond the
// caps are cut, so that every execution stays cheap.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sectorsieve::hostile {

inline constexpr std::size_t kMaxDirBytes = 4096;        // 128 records
inline constexpr std::size_t kMaxImgBytes = 256 * 1024;  // 128 sectors

struct ArchivePair {
  std::string_view dir;
  std::string_view img;
};

inline ArchivePair SplitInput(std::string_view input) {
  if (input.size() < 2) return {};
  const std::size_t declared = static_cast<unsigned char>(input[0]) |
                               static_cast<std::size_t>(static_cast<unsigned char>(input[1])) << 8;
  input.remove_prefix(2);
  const std::size_t dirBytes = std::min({declared, input.size(), kMaxDirBytes});
  return {input.substr(0, dirBytes), input.substr(dirBytes, kMaxImgBytes)};
}

inline std::string JoinInput(std::string_view dir, std::string_view img) {
  std::string input{static_cast<char>(dir.size() & 0xFF),
                    static_cast<char>(dir.size() >> 8 & 0xFF)};
  input.append(dir);
  input.append(img);
  return input;
}

}  // namespace sectorsieve::hostile
