#pragma once

// How an entry, or a whole run, can fail.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "clsImgFile.h"

namespace sectorsieve {

// One entry could not be extracted; the run goes on with the next one.
class EntryError : public std::runtime_error {
 public:
  EntryError(std::string entry, std::string reason)
      : std::runtime_error(entry + ": " + reason),
        entry_(std::move(entry)),
        reason_(std::move(reason)) {}
  const std::string& entry() const { return entry_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string entry_;
  std::string reason_;
};

// The entries of one run that could not be extracted, in directory order once sorted. A
// directory may list millions that all fail, so each is held as its record with the number of
// its reason, every distinct reason once; its EntryError is made when it is shown.
class RunFailures {
 public:
  // Room for count failures, taken from the system only as it is used.
  void Reserve(std::size_t count) { list_.reserve(count); }
  void Add(const clsImgFile& entry, const std::string& reason);
  // Directory order, whatever order they came in.
  void Sort();

  std::size_t size() const { return list_.size(); }
  bool empty() const { return list_.empty(); }
  EntryError operator[](std::size_t i) const;

  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = EntryError;
    using difference_type = std::ptrdiff_t;
    iterator(const RunFailures& failures, std::size_t i) : failures_(&failures), i_(i) {}
    EntryError operator*() const { return (*failures_)[i_]; }
    iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const iterator& other) const { return i_ == other.i_; }

   private:
    const RunFailures* failures_;
    std::size_t i_;
  };
  iterator begin() const { return {*this, 0}; }
  iterator end() const { return {*this, list_.size()}; }

 private:
  struct Failure {
    clsImgFile entry;
    std::uint32_t reason;
  };
  std::vector<Failure> list_;
  std::vector<std::string> reasons_;
  std::unordered_map<std::string, std::uint32_t> reasonNumbers_;
};

// The run cannot go on at all (archive or destination unusable); what() says which and why.
// Thrown out of a whole run, it also holds the entries that failed before it, those that were
// in flight when it came included.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  RunError(const RunError& cause, RunFailures failures)
      : std::runtime_error(cause), failures_(std::move(failures)) {}
  const RunFailures& failures() const { return failures_; }

 private:
  RunFailures failures_;
};

}  // namespace sectorsieve
