#pragma once

// The contents window's list: an archive's entries filtered by NAME patterns, sorted by a
// column, and the selection kept by entry. Rows are a permutation of entry indices; nothing is
// copied per row. Plain C++, so that it is tested without a window.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "archive_check.h"
#include "archive_reader.h"
#include "name_matching.h"
#include "picking.h"

namespace sectorsieve::ui {

enum class ContentsColumn { Index, Name, Size, Offset, Status };
inline constexpr int kContentsColumns = 5;

// Why an entry whose bytes a later entry of the same name replaces is shown as it is.
inline constexpr const char* kReplacedByLater = "replaced by a later entry";

// An entry name as people read it (UTF-8, "\xNN" for bytes that do not convert).
using ShownName = std::function<std::string(std::string_view name)>;

// n with a comma between each three digits: "1,000,000".
std::string Grouped(std::int64_t n);

// An entry name (bytes in code page cp) as Windows compares it, UTF-8 encoded: the list's key
// of an entry, by which a selection is kept across readings.
std::string KeyOf(std::string_view name, const CodePage& cp, const NameText& toUtf8);

class ContentsList {
 public:
  // The archive as read, with its names in code page cp. Works out every entry's name as
  // Windows compares it and their order by name: for a big archive, off the window's thread.
  ContentsList(Archive archive, const CodePage& cp, NameText toUtf8, ShownName shown);

  // Never changes once the list is made: another thread may read it meanwhile, for the check.
  const Archive& Value() const { return archive_; }
  // What check finds of Value(), which takes longer than the list: the list shows first. A list
  // sorted by status is then to be sorted again.
  void SetCheck(ArchiveCheck check);
  bool Checked() const { return checked_; }
  std::size_t Rows() const { return Shown().size(); }
  std::size_t Total() const { return archive_.size(); }
  // The entry shown at row.
  const Archive::Entry& Entry(std::size_t row) const { return archive_[Shown()[row]]; }
  std::string CellText(std::size_t row, ContentsColumn column) const;

  // What the list shows: every entry sorted by column, then by name, then by index (stable, so
  // equal rows keep their order), and of those only the entries whose names match any of the
  // space-separated NAME patterns of filter (no entry name holds a space); an empty filter
  // shows every entry. Views share what they hold alike.
  struct View {
    ContentsColumn column = ContentsColumn::Index;
    bool descending = false;
    std::string filter;
    std::shared_ptr<const std::vector<std::uint32_t>> order;
    std::shared_ptr<const std::vector<std::uint32_t>> filtered;  // none without a filter
    std::shared_ptr<const std::vector<bool>> replaced;  // what check found when it was sorted
  };
  // Works out a view of a million entries, which takes longer than a message should: made from
  // the list as it is now, it may run on another thread while the list changes its selection,
  // check and view, as long as the list lives. It gives nothing once stop is asked. Throws
  // UnconvertibleText, at once, for a filter ending in half a character.
  using ViewJob = std::function<std::optional<View>(std::stop_token stop)>;
  ViewJob MakeView(ContentsColumn column, bool descending, std::string_view filter) const;
  // Shows view. The selection keeps only entries still shown.
  void SetView(View view);
  // A view made and shown at once.
  void SetFilter(std::string_view text);
  void SortBy(ContentsColumn column, bool descending);
  const std::string& Filter() const { return view_.filter; }
  ContentsColumn SortColumn() const { return view_.column; }
  bool SortDescending() const { return view_.descending; }

  // The first row from start on (wrapping around) whose name begins with prefix, compared as
  // Windows compares names, or nothing.
  std::optional<std::size_t> FindRow(std::string_view prefix, std::size_t start) const;

  // The selection, by entry: rows first to last (inclusive) selected or not.
  void Select(std::size_t first, std::size_t last, bool selected);
  void SelectAll(bool selected);
  bool Selected(std::size_t row) const { return selected_[Shown()[row]]; }
  std::size_t SelectedCount() const { return selectedCount_; }
  std::int64_t SelectedBytes() const { return selectedBytes_; }
  // The rows selected, in row order, and the first of them.
  std::vector<std::size_t> SelectedRows() const;
  std::optional<std::size_t> FirstSelectedRow() const;
  // What Extract takes out: the entries selected, or every one shown when none is.
  struct Pick {
    bool every = false;                  // no filter, nothing selected
    std::vector<std::string> patterns;   // the filter's, when nothing is selected
    std::vector<std::uint32_t> entries;  // those selected, whose names pick
  };
  Pick Picked() const;
  // The entries of archive, another reading perhaps, that pick names or matches, in directory
  // order, or nothing for every entry: what a run extracts of what the window picked. Reads only
  // what never changes in the list: the run's thread asks while the window goes on. Once
  // keepGoing says no, what was found so far.
  std::optional<std::vector<std::size_t>> PickedEntries(const Archive& archive, const Pick& pick,
                                                        const CodePage& cp, const NameText& toUtf8,
                                                        const KeepGoing& keepGoing = {}) const;
  // What dragging the selection out makes files of: the entries selected that extraction
  // writes (in directory order; of one name, the last), and those it refuses, left out.
  struct Dragged {
    std::vector<std::size_t> entries;
    std::vector<std::size_t> refused;
  };
  Dragged DraggedEntries() const;
  // Selects the entries shown whose names are among keys: the selection of another reading of
  // the archive, kept across it by name.
  void SelectKeys(const std::vector<std::string>& keys);
  // The entries selected, in directory order, and the keys of entries (KeyOf), which reads only
  // what never changes in the list: another thread may ask while the window goes on.
  std::vector<std::uint32_t> SelectedEntries() const;
  std::vector<std::string> KeysOf(const std::vector<std::uint32_t>& entries) const;

  // "1,204 of 1,000,000 entries" while a filter shows fewer than all, else "1,000,000 entries".
  std::string CountText() const;
  // "3 selected, 12,288 bytes", or "" when nothing is.
  std::string SelectionText() const;
  // What check finds: "2 refused, 1 replaced; 12.5% of the data file unused", or that it is
  // still to come.
  std::string CheckText() const;

 private:
  // An entry's name as Windows compares it: the bytes of a plain ASCII name with its small
  // letters read as capitals, or the UTF-8 key kept for any other name.
  struct KeyText {
    std::string_view bytes;
    bool capitals;
  };
  KeyText Key(std::size_t entry) const;
  // Below zero, zero or above as a sorts before, with or after b.
  static int CompareKeys(KeyText a, KeyText b);
  std::string KeyBytes(std::size_t entry) const;
  // The key's code points into out, which keeps its room from one name to the next.
  void KeyCodes(std::size_t entry, std::u32string& out) const;
  const std::vector<std::uint32_t>& Shown() const {
    return view_.filtered ? *view_.filtered : *view_.order;
  }
  std::string_view Status(std::size_t entry, const std::vector<bool>& replaced) const;
  std::vector<std::uint32_t> Sorted(ContentsColumn column, bool descending,
                                    const std::vector<bool>& replaced) const;
  std::optional<std::vector<std::uint32_t>> Filtered(const std::vector<std::uint32_t>& order,
                                                     const std::vector<NamePattern>& patterns,
                                                     const std::stop_token& stop) const;
  void SortByName();

  Archive archive_;
  ShownName shown_name_;
  ArchiveCheck check_;
  bool checked_ = false;
  // Most names are ASCII, whose keys are their own bytes: only the other names' keys are kept,
  // UTF-8 encoded one after another, oddEnd_[k] where the key of entry oddEntries_[k] ends.
  // Byte order of UTF-8 is the order of its code points.
  std::vector<bool> odd_;
  std::vector<std::uint32_t> oddEntries_;
  std::vector<std::uint32_t> oddEnd_;
  std::string oddKeys_;
  // Replaced whole when check comes: a view being made reads the one it began with.
  std::shared_ptr<const std::vector<bool>> replaced_;
  // Every entry by name, then index: the second key of every other column's order.
  std::vector<std::uint32_t> byName_;
  // Whether the entry at each place of byName_ has the name of the one before it.
  std::vector<bool> sameName_;
  View view_;
  std::vector<bool> selected_;  // by entry
  std::size_t selectedCount_ = 0;
  std::int64_t selectedBytes_ = 0;
};

}  // namespace sectorsieve::ui
