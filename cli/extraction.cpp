#include "extraction.h"

#include <algorithm>
#include <new>

#include "picking.h"

namespace sectorsieve::cli {

int ExitStatus(const RunOutcome& outcome) {
  if (outcome.stopped) return EXIT_INTERRUPTED;
  if (!outcome.failure.empty()) return EXIT_RUN_FAILED;
  return outcome.failures.empty() && outcome.unmatched.empty() ? EXIT_ALL_WRITTEN
                                                               : EXIT_SOME_FAILED;
}

RunOutcome ExtractArchive(modArchive& archive, const ArchivePaths& paths,
                          const std::string& destination, const std::vector<std::string>& patterns,
                          const NameCodec& names, const std::atomic<bool>& stop,
                          RunObserver& observer, bool keep) {
  // The window's run: files are finished on the run's pool while the next entries are written.
  ExtractionRun run(archive);
  RunProgress progress;
  std::int64_t inHand = 0;  // bytes of the entry being written
  const auto loaded = [&](const Archive& loadedArchive) {
    observer.Loaded(loadedArchive);
    RunTarget target{destination, std::nullopt, {}, keep};
    if (!patterns.empty()) {
      Picked picked = PickEntries(loadedArchive, patterns, names.Ansi(),
                                  [&](std::string_view name) { return names.ToUtf8(name); });
      target.picked = std::move(picked.entries);
      target.unmatched = std::move(picked.unmatched);
    }
    progress.entries = target.picked ? target.picked->size() : loadedArchive.size();
    for (std::size_t i = 0; i < progress.entries; ++i)
      progress.totalBytes +=
          std::max<std::int64_t>(loadedArchive[target.picked ? (*target.picked)[i] : i].Bytes(), 0);
    return target;
  };
  RunOutcome outcome = run.Extract(
      paths, [&] { return !stop; }, loaded,
      [&](std::size_t done, const Archive::Entry& entry) {
        progress.done = done;
        progress.bytes += inHand;
        if (done > 0) observer.EntryDone(progress);
        inHand = entry.Bytes();
        if (stop) run.RequestStop();
        observer.EntryStarted(entry);
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
