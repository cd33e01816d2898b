#pragma once

// C1 to C4: the contents window's list at a million entries, without a window.

#include <filesystem>

namespace sectorsieve::bench {

// Times reading a million records into the window's list against `sectorsieve list` of the
// same archive, filtering and sorting the list, and what the list holds per entry beyond the
// archive's value; prints the rows. Returns whether every target was met.
bool RunContentsRows(const std::filesystem::path& root, int pairs);

}  // namespace sectorsieve::bench
