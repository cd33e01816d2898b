#pragma once

// One entry extracted as a run extracts it, for tests of a single entry's fate.

#include <string>

#include "modArchive.h"

namespace sectorsieve::testing {

// Writes archive's entry index into destination (ending in "\") and finishes its file.
inline void ExtractOne(modArchive& access, const Archive& archive, std::size_t index,
                       const std::string& destination) {
  Destination folder = access.OpenDestination(archive, destination);
  WrittenEntry written = access.WriteEntry(archive, archive[index], folder);
  written.Close();
  written.Rename();
}

}  // namespace sectorsieve::testing
