#pragma once

// The command line program run as a user runs it: in a process of its own, its output
// caught in files.

#include <string>
#include <vector>

namespace sectorsieve::testing {

struct Output {
  int status = -1;
  std::string out;  // each "\r\n" as "\n", as the system writes lines
  std::string err;
  std::string outBytes;  // standard output exactly as the program wrote it
};

// Runs the program with args, input on its standard input, and waits for it to end.
Output RunProgram(const std::vector<std::string>& args, const std::string& input = {});

}  // namespace sectorsieve::testing
