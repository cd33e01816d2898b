#include "clsImgFile.h"

#include <algorithm>

namespace sectorsieve {

void clsImgFile::set_sName(const std::string& vData) {
  sName_.fill(' ');
  std::copy_n(vData.begin(), std::min(vData.size(), sName_.size()), sName_.begin());
}

}  // namespace sectorsieve
