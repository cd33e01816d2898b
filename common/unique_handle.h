#pragma once

#include <utility>

namespace sectorsieve {

// Owns one OS resource. Traits supply the type, the "no resource" value
// (INVALID_HANDLE_VALUE, -1 or nullptr: they differ per API) and the close call.
template <typename Traits>
class unique_handle {
 public:
  using pointer = typename Traits::pointer;

  unique_handle() noexcept = default;
  explicit unique_handle(pointer value) noexcept : value_(value) {}
  unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  ~unique_handle() { reset(); }

  pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

  pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
  void reset(pointer value = Traits::invalid()) noexcept {
    if (value_ != Traits::invalid()) Traits::close(value_);
    value_ = value;
  }

 private:
  pointer value_ = Traits::invalid();
};

// Runs a cleanup when the scope ends, unless dismissed.
template <typename F>
class scope_exit {
 public:
  explicit scope_exit(F f) : f_(std::move(f)) {}
  scope_exit(const scope_exit&) = delete;
  scope_exit& operator=(const scope_exit&) = delete;
  ~scope_exit() {
    if (active_) f_();
  }
  void release() noexcept { active_ = false; }

 private:
  F f_;
  bool active_ = true;
};

}  // namespace sectorsieve
