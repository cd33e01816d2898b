#include "clsImgFile.h"

#include "modArchive.h"

namespace sectorsieve {

void clsImgFile::set_sName(const std::string& vData) {
  sName_ = vData.substr(0, ENTRY_NAME_LENGTH);
  sName_.resize(ENTRY_NAME_LENGTH, ' ');
}

}  // namespace sectorsieve
