// The extraction run behind the Extract button, driven through the in-memory window:
// what the user sees (captions, buttons, pointer, boxes) and the files it writes.

#include <gtest/gtest.h>

#include <fstream>

#include "memory_window.h"
#include "test_support.h"
#include "unix_link.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sectorsieve::ui {
namespace {

namespace fs = std::filesystem;
using testing::EntryBytes;
using testing::ListTree;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::Record;
using testing::TempDir;
using testing::WriteBytes;

const std::string kDone = "Extracted! Thanks Sectorsieve!";

using testing::Entry;

class ExtractionRunTest : public ::testing::Test {
 public:
  void SetUp() override { fs::create_directory(root.path() / "out"); }

  // Writes an archive pair whose data file holds `sectors` sectors of pattern bytes.
  void Archive(const std::vector<Entry>& entries, std::size_t sectors) {
    img = testing::WriteArchive(root.path() / "arc", entries, sectors);
  }

  // n entries named file000.bin... of 1 to 3 sectors, one after another.
  std::vector<Entry> Sequential(int n) {
    std::vector<Entry> entries;
    std::int32_t offset = 0;
    for (int i = 0; i < n; ++i) {
      std::string name = std::to_string(i);
      name = "file" + std::string(3 - std::min<std::size_t>(3, name.size()), '0') + name + ".bin";
      entries.push_back({name, offset, i % 3 + 1});
      offset += i % 3 + 1;
    }
    return entries;
  }

  std::int32_t Sectors(const std::vector<Entry>& entries) {
    std::int32_t end = 0;
    for (const auto& e : entries) end = std::max(end, e.offset + e.size);
    return end;
  }

  // Chooses both inputs as the Browse handlers would and presses Extract.
  void Run(const std::string& destination) {
    w.lblSource.SetText(root / "arc.img");
    w.lblDestination.SetText(destination);
    ASSERT_TRUE(w.cmdExtract.Enabled());
    w.frm.cmdExtract_Click();
  }
  void Run() { Run((root.path() / "out").string()); }

  void ExpectIdle() {
    EXPECT_TRUE(w.cmdExtract.Enabled());
    EXPECT_TRUE(w.cmdBrowseSource.Enabled());
    EXPECT_TRUE(w.cmdBrowseDestination.Enabled());
    EXPECT_EQ(w.form.pointer, MousePointer::Default);
  }

  TempDir root;
  std::string img;
  MemoryWindow w{SystemFileSystem()};
};

TEST_F(ExtractionRunTest, SeveralHundredEntriesWithTheExactCaptionSequence) {
  const auto entries = Sequential(300);
  Archive(entries, static_cast<std::size_t>(Sectors(entries)));
  Run();

  std::vector<std::string> expected{kStartCaption};
  for (const auto& e : entries) expected.push_back("Extracting : " + e.name);
  expected.push_back(kDone);
  EXPECT_EQ(w.form.captions, expected);
  for (const auto& e : entries)
    EXPECT_EQ(ReadBytes(root.path() / "out" / e.name), EntryBytes(img, e));
  EXPECT_EQ(ListTree(root.path() / "out").size(), entries.size());
  EXPECT_TRUE(w.form.boxes.empty());
  EXPECT_EQ(w.form.taskbar, TaskbarProgress::None);
  ExpectIdle();
}

TEST_F(ExtractionRunTest, EmptyDirectoryGoesStraightToTheEnd) {
  Archive({}, 0);
  Run();
  EXPECT_EQ(w.form.captions, (std::vector<std::string>{kStartCaption, kDone}));
  EXPECT_TRUE(ListTree(root.path() / "out").empty());
  ExpectIdle();
}

TEST_F(ExtractionRunTest, DestinationGetsOneTrailingSeparator) {
  const auto entries = Sequential(2);
  Archive(entries, 3);
  const std::string out = (root.path() / "out").string();
  const struct {
    std::string chosen, shown;
  } cases[] = {{out, out + "\\"}, {out + "\\", out + "\\"}};
  for (const auto& c : cases) {
    w.lblDestination.SetText(c.chosen);
    Run(c.chosen);
    EXPECT_EQ(w.lblDestination.Text(), c.shown);
    EXPECT_EQ(ReadBytes(root.path() / "out" / "file001.bin"), EntryBytes(img, entries[1]));
  }
}

TEST_F(ExtractionRunTest, ButtonsStayDisabledAndPointerBusyThroughoutTheRun) {
  const auto entries = Sequential(5);
  Archive(entries, static_cast<std::size_t>(Sectors(entries)));
  int checks = 0;
  w.form.pendingEvents = [&](int) {
    ++checks;
    // A change of a path box meanwhile must not enable Extract either.
    w.lblSource.SetText(w.lblSource.Text());
    EXPECT_FALSE(w.cmdExtract.Enabled());
    EXPECT_FALSE(w.cmdBrowseSource.Enabled());
    EXPECT_FALSE(w.cmdBrowseDestination.Enabled());
    EXPECT_EQ(w.form.pointer, MousePointer::Hourglass);
    EXPECT_EQ(w.form.taskbar, TaskbarProgress::Normal);
    EXPECT_EQ(w.form.taskbarDone, checks - 1);
    EXPECT_EQ(w.form.taskbarTotal, 5);
  };
  Run();
  EXPECT_EQ(checks, 5);
  ExpectIdle();
}

TEST_F(ExtractionRunTest, OneBadEntryAmongGoodOnesIsReportedAndTheRestWritten) {
  auto entries = Sequential(6);
  const std::int32_t sectors = Sectors(entries);
  entries.insert(entries.begin() + 3, {"broken.bin", sectors + 10, 1});
  Archive(entries, static_cast<std::size_t>(sectors));
  Run();

  for (const auto& e : entries) {
    if (e.name == "broken.bin") continue;
    EXPECT_EQ(ReadBytes(root.path() / "out" / e.name), EntryBytes(img, e)) << e.name;
  }
  EXPECT_FALSE(fs::exists(root.path() / "out" / "broken.bin"));
  EXPECT_EQ(w.form.captions.back(), "Extracted with 1 error(s)");
  ASSERT_EQ(w.form.boxes.size(), 1u);
  EXPECT_EQ(w.form.boxes[0].title, "Extraction errors");
  EXPECT_EQ(w.form.boxes[0].text,
            "1 of 7 entries could not be extracted:\r\n\r\n"
            "broken.bin: lies beyond the end of the archive");
  EXPECT_EQ(w.form.taskbar, TaskbarProgress::Error);
  ExpectIdle();
}

TEST_F(ExtractionRunTest, ManyFailuresListTwentyAndCountTheRest) {
  std::vector<Entry> entries;
  for (int i = 0; i < 25; ++i) entries.push_back({"bad" + std::to_string(i), -1, 1});
  entries.push_back({"", 0, 1});
  Archive(entries, 1);
  Run();

  std::string expected = "26 of 26 entries could not be extracted:\r\n";
  for (int i = 0; i < 20; ++i)
    expected += "\r\nbad" + std::to_string(i) + ": has a negative offset";
  expected += "\r\nand 6 more";
  ASSERT_EQ(w.form.boxes.size(), 1u);
  EXPECT_EQ(w.form.boxes[0].text, expected);
  EXPECT_EQ(w.form.captions.back(), "Extracted with 26 error(s)");
  // The nameless entry is still announced, with nothing after the colon.
  EXPECT_EQ(w.form.captions[w.form.captions.size() - 2], "Extracting : entry 25");
  ExpectIdle();
}

TEST_F(ExtractionRunTest, RunThatCannotGoOnStopsWithOneBox) {
  const auto entries = Sequential(3);
  const struct {
    std::string removed;  // what goes missing before the run
    std::string named;    // what the box must name
  } cases[] = {{"arc.dir", "arc.dir"}, {"arc.img", "arc.img"}, {"out", "out\\"}};
  for (const auto& c : cases) {
    fs::create_directories(root.path() / "out");
    Archive(entries, static_cast<std::size_t>(Sectors(entries)));
    fs::remove(root.path() / c.removed);
    w.form.boxes.clear();
    Run();
    EXPECT_EQ(w.form.captions.back(), "Extraction failed") << c.removed;
    ASSERT_EQ(w.form.boxes.size(), 1u) << c.removed;
    EXPECT_EQ(w.form.boxes[0].title, "Extraction failed");
    EXPECT_NE(w.form.boxes[0].text.find(c.named), std::string::npos) << w.form.boxes[0].text;
    ExpectIdle();
    fs::remove_all(root.path() / "out");
  }
}

// Closing while the third entry's events are processed: the program ends after two entries.
void ExpectCloseEndsTheRun(ExtractionRunTest& t, MemoryWindow& w,
                           const std::function<void()>& close, const std::vector<Entry>& entries) {
  w.form.pendingEvents = [&](int call) {
    if (call != 3) return;
    close();
    EXPECT_FALSE(w.form.unloaded);
  };
  t.Run();
  EXPECT_TRUE(w.form.unloaded);
  EXPECT_TRUE(w.form.boxes.empty());
  EXPECT_EQ(ListTree(t.root.path() / "out"), (std::set<std::string>{"file000.bin", "file001.bin"}));
  EXPECT_EQ(ReadBytes(t.root.path() / "out" / "file001.bin"), EntryBytes(t.img, entries[1]));
}

TEST_F(ExtractionRunTest, ClosingTheWindowDuringTheRunStopsAfterTheEntryInHand) {
  const auto entries = Sequential(6);
  Archive(entries, static_cast<std::size_t>(Sectors(entries)));
  ExpectCloseEndsTheRun(
      *this, w, [&] { EXPECT_FALSE(w.frm.QueryUnload()); }, entries);
}

TEST_F(ExtractionRunTest, QuitDuringTheRunStopsAfterTheEntryInHand) {
  const auto entries = Sequential(6);
  Archive(entries, static_cast<std::size_t>(Sectors(entries)));
  ExpectCloseEndsTheRun(
      *this, w, [&] { w.frm.mnuQuit_Click(); }, entries);
}

TEST_F(ExtractionRunTest, TwoRunsInARowLeaveTheSameFiles) {
  auto entries = Sequential(20);
  entries.push_back({"file005.bin", 0, 1});  // a later entry writes over an earlier one
  Archive(entries, static_cast<std::size_t>(Sectors(entries)));
  Run();
  const auto first = ListTree(root.path() / "out");
  const std::string replaced = ReadBytes(root.path() / "out" / "file005.bin");
  w.frm.cmdExtract_Click();
  EXPECT_EQ(ListTree(root.path() / "out"), first);
  EXPECT_EQ(ReadBytes(root.path() / "out" / "file005.bin"), replaced);
  EXPECT_EQ(replaced, EntryBytes(img, entries.back()));
  EXPECT_EQ(w.form.captions.back(), kDone);
}

TEST_F(ExtractionRunTest, APathBoxTheCodePageCannotHoldStopsTheRunBeforeAnyWrite) {
  const auto entries = Sequential(3);
  Archive(entries, static_cast<std::size_t>(Sectors(entries)));
  const struct {
    MemoryTextBox& box;
    std::string kind;
  } cases[] = {{w.lblSource, "file"}, {w.lblDestination, "folder"}};
  for (const auto& c : cases) {
    w.form.boxes.clear();
    w.lblSource.SetText(root / "arc.img");
    w.lblDestination.SetText((root.path() / "out").string());
    const std::string shown = c.box.Text();
    c.box.unconvertible = true;
    w.frm.cmdExtract_Click();
    c.box.unconvertible = false;
    EXPECT_EQ(w.form.captions.back(), "Extraction failed");
    ASSERT_EQ(w.form.boxes.size(), 1u);
    EXPECT_EQ(w.form.boxes[0].title, "Extraction failed");
    EXPECT_EQ(w.form.boxes[0].text, "The " + c.kind + " \"" + shown +
                                        "\" has characters in its name that this program "
                                        "cannot use.\r\nPlease choose another " +
                                        c.kind + ".");
    EXPECT_TRUE(ListTree(root.path() / "out").empty());
    ExpectIdle();
  }
}

TEST_F(ExtractionRunTest, AFolderEndingInADoubleByteCharacterGetsItsOwnSeparator) {
  // The second byte of this character of code page 932 is that of "\\".
  const std::string omote = "\x95\x5C";
#ifdef _WIN32
  FileSystem& files932 = SystemFileSystem();
  if (files932.Ansi().Id() != 932) GTEST_SKIP() << "the system's code page is not 932";
#else
  const auto owned = SystemFileSystem(CodePage::Known(932));
  FileSystem& files932 = *owned;
#endif
  MemoryWindow w932(files932);
  const auto entries = Sequential(2);
  Archive(entries, 3);
  // The folder is named as the program names paths: on Windows in UTF-8, whose last byte
  // here is no "\\".
#ifdef _WIN32
  const std::string destination = root.path().string() + "\\" + files932.Shown(omote);
  ASSERT_TRUE(fs::create_directory(testing::PathFromUtf8(destination)));
#else
  const std::string destination = (root.path() / omote).string();
  fs::create_directory(destination);
#endif
  const auto before = ListTree(root.path());
  w932.lblSource.SetText(root / "arc.img");
  w932.lblDestination.SetText(destination);
  w932.frm.cmdExtract_Click();

  EXPECT_EQ(w932.form.captions.back(), kDone);
  EXPECT_EQ(w932.lblDestination.Text(), destination + "\\");
  for (const auto& e : entries) {
    const auto file = files932.OpenRead(destination + "\\" + files932.Shown(e.name));
    std::string bytes(static_cast<std::size_t>(file->Size()), '\0');
    file->ReadAt(0, bytes.data(), bytes.size());
    EXPECT_EQ(bytes, EntryBytes(img, e)) << e.name;
  }
  EXPECT_EQ(ListTree(root.path()).size(), before.size() + entries.size());
}

TEST_F(ExtractionRunTest, NoEntryIsWrittenThroughALinkAndALinkAtItsNameIsReplaced) {
  const fs::path out = root.path() / "out";
  const fs::path away = root.path() / "away";
  fs::create_directories(out / "sub");
  fs::create_directory(away);
  WriteBytes(away / "target.bin", "kept");
  testing::MakeUnixLink(away, out / "lnk");
  testing::MakeUnixLink(away, out / "sub" / "inner");
  testing::MakeUnixLink(away / "target.bin", out / "file.bin");
  const std::vector<Entry> entries = {{"lnk\\evil.txt", 0, 1},        {"sub\\ok.txt", 1, 1},
                                      {"sub\\inner\\evil.txt", 2, 1}, {"file.bin", 3, 1},
                                      {"lnk/evil2.txt", 4, 1},        {".\\sub\\ok2.txt", 5, 1}};
  Archive(entries, 6);
  Run();

  const std::string dest = out.string() + "\\";
  const std::string why = "\", which is a link and could lead outside the folder";
  EXPECT_EQ(w.form.captions.back(), "Extracted with 3 error(s)");
  ASSERT_EQ(w.form.boxes.size(), 1u);
  EXPECT_EQ(w.form.boxes[0].text,
            "3 of 6 entries could not be extracted:\r\n"
            "\r\nlnk\\evil.txt: is not written through \"" +
                dest + "lnk" + why + "\r\nsub\\inner\\evil.txt: is not written through \"" + dest +
                "sub\\inner" + why + "\r\nlnk/evil2.txt: is not written through \"" + dest + "lnk" +
                why);
  EXPECT_EQ(ReadBytes(out / "sub" / "ok.txt"), EntryBytes(img, entries[1]));
  EXPECT_EQ(ReadBytes(out / "sub" / "ok2.txt"), EntryBytes(img, entries[5]));
  EXPECT_EQ(ReadBytes(out / "file.bin"), EntryBytes(img, entries[3]));
  EXPECT_EQ(ListTree(away), std::set<std::string>{"target.bin"});
  EXPECT_EQ(ReadBytes(away / "target.bin"), "kept");
  ExpectIdle();
}

TEST_F(ExtractionRunTest, ClosingWhileALongDirectoryLoadsEndsAtOnceAndWritesNothing) {
  // Enough records that the directory loads in several pieces.
  const auto entries = Sequential(5000);
  Archive(entries, static_cast<std::size_t>(Sectors(entries)));
  w.form.pendingEvents = [&](int) { EXPECT_FALSE(w.frm.QueryUnload()); };
  Run();
  EXPECT_TRUE(w.form.unloaded);
  EXPECT_TRUE(w.form.boxes.empty());
  EXPECT_TRUE(ListTree(root.path() / "out").empty());
}

TEST_F(ExtractionRunTest, EscapeStopsTheRunAfterTheEntryInHandAndNothingElse) {
  const auto entries = Sequential(6);
  Archive(entries, static_cast<std::size_t>(Sectors(entries)));
  w.frm.Form_KeyEscape();  // with no run going on: nothing at all
  EXPECT_FALSE(w.form.unloaded);
  w.form.pendingEvents = [&](int call) {
    if (call == 3) w.frm.Form_KeyEscape();
  };
  Run();
  EXPECT_EQ(w.form.captions.back(), "Extraction stopped");
  EXPECT_TRUE(w.form.boxes.empty());
  EXPECT_FALSE(w.form.unloaded);
  EXPECT_EQ(w.form.taskbar, TaskbarProgress::None);
  EXPECT_EQ(ListTree(root.path() / "out"), (std::set<std::string>{"file000.bin", "file001.bin"}));
  EXPECT_EQ(ReadBytes(root.path() / "out" / "file001.bin"), EntryBytes(img, entries[1]));
  ExpectIdle();

  w.form.pendingEvents = nullptr;
  w.frm.cmdExtract_Click();
  EXPECT_EQ(w.form.captions.back(), kDone);
  EXPECT_EQ(ListTree(root.path() / "out").size(), entries.size());
}

// 1 GiB: a pattern sector every 64 MiB, holes between where the file system has them.
constexpr std::int32_t kGiBSectors = 1 << 19;

TEST_F(ExtractionRunTest, EscapeAbandonsALargeEntryAtItsNextPieceLeavingNoFile) {
  WriteBytes(
      root.path() / "arc.dir",
      Record(0, 1, "small.bin") + Record(1, kGiBSectors, "big.bin") + Record(0, 1, "after.bin"));
  testing::WriteSparseData(root.path() / "arc.img", kGiBSectors + 1, 1 << 15);
  int escapedAt = 0;
  w.form.pendingEvents = [&](int call) {
    if (escapedAt == 0 && w.form.captions.back() == "Extracting : big.bin") escapedAt = call + 1;
    if (call == escapedAt) w.frm.Form_KeyEscape();
  };
  Run();
  EXPECT_EQ(w.form.captions.back(), "Extraction stopped");
  EXPECT_TRUE(w.form.boxes.empty());
  // Stopped at the piece after Escape, not once all of the entry was written.
  EXPECT_GT(escapedAt, 0);
  EXPECT_LE(w.form.doEventsCalls, escapedAt + 1);
  EXPECT_EQ(ListTree(root.path() / "out"), std::set<std::string>{"small.bin"});
  ExpectIdle();
}

TEST_F(ExtractionRunTest, ASparseEntryReadsAsItsBytesHolesAndPartialSectorIncluded) {
  constexpr std::size_t kSectors = 20000;  // 39 MiB, a pattern sector every 8 MiB
  // The data file ends 100 bytes into the last sector the entry claims.
  WriteBytes(root.path() / "arc.dir", Record(0, kSectors + 1, "sparse.bin"));
  testing::WriteSparseData(root.path() / "arc.img", kSectors, 4096);
  {
    std::ofstream tail(root.path() / "arc.img", std::ios::binary | std::ios::app);
    tail.write(PatternBytes(100).data(), 100);
  }
  Run();
  EXPECT_EQ(w.form.captions.back(), kDone);
  const std::string expected =
      testing::SparseBytes(kSectors, 4096) + PatternBytes(100) + std::string(2048 - 100, '\0');
  EXPECT_TRUE(ReadBytes(root.path() / "out" / "sparse.bin") == expected);
}

}  // namespace
}  // namespace sectorsieve::ui
