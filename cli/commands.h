#pragma once

// The command line's verbs. Each writes its result to standard output, its complaints to
// standard error, and returns the process's exit status.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "native_names.h"

namespace sectorsieve::cli {

// How much a command says, as tar's -v and -q have it: verbose names each entry it writes,
// adds, removes or renames; quiet prints nothing but errors.
struct Telling {
  bool verbose = false;
  bool quiet = false;
};

// patterns: the NAMEs given, each a file name or a wildcard pattern; none for every entry.
int List(const std::string& imgPath, const std::vector<std::string>& patterns, bool json,
         const NameCodec& names);
// A FOLDER that is not there is made, with its parents; keep leaves the files already there
// as they are.
int Extract(const std::string& imgPath, const std::string& folder,
            const std::vector<std::string>& patterns, Telling telling, bool keep,
            const NameCodec& names, const std::atomic<bool>& stop);
// The bytes of the entry whose file extraction keeps for pattern, to standard output.
int ExtractToStdout(const std::string& imgPath, const std::string& pattern, const NameCodec& names);
// What extraction would refuse, overlaps, entries replaced by later ones of the same name, and
// the share of the data file no entry uses; 0 when every entry would be extracted.
int Check(const std::string& imgPath, bool json, const NameCodec& names);
// Refuses an archive that is there unless force replaces it.
int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names,
         const std::atomic<bool>& stop, bool force, Telling telling);
// The edits stop when stop is raised; force lets them drop bytes of the directory that are no
// whole record. A FILE "-" is standard input, added under the name as gives.
int Add(const std::string& imgPath, const std::vector<std::string>& files,
        const std::optional<std::string>& as, const NameCodec& names, const std::atomic<bool>& stop,
        bool force, Telling telling);
int Remove(const std::string& imgPath, const std::vector<std::string>& patterns,
           const NameCodec& names, const std::atomic<bool>& stop, bool force, Telling telling);
int Rename(const std::string& imgPath, const std::string& oldName, const std::string& newName,
           const NameCodec& names, const std::atomic<bool>& stop, bool force, Telling telling);
int Compact(const std::string& imgPath, const NameCodec& names, const std::atomic<bool>& stop,
            bool force, Telling telling);

}  // namespace sectorsieve::cli
