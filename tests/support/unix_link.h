#pragma once

// Symbolic links as a user of the machine makes them, with ln -s: under Wine too, where the
// program then sees a link to a folder as a reparse point.

#include <filesystem>

namespace sectorsieve::testing {

// Makes link, a symbolic link to target. Fails the test when it cannot.
void MakeUnixLink(const std::filesystem::path& target, const std::filesystem::path& link);

}  // namespace sectorsieve::testing
