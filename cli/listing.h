#pragma once

// The list command: every entry as extraction would see it.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "modArchive.h"
#include "native_names.h"

namespace sectorsieve::cli {

struct ListedEntry {
  std::size_t index = 0;
  std::string name;         // the file name extraction writes, in the archive's code page
  std::int64_t offset = 0;  // bytes
  std::int64_t size = 0;    // bytes
  std::string refusal;      // why extraction would refuse the entry, or empty
};

// Why the platform cannot take a name that the core accepts, or empty.
using NameCheck = std::function<std::string(std::string_view name)>;

// The entries in directory order, against a data file of imgSize bytes, refused for the same
// reasons and in the same words as modArchive::ExtractEntry.
std::vector<ListedEntry> ListEntries(const Catalogue& entries, const CodePage& cp,
                                     std::int64_t imgSize, const NameCheck& platformRefusal);

// One line per entry: index, name, offset, size and, when refused, why.
std::string ListingText(const std::vector<ListedEntry>& entries, const NameCodec& names);
// One JSON array of objects with index, name, offset, size and refusal (null when none).
std::string ListingJson(const std::vector<ListedEntry>& entries, const NameCodec& names);

// text (UTF-8) as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace sectorsieve::cli
