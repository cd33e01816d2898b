#include "run_failures.h"

#include <algorithm>

#include "names.h"

namespace sectorsieve {

void RunFailures::Add(const clsImgFile& entry, const std::string& reason) {
  const auto [known, fresh] =
      reasonNumbers_.emplace(reason, static_cast<std::uint32_t>(reasons_.size()));
  if (fresh) reasons_.push_back(reason);
  list_.push_back({entry, known->second});
}

void RunFailures::Sort() {
  // In place: a stable sort would take a second list's worth of memory, and no two failures
  // share an entry.
  const auto byIndex = [](const Failure& a, const Failure& b) {
    return a.entry.Index() < b.entry.Index();
  };
  if (!std::is_sorted(list_.begin(), list_.end(), byIndex))
    std::sort(list_.begin(), list_.end(), byIndex);
}

EntryError RunFailures::operator[](std::size_t i) const {
  return EntryError(EntryLabel(list_[i].entry), reasons_[list_[i].reason]);
}

}  // namespace sectorsieve
