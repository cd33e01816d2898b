#include <gtest/gtest.h>

#include "unix_link.h"

namespace sectorsieve::testing {

void MakeUnixLink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::error_code error;
  std::filesystem::create_symlink(target, link, error);
  ASSERT_FALSE(error) << link << ": " << error.message();
}

}  // namespace sectorsieve::testing
