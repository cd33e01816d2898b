#pragma once

// Entries of an archive picked by name, as Windows compares file names.

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive_reader.h"
#include "name_matching.h"

namespace sectorsieve {

// The entries of archive whose file names match any of patterns, in directory order, and the
// patterns that matched none, in their order.
struct Picked {
  std::vector<std::size_t> entries;
  std::vector<std::string> unmatched;
};
Picked PickEntries(const Archive& archive, const std::vector<std::string>& patterns,
                   const CodePage& cp, const NameText& toUtf8);

// The entries at indices (directory order) that share one file name as Windows compares
// names, and the one whose file extraction keeps: the last that is not refused, if any.
struct SameName {
  std::span<const std::size_t> entries;
  std::optional<std::size_t> kept;
};
// Asked between pieces of a long piece of work: false gives it up.
using KeepGoing = std::function<bool()>;
// How many entries a piece of work does between two questions of its KeepGoing, asked before
// each piece but the first: work of fewer entries is not asked at all.
inline constexpr std::size_t kEntriesPerQuestion = 4096;

// Entries grouped by name, in the order of each name's first entry. A million names are a few
// allocations to make and to free, not a few per name.
class NameGroups {
 public:
  std::size_t size() const { return kept_.size(); }
  SameName operator[](std::size_t group) const;

 private:
  friend NameGroups GroupByName(const Archive&, const std::vector<std::size_t>&, const CodePage&,
                                const NameText&, const KeepGoing&);
  std::vector<std::size_t> entries_;  // a group's entries together, groups one after another
  std::vector<std::size_t> ends_;     // where each group's entries end in entries_
  std::vector<std::optional<std::size_t>> kept_;
};

// One group per name; none once keepGoing says no.
NameGroups GroupByName(const Archive& archive, const std::vector<std::size_t>& indices,
                       const CodePage& cp, const NameText& toUtf8, const KeepGoing& keepGoing = {});

// Of the entries at indices (directory order), those whose file a later one of the same name
// replaces, in directory order: neither refused nor kept. Extraction skips them, so that a
// folder gets the same files whether its system tells names by case or not. Nothing once
// keepGoing says no.
std::vector<std::size_t> ReplacedByLater(const Archive& archive,
                                         const std::vector<std::size_t>& indices,
                                         const CodePage& cp, const NameText& toUtf8,
                                         const KeepGoing& keepGoing = {});

}  // namespace sectorsieve
