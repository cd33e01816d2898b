#include "extraction.h"

#include <algorithm>
#include <new>

namespace sectorsieve::cli {

int ExitStatus(const RunOutcome& outcome) {
  if (outcome.stopped) return EXIT_INTERRUPTED;
  if (!outcome.failure.empty()) return EXIT_RUN_FAILED;
  return outcome.failures.empty() ? EXIT_ALL_WRITTEN : EXIT_SOME_FAILED;
}

RunOutcome ExtractArchive(modArchive& archive, const ArchivePaths& paths,
                          const std::string& destination, const std::atomic<bool>& stop,
                          RunObserver& observer) {
  // The window's run: files are finished on the run's pool while the next entries are written.
  ExtractionRun run(archive);
  RunProgress progress;
  std::int64_t inHand = 0;  // bytes of the entry being written
  const auto loaded = [&] {
    progress.entries = archive.gEntries.Count();
    for (const clsImgFile& entry : archive.gEntries)
      progress.totalBytes += std::int64_t{std::max(entry.lSize(), 0)} * SECTOR_SIZE;
    return destination;
  };
  RunOutcome outcome = run.Extract(
      paths, [&] { return !stop; }, loaded,
      [&](std::size_t done, const clsImgFile& entry) {
        progress.done = done;
        progress.bytes += inHand;
        if (done > 0) observer.EntryDone(progress);
        inHand = std::int64_t{entry.lSize()} * SECTOR_SIZE;
        if (stop) run.RequestStop();
      });
  for (const EntryError& failure : outcome.failures) observer.EntryFailed(failure);
  if (!outcome.stopped && outcome.failure.empty()) {
    progress.done = outcome.processed;
    progress.bytes += inHand;
    observer.EntryDone(progress);
  }
  return outcome;
}

}  // namespace sectorsieve::cli
