#pragma once

#include <cstdint>
#include <string>

namespace sectorsieve {

// One catalogue entry, exactly as its directory record gave it. No setter checks its
// value: bad offsets, sizes and names are refused when the entry is extracted.
class clsImgFile {
 public:
  // The name is a fixed field: shorter texts are padded with spaces, longer ones cut.
  void set_sName(const std::string& vData);
  const std::string& sName() const { return sName_; }
  void set_lSize(std::int32_t vData) { lSize_ = vData; }
  std::int32_t lSize() const { return lSize_; }
  void set_lOffset(std::int32_t vData) { lOffset_ = vData; }
  std::int32_t lOffset() const { return lOffset_; }
  void set_sId(const std::string& vData) { sId_ = vData; }
  const std::string& sId() const { return sId_; }

 private:
  std::string sName_;
  std::int32_t lSize_ = 0;
  std::int32_t lOffset_ = 0;
  std::string sId_;
};

}  // namespace sectorsieve
