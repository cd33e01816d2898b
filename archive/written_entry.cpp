#include "written_entry.h"

#include <utility>

#include "modArchive.h"

namespace sectorsieve {

WrittenEntry::WrittenEntry(FileSystem& fs, std::unique_ptr<OutputFile> file, std::string finalPath,
                           std::string label)
    : fs_(fs),
      file_(std::move(file)),
      tempPath_(file_->Path()),
      finalPath_(std::move(finalPath)),
      label_(std::move(label)) {}

WrittenEntry::WrittenEntry(WrittenEntry&& other) noexcept
    : fs_(other.fs_),
      file_(std::move(other.file_)),
      tempPath_(std::move(other.tempPath_)),
      finalPath_(std::move(other.finalPath_)),
      label_(std::move(other.label_)),
      pending_(std::exchange(other.pending_, false)) {}

WrittenEntry::~WrittenEntry() {
  if (!pending_) return;
  // Windows removes no file that is still open.
  file_.reset();
  fs_.Remove(tempPath_);
}

void WrittenEntry::Finish() {
  try {
    file_->Close();
  } catch (const IoError& e) {
    throw EntryError(label_, std::string("could not be written: ") + e.what());
  }
  try {
    fs_.Rename(tempPath_, finalPath_);
  } catch (const IoError& e) {
    throw EntryError(label_, "could not be saved as \"" + finalPath_ + "\": " + e.what());
  }
  pending_ = false;
}

}  // namespace sectorsieve
