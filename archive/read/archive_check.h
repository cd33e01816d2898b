#pragma once

// What extracting every entry of an archive would come to, told before anything is written.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive_reader.h"
#include "picking.h"

namespace sectorsieve {

struct ArchiveCheck {
  // entry's bytes overlap those of other, which starts no later.
  struct Overlap {
    std::size_t entry;
    std::size_t other;
  };
  // entry is written, then replaced by the later entry by of the same name.
  struct Hidden {
    std::size_t entry;
    std::size_t by;
  };
  // entry's file lies in folder (its name up to the last separator), which extraction does not
  // make: into a new folder, it is not extracted.
  struct NeedsFolder {
    std::size_t entry;
    std::string folder;
  };
  std::vector<std::size_t> refused;      // in directory order
  std::vector<Overlap> overlaps;         // in directory order of entry
  std::vector<Hidden> hidden;            // in directory order of entry
  std::vector<NeedsFolder> needFolders;  // in directory order, of the entries not refused
  std::int64_t unusedBytes = 0;          // of the data file, that no entry's bytes cover
  std::int64_t trailingBytes = 0;        // of the directory file, that make no whole record

  // Every entry would be extracted into a new folder, and the directory holds nothing else.
  bool Sound() const { return refused.empty() && needFolders.empty() && trailingBytes == 0; }
};

// archive checked as extraction would see it, with names compared as Windows compares them.
ArchiveCheck CheckArchive(const Archive& archive, const CodePage& cp, const NameText& toUtf8);
// The same, given up (nothing) once keepGoing says no: a million entries take a second.
std::optional<ArchiveCheck> CheckArchive(const Archive& archive, const CodePage& cp,
                                         const NameText& toUtf8, const KeepGoing& keepGoing);

}  // namespace sectorsieve
