#pragma once

// One name against one pattern, as a command compares an entry's file name with a NAME.

#include <string_view>

#include "name_matching.h"

namespace sectorsieve {

// Whether the file name name (bytes in code page cp) matches pattern.
inline bool NameMatches(std::string_view name, std::string_view pattern, const CodePage& cp,
                        const NameText& toUtf8) {
  return NamePattern(pattern).Matches(NameKey(name, cp, toUtf8));
}

}  // namespace sectorsieve
