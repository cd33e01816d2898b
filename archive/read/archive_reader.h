#pragma once

// An archive's directory read into one value, every record with what extraction makes of it.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clsImgFile.h"
#include "file_io.h"
#include "format.h"
#include "names.h"
#include "run_failures.h"

namespace sectorsieve {

// Why an entry that does not lie within the data file is refused.
inline constexpr const char* kBeyondTheEnd = "lies beyond the end of the archive";

// Whether count bytes at start lie within a data file of size bytes. The final sector may be
// partial; its missing tail reads as zeros. An empty entry may start right at the end, where a
// writer puts an empty last file.
bool LiesWithin(std::int64_t start, std::int64_t count, std::int64_t size);

// What extraction makes of one entry, decided once, here: the name of its file (in the code
// page, "\" between folders), why it is refused or empty, and the bytes it takes from the data
// file.
struct EntryOutput {
  std::string sName;
  std::string sRefusal;
  std::int64_t lStart = 0;  // byte offset in the data file
  std::int64_t lCount = 0;  // bytes
};
// entry against a data file of imgSize bytes, with names in code page cp; without a size, all
// but whether it lies within the data file.
EntryOutput DecideEntry(const clsImgFile& entry, std::optional<std::int64_t> imgSize,
                        const CodePage& cp);

// One archive as its directory file gave it when it was read: every record in directory order,
// each with what the core decided for it. Nothing changes it afterwards; list, check, the
// extraction and the window all present the same value.
class Archive {
 public:
  class Entry {
   public:
    const clsImgFile& Record() const { return record_; }
    std::size_t Index() const { return record_.Index(); }
    // The name of its file: the name up to its first space, bytes in the code page.
    std::string_view FileName() const { return FileNameOf(record_.NameField()); }
    std::int64_t Start() const { return std::int64_t{record_.lOffset()} * SECTOR_SIZE; }
    std::int64_t Bytes() const { return std::int64_t{record_.lSize()} * SECTOR_SIZE; }
    bool Refused() const { return refusal_ != 0; }

   private:
    friend class Archive;
    friend class ArchiveReader;
    clsImgFile record_;
    std::uint32_t refusal_ = 0;  // 1 + the number of its reason in the archive, 0 for none
  };

  const ArchivePaths& Paths() const { return paths_; }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const Entry& operator[](std::size_t index) const { return entries_[index]; }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

  // Why entry is not extracted, or empty: its offset, size or name, whether it lies within the
  // data file, or a name the file system cannot take.
  const std::string& Refusal(const Entry& entry) const;
  // The bytes of entry's name field as its record holds them, but the NULs that pad it: what
  // tells apart two names shown alike.
  std::string StoredName(const Entry& entry) const;
  // The data file's size when the directory was read.
  std::int64_t DataSize() const { return dataSize_; }
  // Why the data file could not be opened then, or empty. Entries that are not refused for
  // their own sake cannot be extracted without it.
  const std::string& DataFailure() const { return dataFailure_; }
  // The data file the directory was read beside, when it could be told.
  const std::optional<FileId>& DataId() const { return dataId_; }
  // Bytes at the end of the directory file that make no whole record, and so no entry: the
  // file is damaged, or is no directory file at all.
  std::int64_t TrailingBytes() const { return trailingBytes_; }

 private:
  friend class ArchiveReader;
  ArchivePaths paths_;
  std::vector<Entry> entries_;
  std::vector<std::string> reasons_;
  // The name fields, by index, of the few records whose bytes their entry's name does not tell:
  // a NUL or 0x10 inside, or spaces before the padding. Kept aside, so that an entry stays small.
  std::vector<std::pair<std::uint32_t, std::array<char, ENTRY_NAME_LENGTH>>> oddFields_;
  std::int64_t dataSize_ = 0;
  std::int64_t trailingBytes_ = 0;
  // The data file the directory was read beside: compact and pack put a new one in its place.
  std::optional<FileId> dataId_;
  std::string dataFailure_;
};

// Reading an archive's directory into its value.
class ArchiveReader {
 public:
  explicit ArchiveReader(FileSystem& fs);

  // The archive at basePath: one entry per whole record of basePath + ".dir", each decided
  // against the data file's size and the file system's names. keepGoing is asked between
  // pieces of a long directory; when it says no, the archive comes back without entries.
  // Throws RunError when the directory file cannot be opened or read, or memory runs out.
  Archive LoadDirectory(const std::string& basePath, const std::function<bool()>& keepGoing = {});
  // The same for an archive whose two files are spelled otherwise ("DATA.IMG", "DATA.DIR").
  Archive LoadDirectory(const ArchivePaths& paths, const std::function<bool()>& keepGoing = {});

 protected:
  FileSystem& fs_;

 private:
  // One reading of the files at view, which SettleArchive gave for paths.
  Archive ReadArchive(const ArchivePaths& view, const std::function<bool()>& keepGoing);
};

}  // namespace sectorsieve
