#pragma once

// Recovery of an archive that a change left half done. A switch of both files puts the new
// pair beside the archive under names of its own, then a commit record that names which new
// file replaces which, then renames both: whoever opens the archive next finishes a switch
// that a crash interrupted after its record, and removes what one before it left.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "file_io.h"
#include "names.h"

namespace sectorsieve {

// The change could not be made; what() names the user's file and the system's reason. The
// archive reads as it did before.
class ChangeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The change stopped because it was asked to; the archive reads as it did before.
class ChangeInterrupted : public ChangeError {
 public:
  ChangeInterrupted() : ChangeError("stopped; the archive was left as it was") {}
};

// The names of a switch of both files: the commit record and the two new files it names.
struct SwitchNames {
  std::string record;
  std::string img;
  std::string dir;
};

// Named after the data file's own name, as the folder spells it: archives whose names differ
// only in case are two archives where the file system tells them apart.
SwitchNames SwitchOf(FileSystem& fs, const ArchivePaths& paths);
// What the commit record says: which new file replaces which, by their last parts.
std::string SwitchText(FileSystem& fs, const ArchivePaths& paths);

// Asked between pieces of work; false stops the change.
using KeepGoing = std::function<bool()>;

// The archive's files as the file system identifies them: as their folder spells them (on
// Windows, whatever case or short name was typed), and the files that symbolic links lead to,
// so that every way to one archive settles, locks and names its switch alike, and a change
// replaces the user's file rather than the link to it. Every command takes its paths from
// here before anything else.
ArchivePaths SpelledArchive(FileSystem& fs, const ArchivePaths& typed);

// The recovery step, and the one call on the way to reading an archive that writes. It tries
// the archive's lock (waiting a moment only for a switch that is committed), and holding it,
// removes the temporary files that ended processes left beside the archive and finishes a
// switch of both files whose commit record was written, or removes the new files of one that
// never got so far. Returns the files to read: the archive's own, or where the switch cannot
// be finished here (a folder that cannot be written, or a change of another process still at
// work), the new files it names.
ArchivePaths SettleArchive(FileSystem& fs, const ArchivePaths& paths);

// Whether a change is between the two renames of a switch of both files, and view, the files
// a reader reads, does not read through it: then view's directory and data file are one old
// and one new.
bool SwitchingUnder(FileSystem& fs, const ArchivePaths& paths, const ArchivePaths& view);

// Takes the archive's lock and its data file's for a change, first waiting, while keepGoing
// allows, for another process's change to it to end; then settles the archive. Hold it until
// the change is done. Throws ChangeInterrupted when keepGoing stops the wait, ChangeError when
// a switch that was cut short cannot be finished.
std::unique_ptr<ArchiveLock> BeginChange(FileSystem& fs, const ArchivePaths& paths,
                                         const KeepGoing& keepGoing);

}  // namespace sectorsieve
