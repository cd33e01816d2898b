#include "archive_check.h"

#include <algorithm>
#include <numeric>

namespace sectorsieve {

ArchiveCheck CheckArchive(const Archive& archive, const CodePage& cp, const NameText& toUtf8) {
  ArchiveCheck check;
  std::vector<std::size_t> all(archive.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  for (const Archive::Entry& entry : archive)
    if (entry.Refused()) check.refused.push_back(entry.Index());

  for (const SameName& name : GroupByName(archive, all, cp, toUtf8))
    for (const std::size_t index : name.entries)
      if (name.kept && index < *name.kept && !archive[index].Refused())
        check.hidden.push_back({index, *name.kept});
  std::sort(check.hidden.begin(), check.hidden.end(),
            [](const auto& a, const auto& b) { return a.entry < b.entry; });

  // Entries that claim bytes, by where they start: each one that starts before the furthest
  // end so far overlaps the entry that reaches there.
  std::vector<std::size_t> claiming;
  for (const Archive::Entry& entry : archive)
    if (entry.Start() >= 0 && entry.Bytes() > 0) claiming.push_back(entry.Index());
  std::sort(claiming.begin(), claiming.end(), [&](std::size_t a, std::size_t b) {
    return archive[a].Start() != archive[b].Start() ? archive[a].Start() < archive[b].Start()
                                                    : a < b;
  });
  const std::int64_t size = archive.DataSize();
  std::int64_t furthest = 0;
  std::size_t reaching = 0;
  std::int64_t used = 0;
  for (const std::size_t index : claiming) {
    const Archive::Entry& entry = archive[index];
    const std::int64_t end = entry.Start() + entry.Bytes();
    if (entry.Start() < furthest) check.overlaps.push_back({index, reaching});
    // Only what lies within the data file counts as used.
    const std::int64_t from = std::min(std::max(entry.Start(), furthest), size);
    if (end > furthest) {
      used += std::min(end, size) - from;
      furthest = end;
      reaching = index;
    }
  }
  std::sort(check.overlaps.begin(), check.overlaps.end(),
            [](const auto& a, const auto& b) { return a.entry < b.entry; });
  check.unusedBytes = size - used;
  return check;
}

}  // namespace sectorsieve
