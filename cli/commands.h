#pragma once

// The command line's verbs. Each writes its result to standard output, its complaints to
// standard error, and returns the process's exit status.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "native_names.h"

namespace sectorsieve::cli {

// patterns: the NAMEs given, each a file name or a wildcard pattern; none for every entry.
int List(const std::string& imgPath, const std::vector<std::string>& patterns, bool json,
         const NameCodec& names);
int Extract(const std::string& imgPath, const std::string& folder,
            const std::vector<std::string>& patterns, bool quiet, const NameCodec& names,
            const std::atomic<bool>& stop);
// The bytes of the entry whose file extraction keeps for pattern, to standard output.
int ExtractToStdout(const std::string& imgPath, const std::string& pattern, const NameCodec& names);
// What extraction would refuse, overlaps, entries replaced by later ones of the same name, and
// the share of the data file no entry uses; 0 when every entry would be extracted.
int Check(const std::string& imgPath, bool json, const NameCodec& names);
int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names,
         const std::atomic<bool>& stop);
// The edits stop when stop is raised; force lets them drop bytes of the directory that are no
// whole record.
int Add(const std::string& imgPath, const std::vector<std::string>& files,
        const std::optional<std::string>& as, const NameCodec& names, const std::atomic<bool>& stop,
        bool force);
int Remove(const std::string& imgPath, const std::vector<std::string>& patterns,
           const NameCodec& names, const std::atomic<bool>& stop, bool force);
int Rename(const std::string& imgPath, const std::string& oldName, const std::string& newName,
           const NameCodec& names, const std::atomic<bool>& stop, bool force);
int Compact(const std::string& imgPath, const NameCodec& names, const std::atomic<bool>& stop,
            bool force);

}  // namespace sectorsieve::cli
