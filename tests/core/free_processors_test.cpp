// How many processors a control group's CPU quota grants, and whether the run then finishes
// files on a thread of their own.

#include "free_processors.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace sectorsieve {
namespace {

TEST(QuotaProcessors, ReadsTheQuotaOfEitherVersionOfControlGroups) {
  const struct {
    std::string text;
    std::optional<double> processors;
  } cases[] = {
      {"max 100000", std::nullopt},  // v2, no quota
      {"-1 100000", std::nullopt},   // v1, no quota
      {"100000 100000", 1.0},        // one processor
      {"150000 100000\n", 1.5},      // as read with its line's end
      {"200000 100000", 2.0},        // two
      {"50000 100000", 0.5},         // half of one
      {"400000 200000", 2.0},        // a longer period
      {"", std::nullopt},            // no such file
      {" 100000", std::nullopt},     // an empty quota: v1's files were not there
      {"100000", std::nullopt},      // no period
      {"100000 0", std::nullopt},    // a period of nothing
      {"0 100000", std::nullopt},    // a quota of nothing
      {"1e5 100000", std::nullopt},  // not a whole number
      {"100000 100000 7", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    EXPECT_EQ(QuotaProcessors(c.text), c.processors);
  }
}

TEST(FinishersFor, FinishesOnTheWritingThreadUnlessASecondProcessorIsFree) {
  const struct {
    double processors;
    unsigned finishers;
  } cases[] = {{0.5, 0}, {1, 0}, {1.5, 0}, {1.99, 0}, {2, 1}, {2.5, 1}, {64, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.processors);
    EXPECT_EQ(FinishersFor(c.processors), c.finishers);
  }
}

}  // namespace
}  // namespace sectorsieve
