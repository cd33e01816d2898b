#pragma once

// The command line program run as a user runs it: in a process of its own, its output
// caught in files.

#include <string>
#include <vector>

namespace sectorsieve::testing {

struct Output {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with args and waits for it to end.
Output RunProgram(const std::vector<std::string>& args);

}  // namespace sectorsieve::testing
