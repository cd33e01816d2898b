#pragma once

// Names compared as Windows compares file names: in Unicode, without regard to case,
// with the dots and spaces that end a name's parts left out.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "names.h"

namespace sectorsieve {

// An entry name (bytes in the archive's code page) in UTF-8, or nothing when it does not
// convert. The platform converts: the core has no tables of its own.
using NameText = std::function<std::optional<std::string>(std::string_view name)>;

// name as Windows compares it with others: Unicode letters of the ANSI code pages' scripts in
// one case, "/" as "\", and each part without its trailing dots and spaces. A character of
// the code page that does not convert stands for its bytes, so two such names still differ.
std::u32string NameKey(std::string_view name, const CodePage& cp, const NameText& toUtf8);
// The same into key, which keeps its room from one name to the next: a plain ASCII name then
// costs no allocation.
void NameKey(std::string_view name, const CodePage& cp, const NameText& toUtf8,
             std::u32string& key);
// The same for a name already in Unicode.
std::u32string NameKey(std::u32string name);

// A NAME as a command takes it: a file name, or a pattern where "*" stands for any run of
// characters and "?" for one character, in UTF-8. It is compared with an entry's file name
// character by character, as Windows compares names.
class NamePattern {
 public:
  explicit NamePattern(std::string_view utf8);
  const std::string& Text() const { return text_; }
  // Whether a name whose NameKey is key matches.
  bool Matches(std::u32string_view key) const;
  // The same for an ASCII name that is its own key but for case (no "/", no part ending in a
  // dot or a space), read as it is: nothing converted or copied.
  bool MatchesAscii(std::string_view name) const;

 private:
  std::string text_;
  std::u32string key_;
};

}  // namespace sectorsieve
