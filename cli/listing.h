#pragma once

// The list command: every entry as the core decided it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modArchive.h"
#include "native_names.h"

namespace sectorsieve::cli {

// One line per entry: index, name, offset, size and, when refused, why.
// picked: the indices of the entries to list, in directory order; nothing for every entry.
using Picks = std::optional<std::vector<std::size_t>>;

std::string ListingText(const Archive& archive, const Picks& picked, const NameCodec& names);
// One JSON array of objects with index, name, offset, size and refusal (null when none).
std::string ListingJson(const Archive& archive, const Picks& picked, const NameCodec& names);

// text (UTF-8) as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace sectorsieve::cli
