#pragma once

#include <optional>
#include <string_view>

namespace sectorsieve {

// The processors that a control group's CPU quota grants, from its "QUOTA PERIOD" text
// (cgroup v2's cpu.max, or v1's cpu.cfs_quota_us and cpu.cfs_period_us joined by a space).
// None when there is no quota ("max", or -1 in v1) or the text is not one that we know.
std::optional<double> QuotaProcessors(std::string_view quotaAndPeriod);

// Threads to finish files beside the one that writes them. Handing a file over costs a switch
// per file when both threads share one processor, more than finishing it in turn: a thread
// of its own pays only when a second processor is free to the process.
unsigned FinishersFor(double freeProcessors);

// How many threads finish new files (close and rename them) while a run writes the next
// ones: it depends on what closing a file costs on this system.
unsigned DefaultFinishers();

}  // namespace sectorsieve
