#include "extraction.h"

#include <algorithm>
#include <new>

#include "extraction_run.h"
#include "unique_handle.h"

namespace sectorsieve::cli {

namespace {

// The window's run: files are finished on the run's pool while the next entries are written.
void ExtractEntries(modArchive& archive, const std::string& destination,
                    const std::atomic<bool>& stop, RunObserver& observer, RunOutcome& outcome) {
  ExtractionRun run(archive);
  std::int64_t inHand = 0;  // bytes of the entry being written
  const auto ended = [&](RunFailures failures) {
    outcome.failures = std::move(failures);
    for (const EntryError& failure : outcome.failures) observer.EntryFailed(failure);
    outcome.done = run.Processed();
    outcome.bytes = run.Written().bytes;
  };
  try {
    ended(run.Run(destination, [&](std::size_t done, const clsImgFile& entry) {
      outcome.done = done;
      outcome.bytes += inHand;
      if (done > 0) observer.EntryDone(outcome);
      inHand = std::int64_t{entry.lSize()} * SECTOR_SIZE;
      if (stop) {
        outcome.interrupted = true;
        run.RequestStop();
      }
    }));
  } catch (const RunError& e) {
    ended(e.failures());
    throw;
  }
  if (!outcome.interrupted) observer.EntryDone(outcome);
}

}  // namespace

int ExitStatus(const RunOutcome& outcome) {
  if (outcome.interrupted) return EXIT_INTERRUPTED;
  if (!outcome.stopReason.empty()) return EXIT_RUN_FAILED;
  return outcome.failures.empty() ? EXIT_ALL_WRITTEN : EXIT_SOME_FAILED;
}

RunOutcome ExtractArchive(modArchive& archive, const std::string& base,
                          const std::string& destination, const std::atomic<bool>& stop,
                          RunObserver& observer) {
  RunOutcome outcome;
  scope_exit close([&] { archive.CloseArchive(); });
  // Every failure ends here, classified or not, as in the window's run.
  try {
    archive.LoadDirectory(base, [&] { return !stop; });
    if (stop) {
      outcome.interrupted = true;
      return outcome;
    }
    outcome.entries = archive.gEntries.Count();
    for (const clsImgFile& entry : archive.gEntries)
      outcome.totalBytes += std::int64_t{std::max(entry.lSize(), 0)} * SECTOR_SIZE;
    ExtractEntries(archive, destination, stop, observer, outcome);
  } catch (const RunError& e) {
    outcome.stopReason = e.what();
  } catch (const std::bad_alloc&) {
    outcome.stopReason = "There is not enough memory to go on.";
  } catch (const std::exception& e) {
    outcome.stopReason = std::string("The extraction stopped: ") + e.what();
  }
  return outcome;
}

}  // namespace sectorsieve::cli
