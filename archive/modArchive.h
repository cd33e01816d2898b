#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "clsImgFile.h"
#include "file_io.h"
#include "written_entry.h"

namespace sectorsieve {

inline constexpr int SECTOR_SIZE = 2048;
inline constexpr int DIR_RECORD_SIZE = 32;
inline constexpr int ENTRY_NAME_LENGTH = 24;

// Byte offsets of the fields inside a directory record (little-endian).
inline constexpr int RECORD_OFFSET_FIELD = 0;
inline constexpr int RECORD_SIZE_FIELD = 4;
inline constexpr int RECORD_NAME_FIELD = 8;

// One directory record, decoded field by field.
struct DirEntry {
  std::int32_t lOffset = 0;  // first sector of the entry in the data file
  std::int32_t lSize = 0;    // length in sectors
  std::array<char, ENTRY_NAME_LENGTH> sName{};
};
static_assert(sizeof(DirEntry) == DIR_RECORD_SIZE, "a directory record is 32 bytes");

// One entry could not be extracted; the run goes on with the next one.
class EntryError : public std::runtime_error {
 public:
  EntryError(std::string entry, std::string reason)
      : std::runtime_error(entry + ": " + reason),
        entry_(std::move(entry)),
        reason_(std::move(reason)) {}
  const std::string& entry() const { return entry_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string entry_;
  std::string reason_;
};

// The run cannot go on at all (archive or destination unusable); what() says which and why.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The entry catalogue: keeps directory order and finds an entry by its sId.
class Catalogue {
 public:
  void Add(clsImgFile entry);
  const clsImgFile* Item(const std::string& key) const;
  std::size_t Count() const { return items_.size(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<clsImgFile> items_;
  std::unordered_map<std::string, std::size_t> index_;
};

// Archive access. Names starting with "g" are the module-level state of the archive
// module; they live on this object so that every test starts from fresh state.
class modArchive {
 public:
  explicit modArchive(FileSystem& fs);

  // Replaces gEntries with one entry per whole record of basePath + ".dir".
  // Throws RunError when the directory file cannot be opened or read.
  void LoadDirectory(const std::string& basePath);

  // Writes one entry into destination (ending in "\") under its name up to the first space.
  // The file appears complete or not at all. Throws EntryError for a fault of this entry,
  // RunError when the data file or the destination folder cannot be used.
  void ExtractEntry(const clsImgFile& entry, const std::string& destination);
  // ExtractEntry up to the entry's bytes: its file is left to finish, on any thread.
  WrittenEntry WriteEntry(const clsImgFile& entry, const std::string& destination);

  // Closes the data file that ExtractEntry keeps open between entries of one run.
  void CloseArchive() { gImgFile.reset(); }

  Catalogue gEntries;
  std::string gArchiveBase;
  DirEntry gEntry;
  std::vector<char> gBuffer;  // copy buffer, fixed size whatever the entry's size

 private:
  void OpenArchive();
  void CopyEntry(std::int64_t start, std::int64_t count, OutputFile& out);

  FileSystem& fs_;
  std::unique_ptr<InputFile> gImgFile;
  std::int64_t imgSize_ = 0;
};

// Returns text without its NUL (0) and DLE (16) characters.
std::string StripNulls(std::string_view text);
// Returns text with every space replaced by a NUL.
std::string SpacesToNulls(std::string_view text);
// The name an entry is shown and reported under: its name without padding, or its index.
std::string EntryLabel(const clsImgFile& entry);
// Why name cannot be written inside the destination folder, or empty when it is safe.
std::string UnsafeNameReason(std::string_view name);

}  // namespace sectorsieve
