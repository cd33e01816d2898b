#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "archive_reader.h"
#include "file_io.h"
#include "picking.h"
#include "run_failures.h"
#include "written_entry.h"

namespace sectorsieve {

// A run was asked to stop while an entry was being written; the entry was abandoned.
class EntryStopped : public std::exception {
 public:
  const char* what() const noexcept override { return "the entry was stopped"; }
};

// Archive access: reading a directory into its value (see ArchiveReader), and writing its
// entries out.
class modArchive : public ArchiveReader {
 public:
  explicit modArchive(FileSystem& fs);

  // Opens the folder that a run's entries of archive are written into, which keeps the
  // archive's own files. Throws RunError when it cannot.
  Destination OpenDestination(const Archive& archive, const std::string& destination);
  // Writes the entry's bytes into a new file in destination, left to finish (close, then
  // rename to its name where it has another) on any thread. Throws EntryError for a fault of
  // this entry, RunError when the data file or the destination folder cannot be used.
  // keepGoing is asked between pieces of a long entry; when it says no, the entry is abandoned
  // as a failed one is, its file removed, and EntryStopped is thrown.
  WrittenEntry WriteEntry(const Archive& archive, const Archive::Entry& entry,
                          Destination& destination, const std::function<bool()>& keepGoing = {});
  // Writes the entry's bytes to out, as WriteEntry would put them in its file. Throws as
  // WriteEntry does.
  void CopyEntryTo(const Archive& archive, const Archive::Entry& entry, OutputFile& out);

  // Of the entries at indices (directory order), those whose file a later one replaces, which
  // a run does not write: names compared as Windows compares them, on every system. Nothing once
  // keepGoing says no: a million names take a second.
  std::vector<std::size_t> Replaced(const Archive& archive, const std::vector<std::size_t>& indices,
                                    const KeepGoing& keepGoing = {}) const;

  // Closes the data file that WriteEntry keeps open between entries of one run.
  void CloseArchive() { gImgFile.reset(); }

 private:
  // The entry's range in the data file, opened; throws EntryError when it is refused.
  void Prepare(const Archive& archive, const Archive::Entry& entry);
  void OpenArchive(const Archive& archive);
  void CopyEntry(std::int64_t start, std::int64_t count, OutputFile& out,
                 const std::function<bool()>& keepGoing = {});
  void CopyStored(std::int64_t at, std::int64_t count, OutputFile& out);
  void AppendZeros(std::int64_t count, OutputFile& out);

  std::unique_ptr<InputFile> gImgFile;
  std::string imgPath_;  // of the data file open
  std::int64_t imgSize_ = 0;
  std::vector<char> gBuffer;  // copy buffer, fixed size whatever the entry's size
};

}  // namespace sectorsieve
