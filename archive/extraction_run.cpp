#include "extraction_run.h"

#include <algorithm>

#include "unique_handle.h"

namespace sectorsieve {

ExtractionRun::ExtractionRun(modArchive& archive, unsigned finishers)
    : archive_(archive), finishers_(finishers) {}

namespace {

using IndexedFailures = std::vector<std::pair<std::size_t, EntryError>>;

std::vector<EntryError> InOrder(IndexedFailures failures, const IndexedFailures& finishing) {
  failures.insert(failures.end(), finishing.begin(), finishing.end());
  std::stable_sort(failures.begin(), failures.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<EntryError> ordered;
  ordered.reserve(failures.size());
  for (auto& [index, error] : failures) ordered.push_back(std::move(error));
  return ordered;
}

}  // namespace

std::vector<EntryError> ExtractionRun::Run(const std::string& destination,
                                           const BeforeEntry& before) {
  scope_exit closeArchive([this] { archive_.CloseArchive(); });
  IndexedFailures failures;
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
        failures.emplace_back(processed_, e);
      }
      ++processed_;
    }
  } catch (const RunError& e) {
    // The entries in flight end as any other, and their failures are told with the run's.
    const IndexedFailures finishing = pool.Wait();
    written_ = pool.Done();
    throw RunError(e, InOrder(std::move(failures), finishing));
  }
  const IndexedFailures finishing = pool.Wait();
  written_ = pool.Done();
  return InOrder(std::move(failures), finishing);
}

}  // namespace sectorsieve
