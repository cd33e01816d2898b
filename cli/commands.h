#pragma once

// The command line's verbs. Each writes its result to standard output, its complaints to
// standard error, and returns the process's exit status.

#include <atomic>
#include <string>

#include "native_names.h"

namespace sectorsieve::cli {

int List(const std::string& imgPath, bool json, const NameCodec& names);
int Extract(const std::string& imgPath, const std::string& folder, bool quiet,
            const NameCodec& names, const std::atomic<bool>& stop);
int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names,
         const std::atomic<bool>& stop);

}  // namespace sectorsieve::cli
