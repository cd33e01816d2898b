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

}  // namespace

std::size_t PackFolder(FileSystem& fs, const std::string& folder, const ArchivePaths& typed,
                       const EntryNamer& entryName, const KeepGoing& keepGoing) {
  if (!fs.IsFolder(folder)) throw PackError(Quoted(folder) + " is not a folder");
  const ArchivePaths paths = SpelledArchive(fs, typed);
  const auto lock = BeginChange(fs, paths, keepGoing);
  std::vector<FolderItem> items;
  try {
    items = fs.ListFolder(folder);
  } catch (const IoError& e) {
    throw PackError(CannotRead(folder, e.what()));
  }
  // Entry name and the file it comes from, sorted by entry name.
  std::vector<std::pair<std::string, std::string>> entries;
  std::map<std::u32string, std::string> windowsNames;
  for (const FolderItem& item : items) {
    const std::string path = Inside(folder, item.name);
    // The archive being written over and this program's own files are no part of what it holds.
    if (IsTemporaryName(item.name) || fs.SameFile(path, paths.img) || fs.SameFile(path, paths.dir))
      continue;
    const auto refuse = [&](const std::string& reason) {
      return PackError("cannot pack " + Quoted(path) + ": " + reason);
    };
    if (const std::string reason = KindRefusal(item.kind); !reason.empty()) throw refuse(reason);
    const std::optional<std::string> name = entryName(item.name);
    if (!name)
      throw refuse("its name has characters that code page " + std::to_string(fs.Ansi().Id()) +
                   " cannot hold exactly");
    if (const std::string reason = RefusedNameReason(*name, fs.Ansi()); !reason.empty())
      throw refuse(reason);
    const auto [other, fresh] = windowsNames.emplace(
        NameKey(item.name, fs.Ansi(),
                [](std::string_view text) { return std::optional<std::string>(text); }),
        path);
    if (!fresh)
      throw refuse("Windows takes its name for that of " + Quoted(other->second) +
                   ", and would extract only one of them");
    entries.emplace_back(*name, path);
  }
  std::sort(entries.begin(), entries.end());

  ArchiveChange change(fs, paths, ArchiveChange::Mode::Whole);
  std::vector<DirEntry> records;
  for (const auto& [name, file] : entries) {
    if (keepGoing && !keepGoing()) throw ChangeInterrupted();
    records.push_back(change.AppendFile(name, file, file, keepGoing));
  }
  change.Commit(records);
  return entries.size();
}

}  // namespace sectorsieve::imgpack
