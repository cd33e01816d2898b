#pragma once

// The list and check commands: entries as the core decided them.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive_check.h"
#include "modArchive.h"
#include "native_names.h"

namespace sectorsieve::cli {

// One line per entry: index, name, offset, size and, when refused, why.
// picked: the indices of the entries to list, in directory order; nothing for every entry.
using Picks = std::optional<std::vector<std::size_t>>;

std::string ListingText(const Archive& archive, const Picks& picked, const NameCodec& names);
// One JSON array of objects with index, name, offset, size and refusal (null when none).
std::string ListingJson(const Archive& archive, const Picks& picked, const NameCodec& names);

// The check command's report: what extraction would refuse, overlaps, entries hidden by a
// later one of the same name, and the share of the data file no entry uses.
std::string CheckText(const Archive& archive, const ArchiveCheck& check, const NameCodec& names);
std::string CheckJson(const Archive& archive, const ArchiveCheck& check, const NameCodec& names);

// text (UTF-8) as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace sectorsieve::cli
