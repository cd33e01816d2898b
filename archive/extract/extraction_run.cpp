#include "extraction_run.h"

#include <new>
#include <vector>

#include "unique_handle.h"

namespace sectorsieve {

ExtractionRun::ExtractionRun(modArchive& archive, unsigned finishers)
    : archive_(archive), finishers_(finishers) {}

RunFailures ExtractionRun::Run(const Archive& archive, const RunTarget& target,
                               const BeforeEntry& before, const std::function<bool()>& keepGoing) {
  scope_exit closeArchive([this] { archive_.CloseArchive(); });
  const std::size_t count = target.picked ? target.picked->size() : archive.size();
  std::vector<std::size_t> all;
  if (!target.picked) {
    all.resize(count);
    for (std::size_t i = 0; i < count; ++i) all[i] = i;
  }
  RunFailures failures;
  failures.Reserve(count);
  const auto keepWriting = [&] {
    if (!stopRequested_ && (!keepGoing || keepGoing())) return true;
    RequestStop();
    return false;
  };
  // Grouping a million names takes long enough to answer the window meanwhile.
  const std::vector<std::size_t> replaced =
      archive_.Replaced(archive, target.picked ? *target.picked : all, keepWriting);
  auto nextReplaced = replaced.begin();
  // The pool's failures, few, join the run's own in directory order.
  const auto finished = [&](FinishPool& pool) {
    for (const auto& [index, error] : pool.Wait())
      failures.Add(archive[index].Record(), error.reason());
    failures.Sort();
    written_ = pool.Done();
  };
  // As list says of it: without its data file, an archive has nothing to extract.
  if (!archive.DataFailure().empty()) throw RunError(archive.DataFailure());
  Destination folder = archive_.OpenDestination(archive, target.destination);
  // On every way out, a RunError's included, the pool finishes what is in flight first.
  FinishPool pool(finishers_, kMaxEntriesInFlight);
  // What the folder held before the run, asked before any entry is written: of two entries of
  // one name, the later still replaces the earlier.
  std::vector<bool> existing(target.keepExisting ? count : 0);
  for (std::size_t i = 0; i < existing.size(); ++i) {
    const Archive::Entry& entry = archive[target.picked ? (*target.picked)[i] : i];
    existing[i] = !entry.Refused() && folder.folder->Holds(std::string(entry.FileName()));
  }
  try {
    for (std::size_t i = 0; i < count; ++i) {
      const Archive::Entry& entry = archive[target.picked ? (*target.picked)[i] : i];
      if (stopRequested_) break;
      if (!existing.empty() && existing[i]) {
        ++kept_;
        ++processed_;
        continue;
      }
      if (before) before(processed_, entry);
      if (stopRequested_) break;
      if (nextReplaced != replaced.end() && *nextReplaced == entry.Index()) {
        ++nextReplaced;
        ++replaced_;
        ++processed_;
        continue;
      }
      try {
        pool.Submit(entry.Index(), archive_.WriteEntry(archive, entry, folder, keepWriting));
      } catch (const EntryError& e) {
        failures.Add(entry.Record(), e.reason());
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

RunOutcome ExtractionRun::Extract(const ArchivePaths& paths,
                                  const std::function<bool()>& keepLoading,
                                  const std::function<RunTarget(const Archive&)>& target,
                                  const BeforeEntry& before) {
  RunOutcome outcome;
  const auto keepGoing = [&] {
    if (!keepLoading || keepLoading()) return true;
    RequestStop();
    return false;
  };
  try {
    const Archive archive = archive_.LoadDirectory(paths, keepGoing);
    if (!stopRequested_) {
      const RunTarget settled = target(archive);
      outcome.entries = settled.picked ? settled.picked->size() : archive.size();
      outcome.unmatched = settled.unmatched;
      outcome.failures = Run(archive, settled, before, keepGoing);
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
  outcome.replaced = replaced_;
  outcome.kept = kept_;
  outcome.written = written_;
  // A stop asked for once the last entry was in hand stopped nothing.
  outcome.stopped = stopRequested_ && outcome.failure.empty() &&
                    (outcome.processed < outcome.entries || outcome.entries == 0);
  return outcome;
}

}  // namespace sectorsieve
