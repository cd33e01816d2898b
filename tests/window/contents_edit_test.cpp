// What the contents window hands the core's changes and the texts it asks and tells, without a
// window, against archives read from real files.

#include "contents_edit.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace sectorsieve::ui {
namespace {

using testing::AsciiOnly;
using testing::Entry;
using testing::TempDir;

// 3 is 1 in other capitals; 5 is a name whose "*" matches 4 too; 6 does not convert.
const std::vector<Entry> kEntries = {
    {"b.txt", 0, 1}, {"A.bin", 1, 3}, {"c.TXT", 4, 2},    {"a.BIN", 7, 1},
    {"xay", 8, 1},   {"x*y", 8, 1},   {"\xE9.txt", 9, 1},
};

class ContentsEditTest : public ::testing::Test {
 protected:
  ContentsEditTest() {
    testing::WriteArchive(root.path() / "a", kEntries, 10);
    value = ArchiveReader(fs).LoadDirectory(root / "a");
  }
  NameTools Tools() const {
    return {fs.Ansi(), AsciiOnly, [](std::string_view name) { return std::string(name); },
            AsciiOnly};
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Archive::Entry& entry : ArchiveReader(fs).LoadDirectory(root / "a"))
      names.emplace_back(entry.FileName());
    return names;
  }

  TempDir root;
  FileSystem& fs = SystemFileSystem();
  Archive value;
};

TEST_F(ContentsEditTest, NamesEachNameOnceAndRefusesNamesThatWouldTakeOthers) {
  struct Case {
    std::vector<std::string_view> selected;
    std::vector<std::string> patterns;
    std::size_t entries;
    std::string refusal;
  };
  const Case cases[] = {
      {{"b.txt"}, {"b.txt"}, 1, ""},
      {{"A.bin", "a.BIN", "c.TXT"}, {"A.bin", "c.TXT"}, 3, ""},
      {{"xay"}, {"xay"}, 1, ""},
      {{"x*y"},
       {"x*y"},
       1,
       "\"x*y\" would take \"xay\" along: its \"*\" or \"?\" stands for any "
       "character"},
      {{"x*y", "xay"}, {"x*y", "xay"}, 2, ""},
      {{"\xE9.txt"},
       {},
       0,
       "\"\xE9.txt\" has bytes that code page 1252 does not convert: change "
       "it with the command line, by a pattern"},
  };
  for (const Case& c : cases) {
    const Named named = NameEntries(value, c.selected, Tools());
    EXPECT_EQ(named.refusal, c.refusal) << c.selected.front();
    if (!c.refusal.empty()) continue;
    EXPECT_EQ(named.patterns, c.patterns) << c.selected.front();
    EXPECT_EQ(named.entries, c.entries) << c.selected.front();
  }
}

TEST_F(ContentsEditTest, RemovesThroughTheCoreJustTheEntriesOfTheNamesSelected) {
  const Named named = NameEntries(value, {"a.BIN", "xay"}, Tools());
  ASSERT_EQ(named.refusal, "");
  const RemoveOutcome removed = RemoveEntries(fs, value.Paths(), named.patterns, AsciiOnly);
  EXPECT_EQ(removed.removed, named.entries);
  EXPECT_EQ(Names(), (std::vector<std::string>{"b.txt", "c.TXT", "x*y", "\xE9.txt"}));
}

TEST_F(ContentsEditTest, ChecksANewNameAsRenameDoes) {
  struct Case {
    std::string_view typed;
    std::string name;
    std::string refusal;
  };
  const Case cases[] = {
      {"new.txt", "new.txt", ""},
      {"B.TXT", "B.TXT", ""},  // another case of its own name
      {"a-name-longer-than-24.txt", "",
       "\"a-name-longer-than-24.txt\" cannot be an entry's name: its name is longer than 24 "
       "bytes"},
      {"two words", "", "\"two words\" cannot be an entry's name: its name holds a space"},
      {"sub\\x.txt", "", "\"sub\\x.txt\" cannot be an entry's name: its name holds a \"\\\""},
      {"\xC3\xA9.txt", "",
       "\"\xC3\xA9.txt\" has characters that code page 1252 cannot hold exactly"},
  };
  for (const Case& c : cases) {
    const Renaming renaming = RenameEntry(value, "b.txt", c.typed, Tools());
    EXPECT_EQ(renaming.refusal, c.refusal) << c.typed;
    EXPECT_EQ(renaming.name, c.name) << c.typed;
    EXPECT_EQ(renaming.pattern, c.refusal.empty() ? "b.txt" : "") << c.typed;
  }
  EXPECT_TRUE(RenameEntry(value, "b.txt", "b.txt", Tools()).Unchanged());
  // The name of an entry whose "*" takes another along is refused, whatever the new name.
  EXPECT_NE(RenameEntry(value, "x*y", "z", Tools()).refusal, "");
}

TEST_F(ContentsEditTest, AddsFilesWhoseNamesAnEntryTakesAndNamesTheEntriesReplaced) {
  const std::vector<std::string> paths = {"d/B.TXT",     "d/new.bin", "d/a.bin",
                                          "d/two words", "d/c.txt",   "d/sub"};
  const Adding adding = AddFilesOf(
      value, paths, [](const std::string& path) { return path.rfind('/') + 1; },
      [](const std::string& path) { return path == "d/sub" ? "it is a folder" : ""; }, Tools());
  std::vector<std::string> names;
  for (const AddedFile& file : adding.files) {
    names.push_back(file.name);
    EXPECT_EQ(file.source, "d/" + file.leaf);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"B.TXT", "new.bin", "a.bin", "c.txt"}));
  EXPECT_EQ(adding.refused,
            (std::vector<std::string>{"cannot add \"d/two words\": \"two words\" cannot be an "
                                      "entry's name: its name holds a space",
                                      "cannot read \"d/sub\": it is a folder"}));
  EXPECT_EQ(adding.replaced, (std::vector<std::string>{"b.txt", "A.bin", "c.TXT"}));
  EXPECT_EQ(ReplaceQuestion(adding), "Replace 3 entries?\r\n\r\nb.txt\r\nA.bin\r\nc.TXT");
  EXPECT_EQ(RefusedQuestion(adding),
            adding.refused[0] + "\r\n" + adding.refused[1] + "\r\n\r\nAdd the other 4 files?");
  EXPECT_EQ(RefusedQuestion({{}, {adding.refused[0]}, {}}), adding.refused[0]);
}

// Many, one, and more than the question lists.
TEST(ContentsEditTexts, SayHowMany) {
  EXPECT_EQ(RemoveQuestion(1, "a.img"), "Remove 1 entry from a.img? This cannot be undone.");
  EXPECT_EQ(RemoveQuestion(1234, "a.img"),
            "Remove 1,234 entries from a.img? This cannot be undone.");
  EXPECT_EQ(CompactedNotice(1), "Compacted: freed 1 byte.");
  EXPECT_EQ(AddedNotice(1, 0), "Added 1 file: 1 new, 0 replaced.");
  Adding many;
  for (int i = 0; i < 12; ++i) many.replaced.push_back("n" + std::to_string(i));
  const std::string question = ReplaceQuestion(many);
  EXPECT_TRUE(question.starts_with("Replace 12 entries?\r\n\r\nn0\r\n")) << question;
  EXPECT_TRUE(question.ends_with("\r\nn9\r\nand 2 more")) << question;
}

}  // namespace
}  // namespace sectorsieve::ui
