#include "written_entry.h"

#include <utility>

#include "modArchive.h"

namespace sectorsieve {

WrittenEntry::WrittenEntry(Destination& destination, std::unique_ptr<OutputFile> file,
                           std::string name, std::string label, std::int64_t bytes)
    : destination_(destination),
      file_(std::move(file)),
      name_(std::move(name)),
      label_(std::move(label)),
      bytes_(bytes) {}

WrittenEntry::WrittenEntry(WrittenEntry&& other) noexcept
    : destination_(other.destination_),
      file_(std::move(other.file_)),
      name_(std::move(other.name_)),
      label_(std::move(other.label_)),
      bytes_(other.bytes_),
      pending_(std::exchange(other.pending_, false)) {}

WrittenEntry::~WrittenEntry() {
  if (!pending_) return;
  const std::string temp = file_->Name();
  // Windows removes no file that is still open; one made under its name goes as it closes.
  file_.reset();
  destination_.folder->Remove(temp);
}

void WrittenEntry::Close() {
  try {
    file_->Close();
  } catch (const IoError& e) {
    throw EntryError(label_, std::string("could not be written: ") + e.what());
  }
}

void WrittenEntry::Rename() {
  try {
    destination_.folder->Rename(file_->Name(), name_);
  } catch (const KeptFile&) {
    throw EntryError(label_, "would replace the archive being read");
  } catch (const LinkInTheWay& e) {
    throw EntryError(label_, "is not written through \"" + destination_.path +
                                 destination_.folder->Shown(e.link()) +
                                 "\", which is a link and could lead outside the folder");
  } catch (const NoSuchFolder& e) {
    throw EntryError(label_, "could not be saved as \"" + destination_.path +
                                 destination_.folder->Shown(name_) + "\": there is no folder \"" +
                                 destination_.path + destination_.folder->Shown(e.folder()) + "\"");
  } catch (const IoError& e) {
    throw EntryError(label_, "could not be saved as \"" + destination_.path +
                                 destination_.folder->Shown(name_) + "\": " + e.what());
  }
  pending_ = false;
}

}  // namespace sectorsieve
