#pragma once

// What the hostile tests compare against: the bytes an entry must yield, worked out from the
// archive's bytes alone, and the contents of a folder as a user would find them.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "test_support.h"

namespace sectorsieve::hostile {

inline constexpr std::int64_t kSectorBytes = 2048;

// The sectors [offset, offset + size) of img, a final sector cut short by the end of img
// completed with zeros. The caller has checked that the entry starts inside img.
inline std::string EntryBytes(std::string_view img, std::int64_t offset, std::int64_t size) {
  const std::int64_t start = offset * kSectorBytes;
  const std::int64_t count = size * kSectorBytes;
  const std::int64_t stored =
      std::clamp<std::int64_t>(static_cast<std::int64_t>(img.size()) - start, 0, count);
  std::string bytes(
      stored ? img.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(stored))
             : std::string_view());
  bytes.resize(static_cast<std::size_t>(count), '\0');
  return bytes;
}

// Every file directly inside folder with its bytes; a folder inside it shows as "name/".
inline std::map<std::string, std::string> FolderBytes(const std::filesystem::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (e.is_regular_file())
      contents[name] = testing::ReadBytes(e.path());
    else
      contents[name + "/"] = {};
  }
  return contents;
}

// A file's bytes told short enough to read in a failure message: length and FNV-1a hash.
inline std::string Summary(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037u;
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::to_string(bytes.size()) + " bytes #" + hex;
}

// FolderBytes with every file's bytes summarised.
inline std::map<std::string, std::string> FolderSummary(const std::filesystem::path& folder) {
  std::map<std::string, std::string> contents = FolderBytes(folder);
  for (auto& [name, bytes] : contents)
    if (!name.ends_with("/")) bytes = Summary(bytes);
  return contents;
}

}  // namespace sectorsieve::hostile
