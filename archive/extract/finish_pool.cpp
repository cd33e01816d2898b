#include "finish_pool.h"

#include <algorithm>

namespace sectorsieve {

FinishPool::FinishPool(unsigned workers, std::size_t maxInFlight) : maxInFlight_(maxInFlight) {
  workers_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

FinishPool::~FinishPool() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  queued_.notify_all();
}

void FinishPool::Submit(std::size_t index, WrittenEntry entry) {
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return unexpected_ || inFlight_ < maxInFlight_; });
  RethrowUnexpected();
  ++inFlight_;
  const std::size_t turn = submitted_++;
  if (workers_.empty()) {
    lock.unlock();
    Finish({index, turn, std::move(entry)});
    lock.lock();
    RethrowUnexpected();
    return;
  }
  queue_.push_back({index, turn, std::move(entry)});
  lock.unlock();
  queued_.notify_one();
}

std::vector<std::pair<std::size_t, EntryError>> FinishPool::Wait() {
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return inFlight_ == 0; });
  RethrowUnexpected();
  auto failures = std::exchange(failures_, {});
  std::sort(failures.begin(), failures.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return failures;
}

FinishPool::Finished FinishPool::Done() {
  std::lock_guard lock(mutex_);
  return done_;
}

void FinishPool::Work() {
  while (true) {
    std::unique_lock lock(mutex_);
    queued_.wait(lock, [&] { return closing_ || !queue_.empty(); });
    // Closing finishes what is queued first: nothing written is dropped.
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    Finish(std::move(job));
  }
}

void FinishPool::Finish(Job job) {
  std::exception_ptr outcome;
  const std::int64_t bytes = job.entry.Bytes();
  {
    // Gone before the entry counts as finished: a failed entry leaves no temporary file.
    WrittenEntry entry = std::move(job.entry);
    try {
      entry.Close();
    } catch (...) {
      outcome = std::current_exception();
    }
    // Every earlier job is being finished or done, since jobs leave the queue in order, so
    // the turn comes; a job whose close failed still passes it on.
    std::unique_lock lock(mutex_);
    renamed_.wait(lock, [&] { return renameTurn_ == job.turn; });
    lock.unlock();
    if (!outcome) {
      try {
        entry.Rename();
      } catch (...) {
        outcome = std::current_exception();
      }
    }
  }
  {
    // The turn passes on with the outcome known: a failure that stops the run is seen before
    // any later entry is named.
    std::lock_guard lock(mutex_);
    ++renameTurn_;
    --inFlight_;
    if (!outcome) {
      ++done_.entries;
      done_.bytes += bytes;
    }
    try {
      try {
        if (outcome) std::rethrow_exception(outcome);
      } catch (const EntryError& e) {
        failures_.emplace_back(job.index, e);
      }
    } catch (...) {
      // Not an entry's fault (memory ran out, say): the run stops on it.
      if (!unexpected_) unexpected_ = std::current_exception();
    }
  }
  renamed_.notify_all();
  finished_.notify_all();
}

void FinishPool::RethrowUnexpected() {
  if (unexpected_) std::rethrow_exception(unexpected_);
}

}  // namespace sectorsieve
