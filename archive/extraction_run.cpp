#include "extraction_run.h"

#include <new>

#include "unique_handle.h"

namespace sectorsieve {

ExtractionRun::ExtractionRun(modArchive& archive, unsigned finishers)
    : archive_(archive), finishers_(finishers) {}

RunFailures ExtractionRun::Run(const std::string& destination, const BeforeEntry& before,
                               const std::function<bool()>& keepGoing) {
  scope_exit closeArchive([this] { archive_.CloseArchive(); });
  RunFailures failures;
  failures.Reserve(archive_.gEntries.Count());
  // The pool's failures, few, join the run's own in directory order.
  const auto finished = [&](FinishPool& pool) {
    for (const auto& [index, error] : pool.Wait())
      failures.Add(archive_.gEntries.At(index), error.reason());
    failures.Sort();
    written_ = pool.Done();
  };
  archive_.OpenArchive();
  Destination folder = archive_.OpenDestination(destination);
  // On every way out, a RunError's included, the pool finishes what is in flight first.
  FinishPool pool(finishers_, kMaxEntriesInFlight);
  const auto keepWriting = [&] {
    if (!stopRequested_ && (!keepGoing || keepGoing())) return true;
    RequestStop();
    return false;
  };
  try {
    for (const clsImgFile& entry : archive_.gEntries) {
      if (stopRequested_) break;
      if (before) before(processed_, entry);
      if (stopRequested_) break;
      try {
        pool.Submit(processed_, archive_.WriteEntry(entry, folder, keepWriting));
      } catch (const EntryError& e) {
        failures.Add(entry, e.reason());
      } catch (const EntryStopped&) {
        break;
      }
      ++processed_;
    }
  } catch (const RunError& e) {
    // The entries in flight end as any other, and their failures are told with the run's.
    finished(pool);
    throw RunError(e, std::move(failures));
  }
  finished(pool);
  return failures;
}

RunOutcome ExtractionRun::Extract(const ArchivePaths& archive,
                                  const std::function<bool()>& keepLoading,
                                  const std::function<std::string()>& destination,
                                  const BeforeEntry& before) {
  RunOutcome outcome;
  const auto keepGoing = [&] {
    if (!keepLoading || keepLoading()) return true;
    RequestStop();
    return false;
  };
  try {
    archive_.LoadDirectory(archive, keepGoing);
    if (!stopRequested_) {
      outcome.entries = archive_.gEntries.Count();
      outcome.failures = Run(destination(), before, keepGoing);
    }
  } catch (const RunError& e) {
    outcome.failure = e.what();
    outcome.failures = e.failures();
  } catch (const std::bad_alloc&) {
    outcome.failure = "There is not enough memory to go on.";
  } catch (const std::exception& e) {
    outcome.failure = std::string("The extraction stopped: ") + e.what();
  }
  archive_.CloseArchive();
  outcome.processed = processed_;
  outcome.written = written_;
  outcome.stopped = stopRequested_ && outcome.failure.empty();
  return outcome;
}

}  // namespace sectorsieve
