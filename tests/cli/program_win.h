#pragma once

#include <string>
#include <vector>

#include "program.h"
#include "win_handles.h"

namespace sectorsieve::testing {

// Starts the program with args, its output thrown away, and leaves it running.
unique_kernel_handle StartProgram(const std::vector<std::string>& args);

}  // namespace sectorsieve::testing
