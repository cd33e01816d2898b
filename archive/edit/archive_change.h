#pragma once

// Changing an archive on disk, whole or not at all. New bytes go where no record points yet;
// only the last step makes them reachable: one rename of the directory for an edit, or, where
// both files are new, a commit record beside the archive that names which new file replaces
// which. Whoever opens the archive next finishes a switch that a crash interrupted.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "archive_recovery.h"
#include "file_io.h"
#include "format.h"
#include "names.h"
#include "picking.h"

namespace sectorsieve {

// The change was made, and the archive reads as changed, but a step after the one that
// published it failed: the system could not put it on the disk, or a switch of both files is
// left for the next command on the archive to finish. what() says which. Nothing of it is
// undone: after the publishing step the old bytes may no longer be what the archive names.
class ChangedButNotSafe : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What every change of an archive is handed.
struct ChangeOptions {
  KeepGoing keepGoing;  // when to stop
  // Bytes after the directory's last whole record are no entry that can be read; a change
  // refuses to drop them unless told to.
  bool force = false;
};

// One writer for every change: new bytes appended to the data file in place (InPlace), or a
// new pair of files (Whole). Nothing the old directory names is written over. Until Commit
// the archive reads as before; a change dropped before then leaves nothing behind.
class ArchiveChange {
 public:
  enum class Mode { InPlace, Whole };
  // InPlace appends past the end of the existing data file, which is opened only once
  // something is appended: never past a record that lies beyond it, which would make the file
  // as long as the record says.
  ArchiveChange(FileSystem& fs, const ArchivePaths& paths, Mode mode);
  ~ArchiveChange();
  ArchiveChange(const ArchiveChange&) = delete;
  ArchiveChange& operator=(const ArchiveChange&) = delete;

  // The bytes of the file at source as the next entry's, sector-padded with zeros; shown is
  // the source as the user named it. The file must not change while it is read.
  DirEntry AppendFile(std::string_view name, const std::string& source, const std::string& shown,
                      const KeepGoing& keepGoing);
  // Copies count bytes of from, at fromOffset, to byte offset at of the new data.
  void Copy(InputFile& from, std::int64_t fromOffset, std::int64_t count, std::int64_t at,
            const KeepGoing& keepGoing);
  // The sector after the last one appended so far.
  std::int64_t EndSector() const { return nextSector_; }
  // Makes the new data file end at bytes.
  void EndAt(std::int64_t bytes);
  // Lays records down as the archive's directory: from here on the archive reads as changed.
  // Throws ChangeError when it does not, ChangedButNotSafe when it does but a later step failed.
  void Commit(const std::vector<DirEntry>& records);

 private:
  [[noreturn]] void Fail(const std::string& path, const IoError& e) const;
  void OpenData();
  // The two ways a change is committed, once the new files are written and flushed: the new
  // directory renamed over the old (Publish), or a switch of both files with its record.
  void CommitSwitch();
  // Renames temp to to, the step that makes the change the archive's.
  void Publish(const std::string& temp, const std::string& to);
  ChangedButNotSafe NotSafe(const std::string& reason) const;
  // file's path, once it is closed.
  static std::string Closed(std::unique_ptr<UpdateFile>& file);
  void Write(std::int64_t at, const char* data, std::size_t count);

  FileSystem& fs_;
  ArchivePaths paths_;
  Mode mode_;
  std::unique_ptr<UpdateFile> data_;
  std::unique_ptr<UpdateFile> directory_;
  std::int64_t oldSize_ = 0;
  std::int64_t nextSector_ = 0;
  bool committed_ = false;
};

// A file to add: the entry name it takes (bytes in the archive's code page), its path, how the
// user named it, and its own file name as the system spells it.
struct AddedFile {
  std::string name;
  std::string source;
  std::string shown;
  std::string leaf;
};

// Adds files to the archive at paths, creating it when neither file exists. A file whose name
// Windows reads as that of an entry replaces it in its place; others go at the end. Returns
// how many replaced an entry. Throws ChangeError.
std::size_t AddFiles(FileSystem& fs, const ArchivePaths& paths, const std::vector<AddedFile>& files,
                     const NameText& decode, const ChangeOptions& options);
// Removes every entry whose name matches one of patterns (UTF-8, "*" and "?"). Says how many
// it removed and, for each pattern, whether it matched.
struct RemoveOutcome {
  std::size_t removed = 0;
  std::vector<bool> matched;
  std::vector<std::string> names;  // of the entries removed, in directory order
};
RemoveOutcome RemoveEntries(FileSystem& fs, const ArchivePaths& paths,
                            const std::vector<std::string>& patterns, const NameText& decode,
                            const ChangeOptions& options = {});
// Gives every entry whose name matches pattern the name newName (bytes in the code page).
// Returns how many it renamed.
std::size_t RenameEntries(FileSystem& fs, const ArchivePaths& paths, const std::string& pattern,
                          const std::string& newName, const NameText& decode,
                          const ChangeOptions& options = {});
// Rewrites the data file without the sectors no record reaches. Returns the bytes it freed.
std::int64_t CompactArchive(FileSystem& fs, const ArchivePaths& paths,
                            const ChangeOptions& options);

}  // namespace sectorsieve
