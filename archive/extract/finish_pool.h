#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "modArchive.h"
#include "written_entry.h"

namespace sectorsieve {

// Finishes written entries (close, then rename) on worker threads while the run writes the
// next ones. Closing is where a system flushes and scans a new file, so it is the slow part
// of a small entry, and files are closed in parallel. Renames happen one at a time in the
// order the entries came: of two entries that the file system takes for one name, whatever
// its rules for that, the later wins. The queue is bounded, so open files and memory stay
// bounded too.
//
// Shared state is the queue, the rename turn and the results, behind one mutex; the workers
// touch nothing else but the entry they hold.
class FinishPool {
 public:
  // With no workers, Submit finishes each entry at once on the calling thread.
  FinishPool(unsigned workers, std::size_t maxInFlight);
  FinishPool(const FinishPool&) = delete;
  FinishPool& operator=(const FinishPool&) = delete;
  // Finishes everything queued, then joins the workers.
  ~FinishPool();

  // Queues entry number index. Waits while the queue is full. Rethrows what escaped a worker
  // other than an EntryError.
  void Submit(std::size_t index, WrittenEntry entry);

  // Waits until every submitted entry is finished. Returns the failures, by index; rethrows
  // what escaped a worker other than an EntryError.
  std::vector<std::pair<std::size_t, EntryError>> Wait();

  // The entries finished under their names so far, and the bytes they hold.
  struct Finished {
    std::size_t entries = 0;
    std::int64_t bytes = 0;
  };
  Finished Done();

 private:
  struct Job {
    std::size_t index;
    std::size_t turn;  // its place in the order of renames
    WrittenEntry entry;
  };

  void Work();
  // Finishes one entry and records how it went.
  void Finish(Job job);
  void RethrowUnexpected();

  const std::size_t maxInFlight_;
  std::mutex mutex_;
  // Plain condition variables: with mingw-w64's GCC 12 runtime, waits that a stop token
  // ends now and then never woke.
  std::condition_variable queued_;    // a job was queued, or the pool closes
  std::condition_variable finished_;  // a job was finished
  std::condition_variable renamed_;   // the turn to rename moved on
  std::deque<Job> queue_;
  std::size_t submitted_ = 0;
  std::size_t renameTurn_ = 0;  // the turn of the next job to rename
  std::size_t inFlight_ = 0;    // queued or being finished
  std::vector<std::pair<std::size_t, EntryError>> failures_;
  Finished done_;
  std::exception_ptr unexpected_;
  bool closing_ = false;
  // Last, so the workers are joined before the state they use goes.
  std::vector<std::jthread> workers_;
};

}  // namespace sectorsieve
