#include "extraction_run.h"

#include <algorithm>

#include "unique_handle.h"

namespace sectorsieve {

ExtractionRun::ExtractionRun(modArchive& archive, unsigned finishers)
    : archive_(archive), finishers_(finishers) {}

std::vector<EntryError> ExtractionRun::Run(const std::string& destination,
                                           const BeforeEntry& before) {
  scope_exit closeArchive([this] { archive_.CloseArchive(); });
  std::vector<std::pair<std::size_t, EntryError>> failures;
  Destination folder = archive_.OpenDestination(destination);
  // On every way out, a RunError's included, the pool finishes what is in flight first.
  FinishPool pool(finishers_, kMaxEntriesInFlight);
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
  auto finishing = pool.Wait();
  failures.insert(failures.end(), finishing.begin(), finishing.end());
  std::stable_sort(failures.begin(), failures.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<EntryError> ordered;
  ordered.reserve(failures.size());
  for (auto& [index, error] : failures) ordered.push_back(std::move(error));
  return ordered;
}

}  // namespace sectorsieve
