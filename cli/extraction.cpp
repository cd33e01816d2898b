#include "extraction.h"

#include <new>

#include "unique_handle.h"

namespace sectorsieve::cli {

namespace {

// The per-entry loop, kept apart so that it alone changes when the run moves into the core.
void ExtractEntries(modArchive& archive, const std::string& destination,
                    const std::atomic<bool>& stop, RunObserver& observer, RunOutcome& outcome) {
  for (const clsImgFile& entry : archive.gEntries) {
    if (stop) {
      outcome.interrupted = true;
      return;
    }
    try {
      archive.ExtractEntry(entry, destination);
      outcome.bytes += std::int64_t{entry.lSize()} * SECTOR_SIZE;
    } catch (const EntryError& e) {
      outcome.failures.push_back(e);
      observer.EntryFailed(e);
    }
    ++outcome.done;
    observer.EntryDone(outcome);
  }
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
