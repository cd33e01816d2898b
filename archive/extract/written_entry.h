#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "file_io.h"

namespace sectorsieve {

// The folder a run writes into: its path as the user gave it, for messages, and the folder
// opened once, through which every file is made and named. It keeps the archive's own files.
struct Destination {
  std::string path;  // ends in a separator
  std::unique_ptr<OutputFolder> folder;
};

// An entry whose bytes are in a new file in the destination, not yet complete under its name:
// a temporary file, or one under its name that the system removes unless it is closed whole.
// Finishing it (closing, then renaming) may happen on another thread than the writing; until
// it has succeeded, the file is removed when this object goes.
class WrittenEntry {
 public:
  WrittenEntry(Destination& destination, std::unique_ptr<OutputFile> file, std::string name,
               std::string label, std::int64_t bytes);
  WrittenEntry(WrittenEntry&& other) noexcept;
  WrittenEntry& operator=(WrittenEntry&&) = delete;
  ~WrittenEntry();

  OutputFile& File() { return *file_; }
  // How many bytes the entry's file holds.
  std::int64_t Bytes() const { return bytes_; }

  // Flushes and closes the file. Throws EntryError when it is not complete.
  void Close();
  // Renames the closed file over its name, so that the file appears complete or not at all;
  // one made under its name is there already. Throws EntryError when it cannot, a link on the
  // way included, and when the file there is the archive's own.
  void Rename();

 private:
  Destination& destination_;
  std::unique_ptr<OutputFile> file_;
  std::string name_;
  std::string label_;
  std::int64_t bytes_;
  bool pending_ = true;  // the file exists and is ours to remove
};

}  // namespace sectorsieve
