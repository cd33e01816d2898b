#include "archive_check.h"

#include <algorithm>
#include <numeric>

namespace sectorsieve {

ArchiveCheck CheckArchive(const Archive& archive, const CodePage& cp, const NameText& toUtf8) {
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
  // What compact keeps: the sectors of the entries that lie wholly within the data file.
  std::vector<SectorRun> reached;
  for (const std::size_t index : claiming) {
    const Archive::Entry& entry = archive[index];
    const std::int64_t end = entry.Start() + entry.Bytes();
    if (entry.Start() < furthest) check.overlaps.push_back({index, reaching});
    if (end > furthest) {
      furthest = end;
      reaching = index;
    }
    if (end <= SectorsFor(size) * SECTOR_SIZE)
      reached.push_back({entry.Start() / SECTOR_SIZE, end / SECTOR_SIZE});
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
