#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "finish_pool.h"
#include "free_processors.h"
#include "modArchive.h"

namespace sectorsieve {

// How a whole run ended, as one value: the window and the command line only present it.
struct RunOutcome {
  std::size_t entries = 0;             // to extract: every entry, or those picked
  std::size_t processed = 0;           // taken through their writing, failed ones included
  std::size_t replaced = 0;            // not written: a later entry's file takes their name
  FinishPool::Finished written;        // under their names, and the bytes they hold
  RunFailures failures;                // in directory order
  std::string failure;                 // why the run could not go on as a whole, or empty
  bool stopped = false;                // asked to stop, and so ended before the last entry
  std::size_t kept = 0;                // left out, as a file of their name was there already
  std::vector<std::string> unmatched;  // names asked for that picked no entry
};

// What a run extracts, settled once the directory is in: the folder (ending in "\"), the
// indices of the entries to extract, in directory order, or nothing for every entry, and the
// names asked for that picked none.
struct RunTarget {
  std::string destination;
  std::optional<std::vector<std::size_t>> picked;
  std::vector<std::string> unmatched;
  // Files already in the folder stay as they are: their entries are left out.
  bool keepExisting = false;
};

// One extraction of the entries of an archive, in directory order. The calling thread writes
// each entry's bytes; a pool of finishers closes and renames the files meanwhile. The window,
// the command line, the benchmark and the tests all extract through this object, one run each.
class ExtractionRun {
 public:
  // At most this many entries are written and not yet finished at any time.
  static constexpr std::size_t kMaxEntriesInFlight = 64;

  // Runs on the calling thread before each entry, with how many entries came before it.
  using BeforeEntry = std::function<void(std::size_t done, const Archive::Entry& entry)>;

  // finishers: threads that close and rename files; 0 finishes each entry on the calling
  // thread before the next one starts.
  explicit ExtractionRun(modArchive& archive, unsigned finishers = DefaultFinishers());

  // Extracts the target's entries of archive, but those whose file a later one of them
  // replaces (see modArchive::Replaced), which count as processed. Returns once every entry it
  // started is finished, with the entries that could not be extracted, in directory order. Throws
  // RunError when the run cannot go on, after the entries in flight are finished; it holds the
  // failures so far. Closes the data file on every path. A data file that could not be opened fails
  // the run before its first entry, whatever its entries. keepGoing is asked between pieces of a
  // long entry: when it says no, the run stops there, and that entry is abandoned as a failed one
  // is, though not counted as one.
  RunFailures Run(const Archive& archive, const RunTarget& target, const BeforeEntry& before = {},
                  const std::function<bool()>& keepGoing = {});

  // Loads the directory of the archive at paths, asking keepLoading between its pieces, then
  // extracts what target() asks for once the directory is in, asking keepLoading between pieces
  // of long entries too. Every failure, of an entry or of the whole run, whatever its kind, ends
  // in the outcome.
  RunOutcome Extract(const ArchivePaths& paths, const std::function<bool()>& keepLoading,
                     const std::function<RunTarget(const Archive&)>& target,
                     const BeforeEntry& before = {});

  // No entry starts after this call (from any thread), and the one being written is abandoned
  // at its next piece; those written before it are still finished.
  void RequestStop() { stopRequested_ = true; }

 private:
  modArchive& archive_;
  unsigned finishers_;
  std::atomic<bool> stopRequested_{false};
  std::size_t processed_ = 0;
  std::size_t replaced_ = 0;
  std::size_t kept_ = 0;
  FinishPool::Finished written_;  // once Run has returned or thrown, for the outcome
};

}  // namespace sectorsieve
