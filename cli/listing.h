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

// An entry as the core decided it.
struct ListedEntry {
  std::size_t index = 0;
  EntryOutput output;
};

// The entries in directory order, against a data file of imgSize bytes, with names as fs takes
// them.
std::vector<ListedEntry> ListEntries(const Catalogue& entries, const FileSystem& fs,
                                     std::int64_t imgSize);

// One line per entry: index, name, offset, size and, when refused, why.
std::string ListingText(const std::vector<ListedEntry>& entries, const NameCodec& names);
// One JSON array of objects with index, name, offset, size and refusal (null when none).
std::string ListingJson(const std::vector<ListedEntry>& entries, const NameCodec& names);

// text (UTF-8) as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace sectorsieve::cli
