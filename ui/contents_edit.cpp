#include "contents_edit.h"

#include <set>

#include "messages.h"

namespace sectorsieve::ui {

namespace {

// The names a question lists before it says how many more there are.
constexpr std::size_t kListedNames = 10;

std::string Entries(std::size_t n) {
  return Grouped(static_cast<std::int64_t>(n)) + (n == 1 ? " entry" : " entries");
}

// names one a line, the first few of them.
std::string Lines(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kListedNames; ++i) text += "\r\n" + names[i];
  if (names.size() > kListedNames)
    text += "\r\nand " + Grouped(static_cast<std::int64_t>(names.size() - kListedNames)) + " more";
  return text;
}

}  // namespace

Named NameEntries(const Archive& value, const std::vector<std::string_view>& names,
                  const NameTools& tools) {
  Named named;
  std::set<std::u32string> keys;
  std::vector<NamePattern> patterns;
  for (const std::string_view name : names) {
    if (!keys.insert(NameKey(name, tools.cp, tools.toUtf8)).second) continue;
    const std::optional<std::string> text = tools.toUtf8(name);
    if (!text) {
      named.refusal = Quoted(tools.shown(name)) + " has bytes that code page " +
                      std::to_string(tools.cp.Id()) + " does not convert: change it with the " +
                      "command line, by a pattern";
      return named;
    }
    named.patterns.push_back(*text);
    patterns.emplace_back(*text);
  }
  for (const Archive::Entry& entry : value) {
    const std::u32string key = NameKey(entry.FileName(), tools.cp, tools.toUtf8);
    const bool chosen = keys.contains(key);
    named.entries += chosen;
    if (chosen) continue;
    for (const NamePattern& pattern : patterns)
      if (pattern.Matches(key)) {
        named.refusal = Quoted(pattern.Text()) + " would take " +
                        Quoted(tools.shown(entry.FileName())) +
                        " along: its \"*\" or \"?\" stands for any character";
        return named;
      }
  }
  return named;
}

std::string RemoveQuestion(std::size_t entries, std::string_view archive) {
  return "Remove " + Entries(entries) + " from " + std::string(archive) +
         "? This cannot be undone.";
}

std::string RemovedNotice(std::size_t entries) { return "Removed " + Entries(entries) + "."; }

Renaming RenameEntry(const Archive& value, std::string_view oldName, std::string_view typed,
                     const NameTools& tools) {
  Renaming renaming;
  if (typed == tools.shown(oldName)) return renaming;
  const std::optional<std::string> name = tools.entryName(typed);
  renaming.refusal = TypedNameRefusal(typed, name, tools.cp);
  if (!renaming.refusal.empty()) return renaming;
  Named named = NameEntries(value, {oldName}, tools);
  if (!named.refusal.empty()) {
    renaming.refusal = std::move(named.refusal);
    return renaming;
  }
  renaming.pattern = named.patterns.front();
  renaming.name = *name;
  return renaming;
}

std::string RenamedNotice(std::string_view from, std::string_view to) {
  return "Renamed " + Quoted(from) + " to " + Quoted(to) + ".";
}

std::string CompactedNotice(std::int64_t freed) {
  return "Compacted: freed " + Grouped(freed) + (freed == 1 ? " byte." : " bytes.");
}

Adding AddFilesOf(const Archive& value, const std::vector<std::string>& paths,
                  const std::function<std::size_t(const std::string&)>& leafStart,
                  const std::function<std::string(const std::string&)>& unreadable,
                  const NameTools& tools) {
  Adding adding;
  std::set<std::u32string> added;
  for (const std::string& path : paths) {
    // As add says it: a file that cannot be read is that, whatever its name would make.
    if (const std::string reason = unreadable(path); !reason.empty()) {
      adding.refused.push_back(CannotRead(path, reason));
      continue;
    }
    const std::string leaf = path.substr(leafStart(path));
    const std::optional<std::string> name = tools.entryName(leaf);
    if (const std::string refusal = TypedNameRefusal(leaf, name, tools.cp); !refusal.empty()) {
      adding.refused.push_back("cannot add " + Quoted(path) + ": " + refusal);
      continue;
    }
    adding.files.push_back({*name, path, path, leaf});
    added.insert(NameKey(*name, tools.cp, tools.toUtf8));
  }
  std::set<std::u32string> told;
  for (const Archive::Entry& entry : value) {
    const std::u32string key = NameKey(entry.FileName(), tools.cp, tools.toUtf8);
    if (added.contains(key) && told.insert(key).second)
      adding.replaced.push_back(tools.shown(entry.FileName()));
  }
  return adding;
}

std::string RefusedQuestion(const Adding& adding) {
  std::string text;
  for (const std::string& refusal : adding.refused) text += (text.empty() ? "" : "\r\n") + refusal;
  if (adding.files.empty()) return text;
  const std::size_t n = adding.files.size();
  return text + "\r\n\r\nAdd the other " + Grouped(static_cast<std::int64_t>(n)) +
         (n == 1 ? " file?" : " files?");
}

std::string ReplaceQuestion(const Adding& adding) {
  return "Replace " + Entries(adding.replaced.size()) + "?\r\n" + Lines(adding.replaced);
}

std::string AddedNotice(std::size_t files, std::size_t replaced) {
  return "Added " + Grouped(static_cast<std::int64_t>(files)) +
         (files == 1 ? " file: " : " files: ") +
         Grouped(static_cast<std::int64_t>(files - replaced)) + " new, " +
         Grouped(static_cast<std::int64_t>(replaced)) + " replaced.";
}

}  // namespace sectorsieve::ui
