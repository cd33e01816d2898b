#include "imgpack.h"

#include <algorithm>
#include <map>
#include <vector>

#include "format.h"
#include "messages.h"
#include "names.h"
#include "picking.h"

namespace sectorsieve::imgpack {

namespace {

// path of name in folder, spelled as paths are: after the folder's own separator, where it
// ends in one (the command line's FOLDER does, "\\" on Windows).
std::string Inside(const std::string& folder, const std::string& name) {
  return folder.ends_with('/') || folder.ends_with('\\') ? folder + name : folder + "/" + name;
}

// Why an item of the folder cannot be packed, or empty.
std::string KindRefusal(ItemKind kind) {
  switch (kind) {
    case ItemKind::File:
    case ItemKind::LinkInside:
      return {};
    case ItemKind::Folder:
      return "it is a folder, and only plain files can be packed";
    case ItemKind::Link:
      return "it is a link to a file outside the folder";
    case ItemKind::Other:
      break;
  }
  return "it is not a plain file";
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace

PackError::PackError(std::vector<std::string> reasons)
    : std::runtime_error(Joined(reasons)), reasons_(std::move(reasons)) {}

std::size_t PackFolder(FileSystem& fs, const std::string& folder, const ArchivePaths& typed,
                       const EntryNamer& entryName, const KeepGoing& keepGoing, bool replace,
                       const std::function<void(const std::string&)>& packed) {
  if (!fs.IsFolder(folder)) throw PackError(Quoted(folder) + " is not a folder");
  const ArchivePaths paths = SpelledArchive(fs, typed);
  const auto lock = BeginChange(fs, paths, keepGoing);
  // Asked under the lock, so that no change makes the archive meanwhile.
  if (!replace)
    for (const std::string& path : {paths.img, paths.dir})
      if (fs.Exists(path)) throw ArchiveExists(Quoted(path) + " exists already");
  std::vector<FolderItem> items;
  try {
    items = fs.ListFolder(folder);
  } catch (const IoError& e) {
    throw PackError(CannotRead(folder, e.what()));
  }
  // Entry name and the file it comes from, sorted by entry name.
  std::vector<std::pair<std::string, std::string>> entries;
  std::map<std::u32string, std::string> windowsNames;
  // Every refusal, so that one run shows all that must change; in the order of the files' names.
  std::map<std::string, std::string> refusals;
  for (const FolderItem& item : items) {
    const std::string path = Inside(folder, item.name);
    // The archive being written over and this program's own files are no part of what it holds.
    if (IsTemporaryName(item.name) || fs.SameFile(path, paths.img) || fs.SameFile(path, paths.dir))
      continue;
    const auto refuse = [&](const std::string& reason) {
      refusals.emplace(item.name, "cannot pack " + Quoted(path) + ": " + reason);
    };
    if (const std::string reason = KindRefusal(item.kind); !reason.empty()) {
      refuse(reason);
      continue;
    }
    const std::optional<std::string> name = entryName(item.name);
    if (!name) {
      refuse("its name has characters that code page " + std::to_string(fs.Ansi().Id()) +
             " cannot hold exactly");
      continue;
    }
    if (const std::string reason = RefusedNameReason(*name, fs.Ansi()); !reason.empty()) {
      refuse(reason);
      continue;
    }
    const auto [other, fresh] = windowsNames.emplace(
        NameKey(item.name, fs.Ansi(),
                [](std::string_view text) { return std::optional<std::string>(text); }),
        path);
    if (!fresh) {
      refuse("Windows takes its name for that of " + Quoted(other->second) +
             ", and would extract only one of them");
      continue;
    }
    entries.emplace_back(*name, path);
  }
  if (!refusals.empty()) {
    std::vector<std::string> reasons;
    for (auto& [name, reason] : refusals) reasons.push_back(std::move(reason));
    throw PackError(std::move(reasons));
  }
  std::sort(entries.begin(), entries.end());

  ArchiveChange change(fs, paths, ArchiveChange::Mode::Whole);
  std::vector<DirEntry> records;
  for (const auto& [name, file] : entries) {
    if (keepGoing && !keepGoing()) throw ChangeInterrupted();
    records.push_back(change.AppendFile(name, file, file, keepGoing));
    if (packed) packed(name);
  }
  change.Commit(records);
  return entries.size();
}

}  // namespace sectorsieve::imgpack
