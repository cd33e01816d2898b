#include "finish_pool.h"

#include <algorithm>
#include <cctype>

namespace sectorsieve {

namespace {

// Names that Windows takes for one file share a key: case, trailing dots and trailing spaces
// make no difference there. A key only orders renames, so two files taken for one cost a
// wait and never a wrong file; hence only the last part of the path counts.
std::string NameKey(const std::string& path) {
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

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
  std::string key = NameKey(entry.FinalPath());
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] {
    return unexpected_ || (inFlight_ < maxInFlight_ && !namesInFlight_.contains(key));
  });
  RethrowUnexpected();
  ++inFlight_;
  ++namesInFlight_[key];
  if (workers_.empty()) {
    lock.unlock();
    Finish({index, std::move(key), std::move(entry)});
    lock.lock();
    RethrowUnexpected();
    return;
  }
  queue_.push_back({index, std::move(key), std::move(entry)});
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
  {
    // Gone before the entry counts as finished: a failed entry leaves no temporary file.
    WrittenEntry entry = std::move(job.entry);
    try {
      entry.Finish();
    } catch (...) {
      outcome = std::current_exception();
    }
  }
  {
    std::lock_guard lock(mutex_);
    --inFlight_;
    if (const auto it = namesInFlight_.find(job.key); --it->second == 0) namesInFlight_.erase(it);
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
  finished_.notify_all();
}

void FinishPool::RethrowUnexpected() {
  if (unexpected_) std::rethrow_exception(unexpected_);
}

}  // namespace sectorsieve
