#pragma once

// The extract command: the window's run without the window, with the same rules and outcomes.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "extraction_run.h"
#include "modArchive.h"
#include "native_names.h"

namespace sectorsieve::cli {

// How far a run has come, for the progress line.
struct RunProgress {
  std::size_t entries = 0;      // in the directory
  std::size_t done = 0;         // written or failed
  std::int64_t totalBytes = 0;  // that the entries claim, refused ones included
  std::int64_t bytes = 0;       // of the entries gone through
};

// Exit statuses a script can tell apart.
inline constexpr int EXIT_ALL_WRITTEN = 0;
inline constexpr int EXIT_SOME_FAILED = 1;
inline constexpr int EXIT_RUN_FAILED = 2;
inline constexpr int EXIT_INTERRUPTED = 130;  // as a shell reports a process ended by SIGINT

int ExitStatus(const RunOutcome& outcome);

// Told of each entry as the run finishes it.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The directory is in, before the first entry.
  virtual void Loaded(const Archive& /*archive*/) {}
  // Before each entry the run writes.
  virtual void EntryStarted(const Archive::Entry& /*entry*/) {}
  virtual void EntryDone(const RunProgress& soFar) = 0;
  virtual void EntryFailed(const EntryError& failure) = 0;
};

// Loads the directory of the archive at paths and extracts the entries whose names match
// patterns (every entry when there are none) into destination (ending in a separator). stop is
// looked at between entries and between pieces of a long entry: the entry in hand is
// abandoned, leaving no file, and the rest are left. keep leaves the files already in
// destination as they are.
RunOutcome ExtractArchive(modArchive& archive, const ArchivePaths& paths,
                          const std::string& destination, const std::vector<std::string>& patterns,
                          const NameCodec& names, const std::atomic<bool>& stop,
                          RunObserver& observer, bool keep = false);

}  // namespace sectorsieve::cli
