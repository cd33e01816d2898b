// The contents window's handlers through controls in memory: reading off the window's thread,
// the control's selection kept with the list's, Extract through the main window's run, and the
// changes' questions and what follows them. The archives are real files.

#include "frmContents.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>

#include "memory_window.h"
#include "test_support.h"

namespace sectorsieve::ui {
namespace {

namespace fs = std::filesystem;
using testing::ListTree;
using testing::PatternBytes;
using testing::Record;
using testing::TempDir;
using testing::WriteBytes;

// The window and its list control in memory. Events posted from the window's threads wait in a
// queue until the test takes them on its own thread, as the window's message loop would.
class MemoryContents final : public ContentsForm, public EntryListView {
 public:
  bool Ask(const std::string& text, const std::string& title) override {
    asked.push_back(title + ": " + text);
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  void Tell(const std::string& text, const std::string& title) override {
    told.push_back(title + ": " + text);
  }
  void ShowFailure(const std::string& text, const std::string& title) override {
    told.push_back(title + ": " + text);
  }
  void SetStatus(int part, const std::string& text) override { status[part] = text; }
  void Post(ContentsEvent event) override {
    const std::lock_guard<std::mutex> lock(lock_);
    events_.push_back(event);
    posted_.notify_one();
  }
  void Close() override { closed = true; }
  void SetRows(std::size_t n) override {
    rows = n;
    selected.clear();
  }
  void Select(const std::vector<std::size_t>& rows) override {
    selected.insert(rows.begin(), rows.end());
  }
  void Focus(std::size_t row) override { focused = row; }
  void SetSortArrow(ContentsColumn column, bool descending) override {
    arrow = static_cast<int>(column) * (descending ? -1 : 1);
  }
  void Redraw() override {}

  // Takes the events posted, on this thread, until done says so; false once none comes within
  // patience.
  template <typename Done>
  bool Pump(frmContents& frm, Done done,
            std::chrono::milliseconds patience = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + patience;
    while (!done()) {
      std::unique_lock<std::mutex> lock(lock_);
      if (!posted_.wait_until(lock, until, [&] { return !events_.empty(); })) return false;
      const ContentsEvent event = events_.front();
      events_.pop_front();
      lock.unlock();
      frm.OnEvent(event);
    }
    return true;
  }

  std::deque<bool> answers;  // to the questions, in turn; No once they run out
  std::vector<std::string> asked, told;
  std::string status[2];
  bool closed = false;
  std::size_t rows = 0;
  std::set<std::size_t> selected;
  std::optional<std::size_t> focused;
  int arrow = 0;

 private:
  std::mutex lock_;
  std::condition_variable posted_;
  std::deque<ContentsEvent> events_;
};

class ContentsWindowTest : public ::testing::Test {
 protected:
  ContentsWindowTest() {
    std::string records;
    for (std::size_t i = 0; i < kNames.size(); ++i)
      records += Record(static_cast<std::int32_t>(i), 1, kNames[i]);
    WriteBytes(root.path() / "many.dir", records);
    WriteBytes(root.path() / "many.img", PatternBytes(kNames.size() * SECTOR_SIZE, 3));
    fs::create_directory(root.path() / "out");
    main.pickers.files.push_back(root / "many.img");
    main.frm.cmdBrowseSource_Click();
    main.pickers.folders.push_back(root / "out");
    main.frm.cmdBrowseDestination_Click();
  }
  // The window opened, with its list and what check finds shown.
  void Open() {
    frm.Form_Load();
    ASSERT_TRUE(Shown());
  }
  // The reading under way done, its list and check shown.
  bool Shown() {
    return form.Pump(frm, [&] {
      return frm.List() && frm.CanChange() && frm.List()->Checked() &&
             form.status[1].find("refused") != std::string::npos;
    });
  }
  // The view asked for shown: the list control's rows set again.
  bool Viewed(std::chrono::milliseconds patience = std::chrono::seconds(20)) {
    form.rows = 0;
    return form.Pump(
        frm, [&] { return form.rows > 0; }, patience);
  }
  // The entries shown, by name, in row order.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (std::size_t row = 0; row < frm.List()->Rows(); ++row)
      names.emplace_back(frm.List()->Entry(row).FileName());
    return names;
  }
  // Every row the control shows selected is the list's, and the other way round.
  void ExpectSelectionInStep() {
    std::set<std::size_t> listed;
    for (const std::size_t row : frm.List()->SelectedRows()) listed.insert(row);
    EXPECT_EQ(form.selected, listed);
  }

  const std::vector<std::string> kNames = {"b.txt", "a.bin", "c.txt", "d.bin", "e.txt"};
  TempDir root;
  MemoryWindow main{SystemFileSystem()};
  MemoryContents form;
  MemoryTextBox txtFilter{""};
  MemoryTextBox lblCount{""};
  MemoryButton cmdExtract{false};
  frmContents frm{{form, txtFilter, lblCount, form, cmdExtract},
                  root / "many.img",
                  main.frm,
                  SystemFileSystem(),
                  [](std::string_view utf8) { return std::string(utf8); }};
};

TEST_F(ContentsWindowTest, ShowsTheListOnceReadAndWhatCheckFindsOnceChecked) {
  EXPECT_EQ(frm.List(), nullptr);
  frm.Form_Load();
  EXPECT_EQ(lblCount.Text(), "Reading the archive...");
  EXPECT_FALSE(cmdExtract.Enabled());
  ASSERT_TRUE(Shown());
  EXPECT_EQ(form.rows, kNames.size());
  EXPECT_EQ(lblCount.Text(), "5 entries");
  EXPECT_TRUE(cmdExtract.Enabled());
  EXPECT_EQ(form.status[1], "0 refused, 0 replaced; 0.0% of the data file unused");
}

TEST_F(ContentsWindowTest, SaysWhyAnArchiveCannotBeRead) {
  fs::remove(root.path() / "many.dir");
  frm.Form_Load();
  ASSERT_TRUE(form.Pump(frm, [&] { return !form.status[0].empty(); }));
  EXPECT_EQ(form.status[0].rfind("The archive could not be read: ", 0), 0u) << form.status[0];
  EXPECT_EQ(lblCount.Text(), "");
  EXPECT_EQ(frm.List(), nullptr);
}

TEST_F(ContentsWindowTest, KeepsTheControlsSelectionWithTheListsAcrossSortFilterAndReading) {
  Open();
  frm.lstEntries_ItemChanged(1, true);      // a.bin
  frm.lstEntries_RangeChanged(3, 4, true);  // d.bin, e.txt
  ASSERT_TRUE(form.Pump(frm, [&] { return form.status[0] == "3 selected, 6,144 bytes"; }))
      << form.status[0];
  frm.lstEntries_ColumnClick(static_cast<int>(ContentsColumn::Name));
  ASSERT_TRUE(Viewed());
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.bin", "b.txt", "c.txt", "d.bin", "e.txt"}));
  EXPECT_EQ(form.arrow, static_cast<int>(ContentsColumn::Name));
  ASSERT_TRUE(form.Pump(frm, [&] { return form.selected.size() == 3; }));
  ExpectSelectionInStep();
  EXPECT_EQ(form.focused, 0u);
  frm.lstEntries_ColumnClick(static_cast<int>(ContentsColumn::Name));
  ASSERT_TRUE(Viewed());
  EXPECT_EQ(form.arrow, -static_cast<int>(ContentsColumn::Name)) << "again, the other way";
  ASSERT_TRUE(form.Pump(frm, [&] { return form.selected.size() == 3; }));
  ExpectSelectionInStep();
  txtFilter.SetText("*.bin");
  frm.txtFilter_Timer();
  ASSERT_TRUE(Viewed());
  EXPECT_EQ(lblCount.Text(), "2 of 5 entries");
  ASSERT_TRUE(form.Pump(frm, [&] { return form.selected.size() == 2; }));
  ExpectSelectionInStep();
  // Read again (F5): the selection is kept by name, the sort and filter with it.
  frm.Form_KeyF5();
  ASSERT_TRUE(Shown());
  EXPECT_EQ(Names(), (std::vector<std::string>{"d.bin", "a.bin"}));
  ASSERT_TRUE(form.Pump(frm, [&] { return form.selected.size() == 2; }));
  ExpectSelectionInStep();
  EXPECT_EQ(form.selected.size(), 2u);
  // Ctrl+A: every row shown, in the list at once and in the control slice by slice.
  frm.Form_KeyCtrlA();
  EXPECT_EQ(form.status[0], "2 selected, 4,096 bytes");
  ASSERT_TRUE(form.Pump(frm, [&] { return form.selected.size() == 2; }));
  ExpectSelectionInStep();
  // Every row at once (nothing: every row, as the control says so).
  frm.lstEntries_ItemChanged(std::nullopt, false);
  EXPECT_EQ(frm.List()->SelectedCount(), 0u);
}

TEST_F(ContentsWindowTest, ReadingAgainBeforeTheFirstIsDoneShowsOnlyTheLast) {
  frm.Form_Load();
  frm.Form_KeyF5();
  frm.Form_KeyF5();
  ASSERT_TRUE(Shown());
  EXPECT_EQ(form.rows, kNames.size());
  // No answer of a reading given up is still to come: it would show a second list.
  const ContentsList* shown = frm.List();
  EXPECT_FALSE(form.Pump(
      frm, [&] { return frm.List() != shown; }, std::chrono::milliseconds(500)));
}

TEST_F(ContentsWindowTest, ShowsOnlyTheLastSortAndFilterAskedFor) {
  Open();
  const int name = static_cast<int>(ContentsColumn::Name);
  frm.lstEntries_ColumnClick(name);
  frm.lstEntries_ColumnClick(name);  // the other way, though the first is not shown yet
  txtFilter.SetText("*.txt");
  frm.txtFilter_Timer();
  txtFilter.SetText("*.bin");
  frm.txtFilter_Timer();
  ASSERT_TRUE(Viewed());
  EXPECT_EQ(form.arrow, -name);
  EXPECT_EQ(Names(), (std::vector<std::string>{"d.bin", "a.bin"}));
  EXPECT_EQ(lblCount.Text(), "2 of 5 entries");
  EXPECT_FALSE(Viewed(std::chrono::milliseconds(300))) << "a view given up showed after";
  // A click while the archive is read again: the list read shows it.
  frm.Form_KeyF5();
  frm.lstEntries_ColumnClick(name);
  ASSERT_TRUE(form.Pump(frm, [&] { return form.arrow == name && frm.CanChange(); }));
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.bin", "d.bin"}));
  EXPECT_FALSE(Viewed(std::chrono::milliseconds(300)))
      << "a view of the list read before showed after";
}

struct ExtractCase {
  const char* name;
  std::vector<std::size_t> rows;  // selected
  bool changedOutside;
  std::string typed;  // in the filter box, its pause still to come
  std::set<std::string> written;
};

TEST_F(ContentsWindowTest, ExtractTakesOutWhatIsPickedThroughTheMainWindowsRun) {
  const ExtractCase cases[] = {
      {"every entry", {}, false, "", {"a.bin", "b.txt", "c.txt", "d.bin", "e.txt"}},
      {"the selection, read again first when changed outside", {1}, true, "", {"a.bin"}},
      {"what the filter typed shows", {}, false, "*.bin", {"a.bin", "d.bin", "new.bin"}},
  };
  for (const ExtractCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root.path() / "out");
    fs::create_directory(root.path() / "out");
    frm.Form_KeyF5();
    ASSERT_TRUE(Shown());
    frm.lstEntries_ItemChanged(std::nullopt, false);
    for (const std::size_t row : c.rows) frm.lstEntries_ItemChanged(row, true);
    if (c.changedOutside) {
      // Another entry at the end, written by the command line meanwhile.
      std::string records;
      for (std::size_t i = 0; i < kNames.size(); ++i)
        records += Record(static_cast<std::int32_t>(i), 1, kNames[i]);
      WriteBytes(root.path() / "many.dir", records + Record(0, 1, "new.bin"));
    }
    txtFilter.SetText(c.typed);
    frm.cmdExtract_Click();
    if (c.changedOutside) {
      EXPECT_TRUE(ListTree(root.path() / "out").empty()) << "not before the list is read again";
    }
    ASSERT_TRUE(form.Pump(frm, [&] { return !ListTree(root.path() / "out").empty(); }));
    if (c.changedOutside) {
      EXPECT_NE(form.status[0].find(kChangedNotice), std::string::npos);
    }
    EXPECT_EQ(ListTree(root.path() / "out"), c.written);
    EXPECT_EQ(main.form.captions.back(), "Extracted! Thanks Sectorsieve!");
  }
}

struct ChangeCase {
  const char* name;
  std::vector<std::size_t> rows;  // selected
  std::function<void(frmContents&)> act;
  std::deque<bool> answers;
  std::vector<std::string> asked;
  std::vector<std::string> told;
  std::vector<std::string> after;  // the entries, once read again
  std::string notice;              // in the status bar once read again; empty when no change starts
};

TEST_F(ContentsWindowTest, ChangesAskFirstThenReadTheArchiveAgain) {
  const auto remove = [](frmContents& f) { f.mnuRemove_Click(); };
  const auto rename = [](const std::string& typed) {
    return [typed](frmContents& f) { f.txtRename_Done("a.bin", typed); };
  };
  const ChangeCase cases[] = {
      {"remove, answered no",
       {1, 3},
       remove,
       {false},
       {"Remove: Remove 2 entries from many.img? This cannot be undone."},
       {},
       {"b.txt", "a.bin", "c.txt", "d.bin", "e.txt"},
       ""},
      {"remove, answered yes",
       {1, 3},
       remove,
       {true},
       {"Remove: Remove 2 entries from many.img? This cannot be undone."},
       {},
       {"b.txt", "c.txt", "e.txt"},
       "Removed 2 entries."},
      {"rename",
       {1},
       rename("z.bin"),
       {},
       {},
       {},
       {"b.txt", "z.bin", "c.txt", "d.bin", "e.txt"},
       "Renamed \"a.bin\" to \"z.bin\"."},
      {"rename to a name taken",
       {1},
       rename("C.TXT"),
       {},
       {},
       {"The archive was not changed: \"C.TXT\" is already in the archive"},
       {"b.txt", "a.bin", "c.txt", "d.bin", "e.txt"},
       "1 selected, 2,048 bytes"},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    form.asked.clear();
    form.told.clear();
    form.answers = c.answers;
    frm.Form_KeyF5();
    ASSERT_TRUE(Shown());
    frm.lstEntries_ItemChanged(std::nullopt, false);
    for (const std::size_t row : c.rows) frm.lstEntries_ItemChanged(row, true);
    c.act(frm);
    EXPECT_EQ(form.asked, c.asked);
    EXPECT_EQ(frm.CanChange(), c.notice.empty()) << "one change at a time";
    // The change done, the list is read again.
    ASSERT_TRUE(form.Pump(frm, [&] { return frm.CanChange(); }));
    ASSERT_TRUE(Shown());
    EXPECT_EQ(form.told, c.told);
    EXPECT_NE(form.status[0].find(c.notice), std::string::npos) << form.status[0];
    EXPECT_EQ(Names(), c.after);
    // Put the archive back as it was for the next case.
    std::string records;
    for (std::size_t i = 0; i < kNames.size(); ++i)
      records += Record(static_cast<std::int32_t>(i), 1, kNames[i]);
    WriteBytes(root.path() / "many.dir", records);
  }
}

TEST_F(ContentsWindowTest, EscapeClosesTheWindowWhenNothingGoesOn) {
  Open();
  frm.Form_KeyEscape();
  EXPECT_TRUE(form.closed);
}

}  // namespace
}  // namespace sectorsieve::ui
