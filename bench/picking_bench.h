#pragma once

// E4: picking costs what it picks. Rows of their own, beside the extraction's.

#include <filesystem>
#include <string>
#include <vector>

namespace sectorsieve::bench {

// Times `sectorsieve extract ARCHIVE FOLDER NAME` of one entry of a million records against
// `sectorsieve list ARCHIVE` of the same archive, in interleaved pairs, and prints the row.
// Returns whether the target (at most 1.2 times list) was met.
bool RunPickingRows(const std::filesystem::path& root, int pairs);

// Seconds that the command line takes with args, its output thrown away; throws when it does
// not end with status.
double TimeCommand(std::vector<std::string> args, int status);
double Median(std::vector<double> v);

}  // namespace sectorsieve::bench
