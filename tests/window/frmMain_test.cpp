// The main window's handlers through the in-memory window: choosing the inputs, the rule that
// enables Extract, the About box and Quit. The existence checks run against real files.

#include <gtest/gtest.h>

#include <algorithm>

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

const std::string kSourceText = "[Select an img]";
const std::string kDestinationText = "[Select destination directory]";
const std::string kNotFoundText =
    "The associated .dir was not found.\r\n"
    "Please specify a .img with a .dir of the same name in the same folder.";

class MainWindowTest : public ::testing::Test {
 protected:
  // An archive pair base.img + base.dir (one entry per name, a sector each) in the temp folder.
  std::string Archive(const std::string& base, const std::vector<std::string>& names = {"a.bin"}) {
    std::string records;
    for (std::size_t i = 0; i < names.size(); ++i)
      records += Record(static_cast<std::int32_t>(i), 1, names[i]);
    WriteBytes(root.path() / (base + ".dir"), records);
    WriteBytes(root.path() / (base + ".img"), PatternBytes(names.size() * SECTOR_SIZE));
    return root / (base + ".img");
  }
  std::string Folder(const std::string& name) {
    fs::create_directory(root.path() / name);
    return root / name;
  }
  void ChooseSource(const std::string& path) {
    w.pickers.files.push_back(path);
    w.frm.cmdBrowseSource_Click();
  }
  void ChooseDestination(const std::string& path) {
    w.pickers.folders.push_back(path);
    w.frm.cmdBrowseDestination_Click();
  }

  TempDir root;
  MemoryWindow w{SystemFileSystem()};
};

struct PickerCase {
  const char* name;
  bool source;
  std::string request;
};

class CancelledPicker : public MainWindowTest, public ::testing::WithParamInterface<PickerCase> {};

TEST_P(CancelledPicker, ChangesNothingAndShowsNothing) {
  if (GetParam().source)
    w.frm.cmdBrowseSource_Click();
  else
    w.frm.cmdBrowseDestination_Click();

  EXPECT_EQ(w.pickers.requests, std::vector<std::string>{GetParam().request});
  EXPECT_EQ(w.lblSource.Text(), kSourceText);
  EXPECT_EQ(w.lblDestination.Text(), kDestinationText);
  EXPECT_TRUE(w.form.boxes.empty());
  EXPECT_FALSE(w.cmdExtract.Enabled());
}

INSTANTIATE_TEST_SUITE_P(
    Pickers, CancelledPicker,
    ::testing::Values(PickerCase{"OpenFile", true, "file:Select a .img to extract|*.img"},
                      PickerCase{"Folder", false, "folder:Select a destination folder"}),
    [](const auto& info) { return std::string(info.param.name); });

// A choice whose name the ANSI code page cannot hold names another file: refused with a box,
// and the box keeps what it had.
class UnusableChoice : public MainWindowTest, public ::testing::WithParamInterface<PickerCase> {};

TEST_P(UnusableChoice, IsRefusedWithABoxThatNamesIt) {
  ChooseSource(Archive("arc"));
  const std::string source = w.lblSource.Text();
  w.pickers.unconvertible = "C:\\??\\x";
  if (GetParam().source)
    w.frm.cmdBrowseSource_Click();
  else
    w.frm.cmdBrowseDestination_Click();

  const std::string kind = GetParam().source ? "file" : "folder";
  ASSERT_EQ(w.form.boxes.size(), 1u);
  EXPECT_EQ(w.form.boxes[0].title, "Name not usable");
  EXPECT_EQ(w.form.boxes[0].text, "The " + kind +
                                      " \"C:\\??\\x\" has characters in its name that this "
                                      "program cannot use.\r\nPlease choose another " +
                                      kind + ".");
  EXPECT_EQ(w.lblSource.Text(), source);
  EXPECT_EQ(w.lblDestination.Text(), kDestinationText);
  EXPECT_FALSE(w.cmdExtract.Enabled());
}

INSTANTIATE_TEST_SUITE_P(Pickers, UnusableChoice,
                         ::testing::Values(PickerCase{"OpenFile", true, ""},
                                           PickerCase{"Folder", false, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// Paths dropped on the window (or named on the command line) take the Browse buttons' checks.
TEST_F(MainWindowTest, DroppedPathsFillTheBoxesTheyBelongTo) {
  const std::string img = Archive("arc");
  WriteBytes(root.path() / "lonely.img", PatternBytes(SECTOR_SIZE));
  const std::string lonely = root / "lonely.img";
  const std::string folder = Folder("out");
  const std::string other = root / "arc.dir";
  const struct {
    std::vector<std::string> dropped;
    std::string source, destination;
    std::size_t boxes;
  } cases[] = {
      {{img}, img, kDestinationText, 0},
      {{folder}, kSourceText, folder, 0},
      {{folder, img}, img, folder, 0},
      {{other}, kSourceText, kDestinationText, 0},
      {{lonely}, kSourceText, kDestinationText, 1},
  };
  for (const auto& c : cases) {
    MemoryWindow fresh(SystemFileSystem());
    fresh.frm.DropPaths(c.dropped);
    EXPECT_EQ(fresh.lblSource.Text(), c.source) << c.dropped[0];
    EXPECT_EQ(fresh.lblDestination.Text(), c.destination) << c.dropped[0];
    EXPECT_EQ(fresh.form.boxes.size(), c.boxes) << c.dropped[0];
    EXPECT_EQ(fresh.cmdExtract.Enabled(), c.dropped.size() == 2);
  }
}

TEST_F(MainWindowTest, NothingDroppedIsTakenDuringARun) {
  const std::string img = Archive("arc");
  ChooseSource(img);
  ChooseDestination(Folder("out"));
  const std::string other = Archive("other");
  w.form.pendingEvents = [&](int) { w.frm.DropPaths({other, Folder("elsewhere")}); };
  w.frm.cmdExtract_Click();
  EXPECT_EQ(w.lblSource.Text(), img);
  EXPECT_EQ(w.lblDestination.Text(), (root.path() / "out").string() + "\\");
}

TEST_F(MainWindowTest, AFolderThatDoesNotExistIsRefusedWithABox) {
  const std::string missing = root / "missing";
  w.frm.AcceptDestination(missing);
  ASSERT_EQ(w.form.boxes.size(), 1u);
  EXPECT_EQ(w.form.boxes[0].title, "Folder not found");
  EXPECT_EQ(w.form.boxes[0].text, "The folder \"" + missing +
                                      "\" does not exist.\r\nPlease choose a folder that exists.");
  EXPECT_EQ(w.lblDestination.Text(), kDestinationText);
}

TEST_F(MainWindowTest, AnImgWithItsDirFillsTheSourceBox) {
  const std::string img = Archive("x");
  ChooseSource(img);
  EXPECT_EQ(w.lblSource.Text(), img);
  EXPECT_TRUE(w.form.boxes.empty());
  EXPECT_FALSE(w.cmdExtract.Enabled()) << "the destination is still missing";
  ChooseDestination(Folder("out"));
  EXPECT_TRUE(w.cmdExtract.Enabled());
}

struct RefusedCase {
  const char* name;
  std::string chosen;     // file name in the temp folder
  std::string dirBeside;  // what stands beside it: "file", "folder" or ""
  std::string dirName;
  bool message;  // the "File not found" box, or silence
};

class RefusedSource : public MainWindowTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedSource, LeavesTheEarlierChoiceAlone) {
  const RefusedCase& c = GetParam();
  const std::string earlier = Archive("earlier");
  ChooseDestination(Folder("out"));
  ChooseSource(earlier);
  ASSERT_TRUE(w.cmdExtract.Enabled());

  WriteBytes(root.path() / c.chosen, PatternBytes(SECTOR_SIZE));
  if (c.dirBeside == "file") WriteBytes(root.path() / c.dirName, Record(0, 1, "a.bin"));
  if (c.dirBeside == "folder") fs::create_directory(root.path() / c.dirName);
  ChooseSource(root / c.chosen);

  EXPECT_EQ(w.lblSource.Text(), earlier);
  EXPECT_TRUE(w.cmdExtract.Enabled());
  if (c.message) {
    ASSERT_EQ(w.form.boxes.size(), 1u);
    EXPECT_EQ(w.form.boxes[0].title, "File not found");
    EXPECT_EQ(w.form.boxes[0].text, kNotFoundText);
  } else {
    EXPECT_TRUE(w.form.boxes.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Choices, RefusedSource,
    ::testing::Values(RefusedCase{"MissingDir", "b.img", "", "", true},
                      RefusedCase{"FolderNamedLikeTheDir", "b.img", "folder", "b.dir", true},
                      RefusedCase{"UpperCaseExtension", "b.IMG", "file", "b.dir", false},
                      RefusedCase{"MixedCaseExtension", "b.Img", "file", "b.dir", false},
                      RefusedCase{"OtherExtension", "b.bin", "file", "b.dir", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, AMissingDirAsFirstChoiceKeepsTheInitialText) {
  WriteBytes(root.path() / "b.img", PatternBytes(SECTOR_SIZE));
  ChooseSource(root / "b.img");
  EXPECT_EQ(w.lblSource.Text(), kSourceText);
  ASSERT_EQ(w.form.boxes.size(), 1u);
  EXPECT_EQ(w.form.boxes[0].text, kNotFoundText);
  ChooseDestination(Folder("out"));
  EXPECT_FALSE(w.cmdExtract.Enabled()) << "the source box is not filled";
}

class ChoiceOrder : public MainWindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ChoiceOrder, EnablesExtractAtTheSecondChoice) {
  const bool sourceFirst = GetParam();
  const std::string img = Archive("x");
  const std::string out = Folder("out");
  if (sourceFirst)
    ChooseSource(img);
  else
    ChooseDestination(out);
  EXPECT_FALSE(w.cmdExtract.Enabled());
  if (sourceFirst)
    ChooseDestination(out);
  else
    ChooseSource(img);
  EXPECT_TRUE(w.cmdExtract.Enabled());
}

INSTANTIATE_TEST_SUITE_P(Orders, ChoiceOrder, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "SourceFirst" : "DestinationFirst");
});

TEST_F(MainWindowTest, ASecondChoiceReplacesTheTextAndExtractStaysEnabled) {
  ChooseSource(Archive("first"));
  ChooseDestination(Folder("one"));
  const std::string img = Archive("second");
  const std::string out = Folder("two");
  ChooseSource(img);
  ChooseDestination(out);
  EXPECT_EQ(w.lblSource.Text(), img);
  EXPECT_EQ(w.lblDestination.Text(), out);
  EXPECT_TRUE(w.cmdExtract.Enabled());
}

TEST_F(MainWindowTest, CancellingLaterLeavesExtractEnabled) {
  const std::string img = Archive("x");
  const std::string out = Folder("out");
  ChooseSource(img);
  ChooseDestination(out);
  w.frm.cmdBrowseSource_Click();
  w.frm.cmdBrowseDestination_Click();
  EXPECT_TRUE(w.cmdExtract.Enabled());
  EXPECT_EQ(w.lblSource.Text(), img);
  EXPECT_EQ(w.lblDestination.Text(), out);
}

struct AboutCase {
  Version version;
  std::string firstLine;
};

class AboutBox : public ::testing::TestWithParam<AboutCase> {};

TEST_P(AboutBox, NamesTheVersionThenTheCreditsOnTheirOwnLines) {
  TempDir root;
  MemoryWindow w(SystemFileSystem(), GetParam().version);
  w.frm.mnuAbout_Click();
  ASSERT_EQ(w.form.boxes.size(), 1u);
  EXPECT_EQ(w.form.boxes[0].title, "About...");

  std::vector<std::string> lines;
  const std::string& text = w.form.boxes[0].text;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  ASSERT_EQ(lines.size(), 6u) << text;
  EXPECT_EQ(lines[0], GetParam().firstLine);
  EXPECT_EQ(lines[1], "");
  EXPECT_NE(lines[2], "");
  EXPECT_EQ(lines[3], "");
  EXPECT_NE(lines[4].find("20"), std::string::npos) << "the second credit line carries the year";
  EXPECT_NE(lines[5].find('@'), std::string::npos) << "the contact line is an e-mail address";
  EXPECT_EQ(w.form.captions.size(), 1u) << "the box changes nothing in the window";
}

INSTANTIATE_TEST_SUITE_P(Versions, AboutBox,
                         ::testing::Values(AboutCase{{1, 0}, "SectorSieve 1.0"},
                                           AboutCase{{1, 5}, "SectorSieve 1.5"},
                                           AboutCase{{2, 10}, "SectorSieve 2.10"}));

TEST_F(MainWindowTest, QuitUnloadsAtOnceWithoutAQuestion) {
  ChooseSource(Archive("x"));
  w.frm.mnuQuit_Click();
  EXPECT_TRUE(w.form.unloaded);
  EXPECT_TRUE(w.form.boxes.empty());
}

TEST_F(MainWindowTest, ExtractIsNeverEnabledWhileARunGoesOn) {
  ChooseSource(Archive("x", {"a.bin", "b.bin", "c.bin"}));
  ChooseDestination(Folder("out"));
  const std::string other = Folder("other");
  std::vector<bool> enabledDuringRun;
  w.form.pendingEvents = [&](int call) {
    // A change raised during the run marks the box filled and asks the rule again.
    if (call == 1) w.lblDestination.SetText(other);
    enabledDuringRun.push_back(w.cmdExtract.Enabled());
  };
  w.frm.cmdExtract_Click();

  EXPECT_EQ(enabledDuringRun, std::vector<bool>(3, false));
  EXPECT_TRUE(w.cmdExtract.Enabled()) << "the run enables it again at its end";
  EXPECT_EQ(w.form.captions.back(), "Extracted! Thanks Sectorsieve!");
}

TEST_F(MainWindowTest, QuitDuringARunUnloadsOnceTheEntryInHandIsWritten) {
  ChooseSource(Archive("x", {"a.bin", "b.bin", "c.bin"}));
  const std::string out = Folder("out");
  ChooseDestination(out);
  bool unloadedInsideTheMenu = true;
  w.form.pendingEvents = [&](int call) {
    if (call != 2) return;
    w.frm.mnuQuit_Click();
    unloadedInsideTheMenu = w.form.unloaded;
  };
  w.frm.cmdExtract_Click();

  EXPECT_FALSE(unloadedInsideTheMenu);
  EXPECT_TRUE(w.form.unloaded);
  EXPECT_EQ(ListTree(out), std::set<std::string>{"a.bin"});
  EXPECT_TRUE(w.form.boxes.empty());
}

TEST_F(MainWindowTest, ContentsOpensOnlyOnceAnArchiveIsChosen) {
  EXPECT_FALSE(w.mnuContents.Enabled());
  w.frm.mnuContents_Click();
  EXPECT_TRUE(w.form.contents.empty()) << "a click the menu could not send opens nothing";
  const std::string img = Archive("x");
  ChooseSource(img);
  EXPECT_TRUE(w.mnuContents.Enabled());
  EXPECT_FALSE(w.cmdExtract.Enabled()) << "the contents leave Extract's rule as it was";
  w.frm.mnuContents_Click();
  EXPECT_EQ(w.form.contents, std::vector<std::string>{img});
}

struct PickedRunCase {
  const char* name;
  bool destinationChosen;
  std::vector<std::string> pickerFolders;  // what the folder picker answers, if asked
  std::set<std::string> written;
  std::string caption;
  bool escapeWhilePicking = false;
};

TEST_F(MainWindowTest, ExtractPickedRunsTheSameRunOverThePickedEntries) {
  const PickedRunCase cases[] = {
      {"into the destination chosen",
       true,
       {},
       {"b.bin", "c.bin"},
       "Extracted! Thanks Sectorsieve!"},
      {"into a folder asked for",
       false,
       {"out"},
       {"b.bin", "c.bin"},
       "Extracted! Thanks Sectorsieve!"},
      {"not when the picker is cancelled", false, {}, {}, kStartCaption},
      {"stopped by Escape while picking", true, {}, {}, "Extraction stopped", true},
  };
  for (const PickedRunCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    MemoryWindow window{SystemFileSystem()};
    const auto archive = [&] {
      std::string records;
      for (int i = 0; i < 3; ++i) records += Record(i, 1, std::string(1, 'a' + i) + ".bin");
      WriteBytes(root.path() / "x.dir", records);
      WriteBytes(root.path() / "x.img", PatternBytes(3 * SECTOR_SIZE));
      return root / "x.img";
    };
    fs::create_directory(root.path() / "out");
    window.pickers.files.push_back(archive());
    window.frm.cmdBrowseSource_Click();
    if (c.destinationChosen) {
      window.pickers.folders.push_back(root / "out");
      window.frm.cmdBrowseDestination_Click();
    }
    for (const std::string& folder : c.pickerFolders)
      window.pickers.folders.push_back(root / folder);
    std::size_t loaded = 0;
    if (c.escapeWhilePicking) window.form.pendingEvents = [&](int) { window.frm.Form_KeyEscape(); };
    window.frm.ExtractPicked([&](const sectorsieve::Archive& value, const KeepGoing& keepGoing) {
      loaded = value.size();
      // A long pick asks between its pieces, and the window's events are taken meanwhile.
      if (!keepGoing()) return std::optional(std::vector<std::size_t>{1});
      return std::optional<std::vector<std::size_t>>({1, 2});
    });
    EXPECT_EQ(ListTree(root.path() / "out"), c.written);
    EXPECT_EQ(window.form.captions.back(), c.caption);
    EXPECT_EQ(loaded, c.written.empty() && !c.escapeWhilePicking ? 0u : 3u);
    if (!c.written.empty()) {
      EXPECT_EQ(window.form.taskbarTotal, 2) << "the taskbar counts the entries picked";
      EXPECT_TRUE(window.cmdExtract.Enabled());
    }
  }
}

}  // namespace
}  // namespace sectorsieve::ui
