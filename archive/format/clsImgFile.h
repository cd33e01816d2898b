#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "format.h"

namespace sectorsieve {

// One catalogue entry, exactly as its directory record gave it. No setter checks its
// value: bad offsets, sizes and names are refused when the entry is extracted. It holds
// little more than its record's 32 bytes, since a directory may list millions.
class clsImgFile {
 public:
  // The name is a fixed field: shorter texts are padded with spaces, longer ones cut.
  void set_sName(const std::string& vData);
  std::string sName() const { return std::string(NameField()); }
  std::string_view NameField() const { return {sName_.data(), sName_.size()}; }
  void set_lSize(std::int32_t vData) { lSize_ = vData; }
  std::int32_t lSize() const { return lSize_; }
  void set_lOffset(std::int32_t vData) { lOffset_ = vData; }
  std::int32_t lOffset() const { return lOffset_; }
  // The key is the record's index as decimal text.
  void set_sId(std::uint32_t index) { index_ = index; }
  std::string sId() const { return std::to_string(index_); }
  // The same index as a number, for ordering.
  std::uint32_t Index() const { return index_; }

 private:
  std::array<char, ENTRY_NAME_LENGTH> sName_{};
  std::int32_t lSize_ = 0;
  std::int32_t lOffset_ = 0;
  std::uint32_t index_ = 0;
};

}  // namespace sectorsieve
