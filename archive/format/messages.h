#pragma once

// The words failures are told in, so that one failure reads the same under every command and
// in the window.

#include <string>
#include <string_view>

namespace sectorsieve {

// A path or name as messages show it, between double quotes.
inline std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

inline std::string CannotRead(std::string_view path, std::string_view reason) {
  return "cannot read " + Quoted(path) + ": " + std::string(reason);
}

inline std::string CannotWrite(std::string_view path, std::string_view reason) {
  return "cannot write " + Quoted(path) + ": " + std::string(reason);
}

// A NAME the user gave that picks no entry, as tar says it.
inline std::string NotInTheArchive(std::string_view name) {
  return std::string(name) + ": not in the archive";
}

// A directory file whose length is no whole number of records: its last bytes are no entry.
inline std::string PartialRecord(std::string_view dirPath, long long bytes) {
  return Quoted(dirPath) + " ends in " + std::to_string(bytes) +
         (bytes == 1 ? " byte that is" : " bytes that are") + " no whole record";
}

}  // namespace sectorsieve
