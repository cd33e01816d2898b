#include "archive_check.h"

#include <algorithm>
#include <numeric>

namespace sectorsieve {

ArchiveCheck CheckArchive(const Archive& archive, const CodePage& cp, const NameText& toUtf8) {
  return *CheckArchive(archive, cp, toUtf8, [] { return true; });
}

std::optional<ArchiveCheck> CheckArchive(const Archive& archive, const CodePage& cp,
                                         const NameText& toUtf8, const KeepGoing& keepGoing) {
  const auto stopped = [&] { return keepGoing && !keepGoing(); };
  ArchiveCheck check;
  check.trailingBytes = archive.TrailingBytes();
  std::vector<std::size_t> all(archive.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  for (const Archive::Entry& entry : archive) {
    if (entry.Refused()) {
      check.refused.push_back(entry.Index());
    } else if (const std::size_t last = LastSeparator(entry.FileName(), cp);
               last != std::string::npos) {
      check.needFolders.push_back({entry.Index(), std::string(entry.FileName().substr(0, last))});
    }
  }

  const NameGroups names = GroupByName(archive, all, cp, toUtf8, keepGoing);
  if (stopped()) return std::nullopt;
  for (std::size_t g = 0; g < names.size(); ++g)
    for (const SameName name = names[g]; const std::size_t index : name.entries)
      if (name.kept && index < *name.kept && !archive[index].Refused())
        check.hidden.push_back({index, *name.kept});
  std::sort(check.hidden.begin(), check.hidden.end(),
            [](const auto& a, const auto& b) { return a.entry < b.entry; });

  // Entries that claim bytes, by where they start: each one that starts before the furthest
  // end so far overlaps the entry that reaches there.
  std::vector<std::pair<std::int64_t, std::size_t>> claiming;
  for (const Archive::Entry& entry : archive)
    if (entry.Start() >= 0 && entry.Bytes() > 0)
      claiming.emplace_back(entry.Start(), entry.Index());
  std::sort(claiming.begin(), claiming.end());
  if (stopped()) return std::nullopt;
  const std::int64_t size = archive.DataSize();
  std::int64_t furthest = 0;
  std::size_t reaching = 0;
  // What compact keeps: the sectors of the entries that lie wholly within the data file.
  std::vector<SectorRun> reached;
  for (const auto& [start, index] : claiming) {
    const Archive::Entry& entry = archive[index];
    const std::int64_t end = start + entry.Bytes();
    if (start < furthest) check.overlaps.push_back({index, reaching});
    if (end > furthest) {
      furthest = end;
      reaching = index;
    }
    if (end <= SectorsFor(size) * SECTOR_SIZE)
      reached.push_back({start / SECTOR_SIZE, end / SECTOR_SIZE});
  }
  std::sort(check.overlaps.begin(), check.overlaps.end(),
            [](const auto& a, const auto& b) { return a.entry < b.entry; });
  std::int64_t used = 0;
  for (const SectorRun& run : MergedRuns(std::move(reached)))
    used += std::min(run.end * SECTOR_SIZE, size) - run.first * SECTOR_SIZE;
  check.unusedBytes = size - used;
  return check;
}

}  // namespace sectorsieve
