#pragma once

// E4: picking costs what it picks. Rows of their own, beside the extraction's.

#include <filesystem>

namespace sectorsieve::bench {

// Times `sectorsieve extract ARCHIVE FOLDER NAME` of one entry of a million records against
// `sectorsieve list ARCHIVE` of the same archive, in interleaved pairs, and prints the row.
// Returns whether the target (at most 1.2 times list) was met.
bool RunPickingRows(const std::filesystem::path& root, int pairs);

}  // namespace sectorsieve::bench
