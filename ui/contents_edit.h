#pragma once

// What the contents window's changes take from the list and what they ask and say. The changes
// themselves, and every rule of them, are the core's; this only names entries as the core takes
// them and words the questions. Plain C++, so that it is tested without a window.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive_change.h"
#include "archive_reader.h"
#include "contents_list.h"
#include "name_matching.h"

namespace sectorsieve::ui {

// A name the user typed, or a file's own name (UTF-8), in the archive's code page; nothing where
// the code page cannot hold it exactly.
using EntryNameOf = std::function<std::optional<std::string>(std::string_view utf8)>;

// The code page of the archive's names and how they read, for every question below.
struct NameTools {
  const CodePage& cp;
  NameText toUtf8;
  ShownName shown;
  EntryNameOf entryName;
};

// Entries named as the core's remove and rename take them: one NAME pattern for each name, that
// matches in value the entries of that name and no other; or why they cannot be (a name that
// does not convert, or whose "*" or "?" would take other entries along).
struct Named {
  std::vector<std::string> patterns;
  std::size_t entries = 0;  // of value, that the patterns match
  std::string refusal;
};
Named NameEntries(const Archive& value, const std::vector<std::string_view>& names,
                  const NameTools& tools);

// "Remove 3 entries from many.img? This cannot be undone."
std::string RemoveQuestion(std::size_t entries, std::string_view archive);
// "Removed 3 entries."
std::string RemovedNotice(std::size_t entries);

// What renaming the entry oldName of value to typed (UTF-8) hands the core: the pattern of the
// old name and the new name in the code page; or why not, in rename's words; or nothing to do
// when typed is the name as shown.
struct Renaming {
  std::string pattern;
  std::string name;
  std::string refusal;
  bool Unchanged() const { return pattern.empty() && refusal.empty(); }
};
Renaming RenameEntry(const Archive& value, std::string_view oldName, std::string_view typed,
                     const NameTools& tools);
// "Renamed "a.txt" to "b.txt"."
std::string RenamedNotice(std::string_view from, std::string_view to);

// "Compacted: freed 12,288 bytes."
std::string CompactedNotice(std::int64_t freed);

// Files to add, by path (UTF-8): those that can be read (unreadable says why one cannot, or
// nothing) and whose names an entry can take, as the core adds them; for the others, why not
// ("cannot read "x": ...", "cannot add "x": ..."); and the names of the entries of value that
// they replace.
struct Adding {
  std::vector<AddedFile> files;
  std::vector<std::string> refused;
  std::vector<std::string> replaced;  // as shown, once each
};
Adding AddFilesOf(const Archive& value, const std::vector<std::string>& paths,
                  const std::function<std::size_t(const std::string&)>& leafStart,
                  const std::function<std::string(const std::string&)>& unreadable,
                  const NameTools& tools);
// The refusals, and whether the other files are added.
std::string RefusedQuestion(const Adding& adding);
// "Replace 3 entries?" and their names.
std::string ReplaceQuestion(const Adding& adding);
// "Added 3 files: 1 new, 2 replaced."
std::string AddedNotice(std::size_t files, std::size_t replaced);

}  // namespace sectorsieve::ui
