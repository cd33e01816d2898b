#pragma once

// POSIX resources owned by unique_handle.

#include <unistd.h>

#include "unique_handle.h"

namespace sectorsieve {

struct FdTraits {
  using pointer = int;
  static constexpr int invalid() { return -1; }
  static void close(int fd) { ::close(fd); }
};
using unique_fd = unique_handle<FdTraits>;

}  // namespace sectorsieve
