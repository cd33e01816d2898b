#include "free_processors.h"

#include <charconv>

namespace sectorsieve {

std::optional<double> QuotaProcessors(std::string_view quotaAndPeriod) {
  const std::size_t space = quotaAndPeriod.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view quotaText = quotaAndPeriod.substr(0, space);
  std::string_view periodText = quotaAndPeriod.substr(space + 1);
  if (periodText.ends_with('\n')) periodText.remove_suffix(1);
  long long quota = 0, period = 0;
  const auto parse = [](std::string_view text, long long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
  };
  if (quotaText == "max" || !parse(quotaText, quota) || quota <= 0) return std::nullopt;
  if (!parse(periodText, period) || period <= 0) return std::nullopt;
  return static_cast<double>(quota) / static_cast<double>(period);
}

unsigned FinishersFor(double freeProcessors) { return freeProcessors < 2 ? 0 : 1; }

}  // namespace sectorsieve
