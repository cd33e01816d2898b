#include "extraction_run.h"

#include "unique_handle.h"

namespace sectorsieve {

ExtractionRun::ExtractionRun(modArchive& archive, unsigned finishers)
    : archive_(archive), finishers_(finishers) {}

RunFailures ExtractionRun::Run(const std::string& destination, const BeforeEntry& before) {
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
  Destination folder = archive_.OpenDestination(destination);
  // On every way out, a RunError's included, the pool finishes what is in flight first.
  FinishPool pool(finishers_, kMaxEntriesInFlight);
  try {
    for (const clsImgFile& entry : archive_.gEntries) {
      if (stopRequested_) break;
      if (before) before(processed_, entry);
      if (stopRequested_) break;
      try {
        pool.Submit(processed_, archive_.WriteEntry(entry, folder));
      } catch (const EntryError& e) {
        failures.Add(entry, e.reason());
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

}  // namespace sectorsieve
