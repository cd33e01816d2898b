#pragma once

// E1 to E3: changing a large archive in place against rebuilding it, and compact against cp.

#include <filesystem>

// Prints the rows, pairs times each, working in root; throws std::runtime_error.
void RunEditRows(const std::filesystem::path& root, int pairs);
