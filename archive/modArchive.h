#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "clsImgFile.h"
#include "file_io.h"
#include "format.h"
#include "names.h"
#include "run_failures.h"
#include "written_entry.h"

namespace sectorsieve {

// The entry catalogue: keeps directory order and finds an entry by its sId.
class Catalogue {
 public:
  void Add(clsImgFile entry);
  void Reserve(std::size_t count) { items_.reserve(count); }
  const clsImgFile* Item(const std::string& key) const;
  const clsImgFile& At(std::size_t index) const { return items_[index]; }
  std::size_t Count() const { return items_.size(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  // An entry's key is its index as decimal text, so the index needs no table of its own.
  std::vector<clsImgFile> items_;
};

// What extraction makes of one entry, decided once, here: the name of its file (in the code
// page, "\" between folders), why it is refused or empty, and the bytes it takes from the data
// file. ExtractEntry writes by it; the listing and the window show it.
struct EntryOutput {
  std::string sName;
  std::string sRefusal;
  std::int64_t lStart = 0;  // byte offset in the data file
  std::int64_t lCount = 0;  // bytes
};
// entry against a data file of imgSize bytes, with names as fs takes them; without a size, all
// but whether it lies within the data file.
EntryOutput DecideEntry(const clsImgFile& entry, std::optional<std::int64_t> imgSize,
                        const FileSystem& fs);

// A run was asked to stop while an entry was being written; the entry was abandoned.
class EntryStopped : public std::exception {
 public:
  const char* what() const noexcept override { return "the entry was stopped"; }
};

// Archive access. Names starting with "g" are the module-level state of the archive
// module; they live on this object so that every test starts from fresh state.
class modArchive {
 public:
  explicit modArchive(FileSystem& fs);

  // Replaces gEntries with one entry per whole record of basePath + ".dir". keepGoing is
  // asked between pieces of a long directory; when it says no, gEntries is left empty.
  // Throws RunError when the directory file cannot be opened or read, or memory runs out.
  void LoadDirectory(const std::string& basePath, const std::function<bool()>& keepGoing = {});
  // The same for an archive whose two files are spelled otherwise ("DATA.IMG", "DATA.DIR").
  void LoadDirectory(const ArchivePaths& archive, const std::function<bool()>& keepGoing = {});

  // Writes one entry into destination (ending in "\") under its name up to the first space.
  // The file appears complete or not at all. Throws EntryError for a fault of this entry,
  // RunError when the data file or the destination folder cannot be used.
  void ExtractEntry(const clsImgFile& entry, const std::string& destination);
  // Opens the folder that a run's entries are written into. Throws RunError when it cannot.
  Destination OpenDestination(const std::string& destination);
  // ExtractEntry up to the entry's bytes: its file is left to finish, on any thread.
  // keepGoing is asked between pieces of a long entry; when it says no, the entry is
  // abandoned as a failed one is, its temporary file removed, and EntryStopped is thrown.
  WrittenEntry WriteEntry(const clsImgFile& entry, Destination& destination,
                          const std::function<bool()>& keepGoing = {});

  // Opens the data file of the loaded directory, unless it is open, and returns its size. A run
  // opens it before its first entry, so that a directory without its data file is refused in
  // the same words by every command. Throws RunError when it cannot be opened.
  std::int64_t OpenArchive();
  // Closes the data file that ExtractEntry keeps open between entries of one run.
  void CloseArchive() { gImgFile.reset(); }

  Catalogue gEntries;
  std::string gArchiveBase;
  DirEntry gEntry;
  std::vector<char> gBuffer;  // copy buffer, fixed size whatever the entry's size

 private:
  void CopyEntry(std::int64_t start, std::int64_t count, OutputFile& out,
                 const std::function<bool()>& keepGoing);
  void CopyStored(std::int64_t at, std::int64_t count, OutputFile& out);
  void AppendZeros(std::int64_t count, OutputFile& out);

  FileSystem& fs_;
  ArchivePaths paths_;  // of the archive loaded, gArchiveBase's
  std::unique_ptr<InputFile> gImgFile;
  std::int64_t imgSize_ = 0;
};

}  // namespace sectorsieve
