#pragma once

#include <memory>
#include <string>

#include "file_io.h"

namespace sectorsieve {

// An entry whose bytes are in a temporary file in the destination, not yet under its name.
// Finishing it (closing and renaming) may happen on another thread than the writing; until it
// has succeeded, the temporary file is removed when this object goes.
class WrittenEntry {
 public:
  WrittenEntry(FileSystem& fs, std::unique_ptr<OutputFile> file, std::string finalPath,
               std::string label);
  WrittenEntry(WrittenEntry&& other) noexcept;
  WrittenEntry& operator=(WrittenEntry&&) = delete;
  ~WrittenEntry();

  OutputFile& File() { return *file_; }
  const std::string& FinalPath() const { return finalPath_; }

  // Closes the file and renames it over its final name, so that the file appears complete or
  // not at all. Throws EntryError when either step fails.
  void Finish();

 private:
  FileSystem& fs_;
  std::unique_ptr<OutputFile> file_;
  std::string tempPath_;
  std::string finalPath_;
  std::string label_;
  bool pending_ = true;  // the temporary file exists and is ours to remove
};

}  // namespace sectorsieve
