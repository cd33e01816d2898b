#pragma once

// The command line's verbs. Each writes its result to standard output, its complaints to
// standard error, and returns the process's exit status.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "native_names.h"

namespace sectorsieve::cli {

int List(const std::string& imgPath, bool json, const NameCodec& names);
int Extract(const std::string& imgPath, const std::string& folder, bool quiet,
            const NameCodec& names, const std::atomic<bool>& stop);
int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names,
         const std::atomic<bool>& stop);
int Add(const std::string& imgPath, const std::vector<std::string>& files,
        const std::optional<std::string>& as, const NameCodec& names,
        const std::atomic<bool>& stop);
int Remove(const std::string& imgPath, const std::vector<std::string>& patterns,
           const NameCodec& names);
int Rename(const std::string& imgPath, const std::string& oldName, const std::string& newName,
           const NameCodec& names);
int Compact(const std::string& imgPath, const NameCodec& names, const std::atomic<bool>& stop);

}  // namespace sectorsieve::cli
