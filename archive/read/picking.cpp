#include "picking.h"

#include <algorithm>
#include <unordered_map>

namespace sectorsieve {

Picked PickEntries(const Archive& archive, const std::vector<std::string>& patterns,
                   const CodePage& cp, const NameText& toUtf8) {
  std::vector<NamePattern> compiled(patterns.begin(), patterns.end());
  std::vector<bool> used(patterns.size());
  Picked picked;
  for (const Archive::Entry& entry : archive) {
    const std::u32string key = NameKey(entry.FileName(), cp, toUtf8);
    bool matched = false;
    for (std::size_t p = 0; p < compiled.size(); ++p)
      if (compiled[p].Matches(key)) matched = used[p] = true;
    if (matched) picked.entries.push_back(entry.Index());
  }
  for (std::size_t p = 0; p < patterns.size(); ++p)
    if (!used[p]) picked.unmatched.push_back(patterns[p]);
  return picked;
}

std::vector<SameName> GroupByName(const Archive& archive, const std::vector<std::size_t>& indices,
                                  const CodePage& cp, const NameText& toUtf8,
                                  const KeepGoing& keepGoing) {
  std::vector<SameName> groups;
  std::unordered_map<std::u32string, std::size_t> groupOf;
  for (std::size_t i = 0; i < indices.size(); ++i) {
    if (i > 0 && i % kEntriesPerQuestion == 0 && keepGoing && !keepGoing()) return {};
    const std::size_t index = indices[i];
    const Archive::Entry& entry = archive[index];
    const auto [at, fresh] = groupOf.emplace(NameKey(entry.FileName(), cp, toUtf8), groups.size());
    if (fresh) groups.emplace_back();
    SameName& group = groups[at->second];
    group.entries.push_back(index);
    // Files are renamed to their names in directory order: the last one written stays.
    if (!entry.Refused()) group.kept = index;
  }
  return groups;
}

std::vector<std::size_t> ReplacedByLater(const Archive& archive,
                                         const std::vector<std::size_t>& indices,
                                         const CodePage& cp, const NameText& toUtf8,
                                         const KeepGoing& keepGoing) {
  std::vector<std::size_t> replaced;
  for (const SameName& name : GroupByName(archive, indices, cp, toUtf8, keepGoing))
    for (const std::size_t index : name.entries)
      if (index != name.kept && !archive[index].Refused()) replaced.push_back(index);
  std::sort(replaced.begin(), replaced.end());
  return replaced;
}

}  // namespace sectorsieve
