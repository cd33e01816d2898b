#include "picking.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <numeric>

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

SameName NameGroups::operator[](std::size_t group) const {
  const std::size_t start = group == 0 ? 0 : ends_[group - 1];
  return {std::span(entries_).subspan(start, ends_[group] - start), kept_[group]};
}

NameGroups GroupByName(const Archive& archive, const std::vector<std::size_t>& indices,
                       const CodePage& cp, const NameText& toUtf8, const KeepGoing& keepGoing) {
  // Open addressing over each name's key's hash, at most half full. A slot holds the hash's
  // high half and its group plus one (zero when empty); a name whose slot matches is compared
  // by key with the group's first entry, so only names that are the same are read twice.
  std::vector<std::uint64_t> slots(std::bit_ceil(2 * indices.size()));
  const std::size_t mask = slots.size() - 1;
  std::vector<std::uint32_t> groupOf(indices.size());
  std::vector<std::size_t> firstOf;
  NameGroups groups;
  std::u32string key, other;
  for (std::size_t i = 0; i < indices.size(); ++i) {
    if (i > 0 && i % kEntriesPerQuestion == 0 && keepGoing && !keepGoing()) return {};
    const Archive::Entry& entry = archive[indices[i]];
    NameKey(entry.FileName(), cp, toUtf8, key);
    // Spread over 64 bits: the high half tags the slot, and a 32-bit system hashes to 32.
    const std::uint64_t hash = std::hash<std::u32string_view>{}(key)*0x9E3779B97F4A7C15u;
    const std::uint64_t tag = hash & ~std::uint64_t{0xFFFFFFFF};
    std::size_t at = hash & mask;
    for (; slots[at] != 0; at = (at + 1) & mask) {
      if ((slots[at] & ~std::uint64_t{0xFFFFFFFF}) != tag) continue;
      const std::size_t group = (slots[at] & 0xFFFFFFFF) - 1;
      NameKey(archive[firstOf[group]].FileName(), cp, toUtf8, other);
      if (other == key) break;
    }
    if (slots[at] == 0) {
      slots[at] = tag | (firstOf.size() + 1);
      firstOf.push_back(indices[i]);
      groups.kept_.emplace_back();
    }
    groupOf[i] = static_cast<std::uint32_t>((slots[at] & 0xFFFFFFFF) - 1);
    // Files are renamed to their names in directory order: the last one written stays.
    if (!entry.Refused()) groups.kept_[groupOf[i]] = indices[i];
  }
  // Each group's entries together, in directory order: counted, then each put at its group's
  // next place, which ends where the group ends.
  std::vector<std::size_t> next(groups.kept_.size());
  for (const std::uint32_t group : groupOf) ++next[group];
  std::exclusive_scan(next.begin(), next.end(), next.begin(), std::size_t{0});
  groups.entries_.resize(indices.size());
  for (std::size_t i = 0; i < indices.size(); ++i) groups.entries_[next[groupOf[i]]++] = indices[i];
  groups.ends_ = std::move(next);
  return groups;
}

std::vector<std::size_t> ReplacedByLater(const Archive& archive,
                                         const std::vector<std::size_t>& indices,
                                         const CodePage& cp, const NameText& toUtf8,
                                         const KeepGoing& keepGoing) {
  std::vector<std::size_t> replaced;
  const NameGroups groups = GroupByName(archive, indices, cp, toUtf8, keepGoing);
  for (std::size_t g = 0; g < groups.size(); ++g)
    for (const SameName name = groups[g]; const std::size_t index : name.entries)
      if (index != name.kept && !archive[index].Refused()) replaced.push_back(index);
  std::sort(replaced.begin(), replaced.end());
  return replaced;
}

}  // namespace sectorsieve
