// The finishers a run starts on Windows.

#include <algorithm>
#include <thread>

#include "free_processors.h"

namespace sectorsieve {

// Closing a new file is where on-access scanners look at it, which takes milliseconds:
// finishers mostly wait, so a few more than the cores still help.
unsigned DefaultFinishers() { return std::clamp(std::thread::hardware_concurrency(), 4u, 8u); }

}  // namespace sectorsieve
