// The contents window's list without a window: filter, sort, selection and the texts shown,
// against archives read from real files.

#include "contents_list.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>

#include "test_support.h"

namespace sectorsieve::ui {
namespace {

using testing::AsciiOnly;
using testing::Entry;
using testing::TempDir;

// Six entries: 3 replaces 1 (the same name in other capitals); 4 and 5 are refused.
const std::vector<Entry> kEntries = {
    {"b.txt", 0, 1}, {"A.bin", 1, 3}, {"c.TXT", 4, 2},
    {"a.BIN", 7, 1}, {"..\\x", 7, 1}, {"d.txt", 100, 1},
};

class ContentsListTest : public ::testing::Test {
 protected:
  ContentsList Read(const std::vector<Entry>& entries = kEntries, std::size_t sectors = 10) {
    testing::WriteArchive(root.path() / "a", entries, sectors);
    FileSystem& fs = SystemFileSystem();
    ContentsList list(ArchiveReader(fs).LoadDirectory(root / "a"), fs.Ansi(), AsciiOnly,
                      [](std::string_view name) { return std::string(name); });
    list.SetCheck(CheckArchive(list.Value(), fs.Ansi(), AsciiOnly));
    return list;
  }
  // What Extract takes out of the list's own reading.
  static std::optional<std::vector<std::size_t>> PickedEntries(const ContentsList& list,
                                                               const KeepGoing& keepGoing = {}) {
    return list.PickedEntries(list.Value(), list.Picked(), SystemFileSystem().Ansi(), AsciiOnly,
                              keepGoing);
  }
  static std::vector<std::size_t> Shown(const ContentsList& list) {
    std::vector<std::size_t> entries;
    for (std::size_t row = 0; row < list.Rows(); ++row) entries.push_back(list.Entry(row).Index());
    return entries;
  }

  TempDir root;
};

struct FilterCase {
  std::string filter;
  std::vector<std::size_t> shown;
  std::string count;
};

TEST_F(ContentsListTest, FiltersByTheCommandLinesNames) {
  const FilterCase cases[] = {
      {"", {0, 1, 2, 3, 4, 5}, "6 entries"}, {"*.txt", {0, 2, 5}, "3 of 6 entries"},
      {"A.BIN", {1, 3}, "2 of 6 entries"},   {"?.bin  b.*", {0, 1, 3}, "3 of 6 entries"},
      {"a", {}, "0 of 6 entries"},           {"*", {0, 1, 2, 3, 4, 5}, "6 entries"},
  };
  ContentsList list = Read();
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.filter);
    list.SetFilter(c.filter);
    EXPECT_EQ(Shown(list), c.shown);
    EXPECT_EQ(list.CountText(), c.count);
  }
}

struct SortCase {
  ContentsColumn column;
  bool descending;
  std::vector<std::size_t> order;
};

TEST_F(ContentsListTest, SortsByEachColumnThenByName) {
  // Sizes 1, 3, 2, 1, 1, 1 sectors. Names compare as Windows compares them: "..\x" as "\X",
  // after the letters; A.bin and a.BIN alike, in directory order whichever way the sort goes.
  const SortCase cases[] = {
      {ContentsColumn::Index, false, {0, 1, 2, 3, 4, 5}},
      {ContentsColumn::Index, true, {5, 4, 3, 2, 1, 0}},
      {ContentsColumn::Name, false, {1, 3, 0, 2, 5, 4}},
      {ContentsColumn::Name, true, {4, 5, 2, 0, 1, 3}},
      {ContentsColumn::Size, false, {3, 0, 5, 4, 2, 1}},
      {ContentsColumn::Size, true, {1, 2, 3, 0, 5, 4}},
      {ContentsColumn::Offset, false, {0, 1, 2, 3, 4, 5}},
      {ContentsColumn::Offset, true, {5, 3, 4, 2, 1, 0}},
      {ContentsColumn::Status, false, {3, 0, 2, 4, 5, 1}},
  };
  ContentsList list = Read();
  for (const SortCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.column) * 2 + c.descending);
    list.SortBy(c.column, c.descending);
    EXPECT_EQ(Shown(list), c.order);
  }
  list.SetFilter("*.txt");
  list.SortBy(ContentsColumn::Size, true);
  EXPECT_EQ(Shown(list), (std::vector<std::size_t>{2, 0, 5})) << "sorting keeps the filter";
}

TEST_F(ContentsListTest, OrdersAndMatchesEveryNameAsWindowsComparesIt) {
  // Names alike in their first eight bytes, names whose key is not their bytes in capitals
  // (a dot or a space ending a part, "/", bytes no code page converts), and twins of them.
  const std::vector<std::string> names = {
      "abcdefgh.bin", "ABCDEFGH",  "abcdefgh", "abcdefgz",      "a.",        "A",
      "x\\y.",        "X/y",       "x\\Y",     "\xC9t\xE9.bin", "\xE9t\xE9", "abcdefg~",
      "ABCDEFGH.",    "a\\b..\\c", "zz",       "A\\B\\C",       "@",         "[",
  };
  std::vector<Entry> entries;
  for (const std::string& name : names) entries.push_back({name, 0, 1});
  ContentsList list = Read(entries, 1);
  const CodePage& cp = SystemFileSystem().Ansi();
  std::vector<std::u32string> keys;
  for (const std::string& name : names) keys.push_back(NameKey(name, cp, AsciiOnly));
  // The list's keys are the same names as UTF-8, whose byte order is that of code points.
  std::vector<std::string> keyBytes;
  for (const std::string& name : names) keyBytes.push_back(KeyOf(name, cp, AsciiOnly));
  std::vector<std::size_t> expected(names.size());
  std::iota(expected.begin(), expected.end(), std::size_t{0});
  std::stable_sort(expected.begin(), expected.end(),
                   [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  list.SortBy(ContentsColumn::Name, false);
  EXPECT_EQ(Shown(list), expected);
  for (std::size_t a = 0; a < names.size(); ++a)
    for (std::size_t b = 0; b < names.size(); ++b)
      EXPECT_EQ(keyBytes[a] < keyBytes[b], keys[a] < keys[b]) << names[a] << " " << names[b];
  std::stable_sort(expected.begin(), expected.end(),
                   [&](std::size_t a, std::size_t b) { return keys[a] > keys[b]; });
  list.SortBy(ContentsColumn::Name, true);
  EXPECT_EQ(Shown(list), expected) << "names the other way, each name's entries in order";
  list.SortBy(ContentsColumn::Name, false);
  for (std::size_t row = 0; row < list.Rows(); ++row) {
    const std::size_t entry = list.Entry(row).Index();
    SCOPED_TRACE(names[entry]);
    // Its own name, typed or as a filter, finds it: only text that converts can be typed.
    if (AsciiOnly(names[entry])) {
      const auto found = list.FindRow(names[entry], row);
      ASSERT_TRUE(found);
      EXPECT_EQ(keys[list.Entry(*found).Index()], keys[entry]);
      list.SetFilter(names[entry]);
      EXPECT_GT(list.Rows(), 0u);
      for (std::size_t shown = 0; shown < list.Rows(); ++shown)
        EXPECT_EQ(keys[list.Entry(shown).Index()], keys[entry]);
      list.SetFilter("");
    }
    // Selected, its key selects every entry of that key again.
    list.SelectAll(false);
    list.Select(row, row, true);
    const std::vector<std::string> selected = list.KeysOf(list.SelectedEntries());
    EXPECT_EQ(selected, std::vector<std::string>{keyBytes[entry]});
    list.SelectAll(false);
    list.SelectKeys(selected);
    for (const std::size_t again : list.SelectedRows())
      EXPECT_EQ(keys[list.Entry(again).Index()], keys[entry]);
  }
  // Dragged, one file per key of the entries not refused: "ABCDEFGH" and "ABCDEFGH." one.
  list.SelectAll(true);
  std::set<std::u32string> written;
  for (std::size_t entry = 0; entry < names.size(); ++entry)
    if (!list.Value()[entry].Refused()) written.insert(keys[entry]);
  EXPECT_LT(written.size(), names.size());
  EXPECT_EQ(list.DraggedEntries().entries.size(), written.size());
}

TEST_F(ContentsListTest, ShowsEachColumnAndWhatCheckFinds) {
  ContentsList list = Read();
  const std::vector<std::vector<std::string>> rows = {
      {"0", "b.txt", "2,048", "0", ""},
      {"1", "A.bin", "6,144", "2,048", kReplacedByLater},
      {"2", "c.TXT", "4,096", "8,192", ""},
      {"3", "a.BIN", "2,048", "14,336", ""},
      {"4", "..\\x", "2,048", "14,336", list.Value().Refusal(list.Value()[4])},
      {"5", "d.txt", "2,048", "204,800", kBeyondTheEnd},
  };
  for (std::size_t row = 0; row < rows.size(); ++row)
    for (int column = 0; column < kContentsColumns; ++column)
      EXPECT_EQ(list.CellText(row, static_cast<ContentsColumn>(column)), rows[row][column])
          << row << ", " << column;
  EXPECT_FALSE(rows[4][4].empty());
  // Sectors 0 to 5 and 7 are taken (3 overlaps ..\x at 7), 6, 8 and 9 are not: 3 of 10.
  EXPECT_EQ(list.CheckText(), "2 refused, 1 replaced; 30.0% of the data file unused");
  EXPECT_EQ(Grouped(-1234567), "-1,234,567");
  EXPECT_EQ(Grouped(999), "999");
}

TEST_F(ContentsListTest, ShowsWhatCheckFindsOnceItComes) {
  testing::WriteArchive(root.path() / "a", kEntries, 10);
  FileSystem& fs = SystemFileSystem();
  ContentsList list(ArchiveReader(fs).LoadDirectory(root / "a"), fs.Ansi(), AsciiOnly,
                    [](std::string_view name) { return std::string(name); });
  EXPECT_EQ(list.CheckText(), "Checking the archive...");
  EXPECT_EQ(list.CellText(1, ContentsColumn::Status), "");
  list.SortBy(ContentsColumn::Status, true);
  EXPECT_EQ(Shown(list), (std::vector<std::size_t>{5, 4, 1, 3, 0, 2}));
  list.SetCheck(CheckArchive(list.Value(), fs.Ansi(), AsciiOnly));
  EXPECT_EQ(list.CellText(2, ContentsColumn::Status), kReplacedByLater);
  list.SortBy(ContentsColumn::Status, true);
  EXPECT_EQ(Shown(list), (std::vector<std::size_t>{1, 5, 4, 3, 0, 2})) << "sorted again";
}

TEST_F(ContentsListTest, MakesAViewAsideShownOnlyOnceSet) {
  ContentsList list = Read();
  const ContentsList::ViewJob job = list.MakeView(ContentsColumn::Size, true, "*.bin");
  std::stop_source givenUp;
  givenUp.request_stop();
  EXPECT_EQ(job(givenUp.get_token()), std::nullopt);
  for (int made = 0; made < 2; ++made) {
    list.SortBy(ContentsColumn::Index, false);
    list.SetFilter("");
    list.Select(0, 0, true);  // b.txt
    std::optional<ContentsList::View> view = job({});
    ASSERT_TRUE(view) << made;
    EXPECT_EQ(Shown(list), (std::vector<std::size_t>{0, 1, 2, 3, 4, 5})) << "not before it is set";
    list.SetView(std::move(*view));
    EXPECT_EQ(Shown(list), (std::vector<std::size_t>{1, 3}));
    EXPECT_EQ(list.Filter(), "*.bin");
    EXPECT_EQ(list.SelectedCount(), 0u) << "b.txt is no longer shown";
  }
}

TEST_F(ContentsListTest, KeepsTheSelectionByEntryAcrossSortAndFilter) {
  ContentsList list = Read();
  EXPECT_EQ(list.SelectionText(), "");
  list.Select(1, 2, true);  // A.bin, c.TXT
  list.Select(5, 5, true);  // d.txt
  EXPECT_EQ(list.SelectionText(), "3 selected, 12,288 bytes");
  list.SortBy(ContentsColumn::Size, true);  // 1, 2, 3, 0, 5, 4
  EXPECT_EQ(list.SelectedRows(), (std::vector<std::size_t>{0, 1, 4}));
  list.Select(0, 1, false);
  EXPECT_EQ(list.FirstSelectedRow(), 4u);
  list.Select(1, 1, true);
  EXPECT_EQ(list.SelectionText(), "2 selected, 6,144 bytes");
  list.SetFilter("*.bin b.txt");  // 1, 3, 0 in size order
  EXPECT_EQ(list.SelectedCount(), 0u) << "entries the filter hides leave the selection";
  list.SelectAll(true);
  EXPECT_EQ(list.SelectionText(), "3 selected, 10,240 bytes");
  list.SelectAll(false);
  EXPECT_EQ(list.SelectedBytes(), 0);
  EXPECT_EQ(list.FirstSelectedRow(), std::nullopt);
}

TEST_F(ContentsListTest, KeepsTheSelectionByNameAcrossAReading) {
  ContentsList list = Read();
  list.Select(0, 0, true);  // b.txt
  list.Select(2, 2, true);  // c.TXT
  const std::vector<std::string> kept = list.KeysOf(list.SelectedEntries());
  // Another reading: an entry before them, c.TXT removed, b.txt moved.
  ContentsList again = Read({{"new.bin", 0, 1}, {"A.bin", 1, 3}, {"B.TXT", 4, 1}}, 5);
  again.SelectKeys(kept);
  EXPECT_EQ(again.SelectedRows(), (std::vector<std::size_t>{2}));
}

TEST_F(ContentsListTest, FindsTheNextRowWhoseNameBeginsSo) {
  ContentsList list = Read();
  EXPECT_EQ(list.FindRow("c", 0), 2u);
  EXPECT_EQ(list.FindRow("A", 2), 3u);
  EXPECT_EQ(list.FindRow("a.b", 4), 1u) << "it wraps around";
  EXPECT_EQ(list.FindRow("zz", 0), std::nullopt);
  EXPECT_EQ(list.FindRow("*", 0), std::nullopt) << "what is typed is no pattern";
}

TEST_F(ContentsListTest, DragsWhatExtractionWritesOfTheSelection) {
  ContentsList list = Read();
  EXPECT_TRUE(list.DraggedEntries().entries.empty());
  list.SelectAll(true);
  const ContentsList::Dragged all = list.DraggedEntries();
  EXPECT_EQ(all.entries, (std::vector<std::size_t>{0, 2, 3})) << "a.BIN's file replaces A.bin's";
  EXPECT_EQ(all.refused, (std::vector<std::size_t>{4, 5}));
  list.SelectAll(false);
  list.SortBy(ContentsColumn::Index, true);
  list.Select(3, 4, true);  // entries 2 and 1
  EXPECT_EQ(list.DraggedEntries().entries, (std::vector<std::size_t>{1, 2}));
}

struct PickCase {
  const char* name;
  std::string filter;
  std::vector<std::size_t> selectRows;
  std::optional<std::vector<std::size_t>> extracted;
};

TEST_F(ContentsListTest, ExtractTakesTheSelectionOrWhatIsShown) {
  const PickCase cases[] = {
      {"everything", "", {}, std::nullopt},
      {"what the filter shows", "*.txt", {}, std::vector<std::size_t>{0, 2, 5}},
      {"all selected is all shown", "*.txt", {0, 1, 2}, std::vector<std::size_t>{0, 2, 5}},
      {"the selection", "", {0, 2}, std::vector<std::size_t>{0, 2}},
      {"every entry of a name", "", {1}, std::vector<std::size_t>{1, 3}},
  };
  for (const PickCase& c : cases) {
    SCOPED_TRACE(c.name);
    ContentsList list = Read();
    list.SetFilter(c.filter);
    for (const std::size_t row : c.selectRows) list.Select(row, row, true);
    EXPECT_EQ(PickedEntries(list), c.extracted);
    EXPECT_EQ(PickedEntries(list, [] { return false; }), c.extracted)
        << "a pick of a few entries is not asked to stop";
  }
}

TEST_F(ContentsListTest, ExtractOfManySelectedNamesAsksToGoOnWhileGatheringThem) {
  // One more name selected than are gathered between questions, one left out.
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < kEntriesPerQuestion + 2; ++i)
    entries.push_back({"n" + std::to_string(i), 0, 1});
  ContentsList list = Read(entries, 1);
  list.SelectAll(true);
  list.Select(0, 0, false);
  std::vector<std::size_t> selected(kEntriesPerQuestion + 1);
  std::iota(selected.begin(), selected.end(), std::size_t{1});
  int asked = 0;
  EXPECT_EQ(PickedEntries(list, [&] { return ++asked > 0; }), selected);
  EXPECT_EQ(asked, 2) << "once gathering the names, once looking through the entries";
  EXPECT_EQ(PickedEntries(list, [] { return false; }), std::vector<std::size_t>{})
      << "given up before any entry is looked at";
}

}  // namespace
}  // namespace sectorsieve::ui
