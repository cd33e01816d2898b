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

// An entry as the core decided it, with the platform's own refusal where the core had none.
struct ListedEntry {
  std::size_t index = 0;
  EntryOutput output;
};

// Why the platform cannot take a name that the core accepts, or empty.
using NameCheck = std::function<std::string(std::string_view name)>;

// The entries in directory order, against a data file of imgSize bytes.
std::vector<ListedEntry> ListEntries(const Catalogue& entries, const CodePage& cp,
                                     std::int64_t imgSize, const NameCheck& platformRefusal);

// One line per entry: index, name, offset, size and, when refused, why.
std::string ListingText(const std::vector<ListedEntry>& entries, const NameCodec& names);
// One JSON array of objects with index, name, offset, size and refusal (null when none).
std::string ListingJson(const std::vector<ListedEntry>& entries, const NameCodec& names);

// text (UTF-8) as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace sectorsieve::cli
