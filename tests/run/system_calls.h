#pragma once

// The system's file functions that this process calls, counted (Windows): each a lookup or a
// change of a name, which under Wine reads the whole folder.

#include <map>
#include <string>

namespace sectorsieve::testing {

// Starts counting, once for the whole process; from then on, how many times each was called.
std::map<std::string, int> SystemFileCalls();

}  // namespace sectorsieve::testing
