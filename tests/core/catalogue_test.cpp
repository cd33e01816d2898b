// Reading the directory file into the catalogue, and the text helpers it relies on.

#include <gtest/gtest.h>

#include "modArchive.h"
#include "test_support.h"

namespace sectorsieve {
namespace {

using testing::Record;
using testing::TempDir;
using testing::WriteBytes;

std::string S(const char* bytes, std::size_t n) { return std::string(bytes, n); }

TEST(StripNulls, DropsNulAndDleWhereverTheyStand) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"abc.dff", "abc.dff"},
      {S("abc\0xyz", 7), "abcxyz"},
      {S("\0a\x10"
         "b\0",
         5),
       "ab"},
      {S("\x0f\x11 \x01", 4), S("\x0f\x11 \x01", 4)},
  };
  for (const auto& c : cases) EXPECT_EQ(StripNulls(c.in), c.out) << c.in;
}

TEST(SpacesToNulls, ReplacesEverySpaceAndNothingElse) {
  const struct {
    std::string in, out;
  } cases[] = {{"a b", S("a\0b", 3)}, {"abc", "abc"}, {"", ""}, {"  ", S("\0\0", 2)}};
  for (const auto& c : cases) EXPECT_EQ(SpacesToNulls(c.in), c.out) << c.in;
}

TEST(ImgFile, NameIsAFixedFieldOf24Characters) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"x", "x" + std::string(23, ' ')},
      {std::string(30, 'n'), std::string(24, 'n')},
      {"", std::string(24, ' ')},
  };
  for (const auto& c : cases) {
    clsImgFile entry;
    entry.set_sName(c.in);
    EXPECT_EQ(entry.sName(), c.out) << c.in;
  }
}

class LoadDirectoryTest : public ::testing::Test {
 protected:
  void Load(const std::string& dirBytes) {
    WriteBytes(dir / "arc.dir", dirBytes);
    archive.LoadDirectory(dir / "arc");
  }
  std::vector<const clsImgFile*> Entries() const {
    std::vector<const clsImgFile*> out;
    for (const auto& e : archive.gEntries) out.push_back(&e);
    return out;
  }

  TempDir dir;
  modArchive archive{SystemFileSystem()};
};

TEST_F(LoadDirectoryTest, EmptyDirectoryGivesEmptyCatalogueAndClosesTheFile) {
  Load("");
  EXPECT_EQ(archive.gEntries.Count(), 0u);
  // A file still held open could not be removed on Windows.
  std::filesystem::remove(dir.path() / "arc.dir");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "arc.dir"));
}

TEST_F(LoadDirectoryTest, RecordsBecomeEntriesInFileOrder) {
  Load(Record(0, 1, "first.bin") + Record(-7, 2147483647, "second") +
       Record(1048576, -1, "third.txt"));
  const auto entries = Entries();
  ASSERT_EQ(entries.size(), 3u);
  const struct {
    const char* id;
    std::int32_t offset, size;
    const char* name;
  } expected[] = {
      {"0", 0, 1, "first.bin"}, {"1", -7, 2147483647, "second"}, {"2", 1048576, -1, "third.txt"}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(entries[i]->sId(), expected[i].id);
    EXPECT_EQ(entries[i]->lOffset(), expected[i].offset);
    EXPECT_EQ(entries[i]->lSize(), expected[i].size);
    EXPECT_EQ(entries[i]->sName().substr(0, entries[i]->sName().find(' ')), expected[i].name);
    EXPECT_EQ(archive.gEntries.Item(expected[i].id), entries[i]);
  }
  EXPECT_EQ(archive.gEntries.Item("3"), nullptr);
}

TEST_F(LoadDirectoryTest, NameFieldsAreCleanedAndPadded) {
  const struct {
    std::string field;  // the 24 bytes as stored
    std::string name;   // sName afterwards
  } cases[] = {
      {"abc.dff" + std::string(17, '\0'), "abc.dff" + std::string(17, ' ')},
      {S("abc\0xyz", 7) + std::string(17, '\0'), "abcxyz" + std::string(18, ' ')},
      {"abcdefghijklmnopqrstuvwx", "abcdefghijklmnopqrstuvwx"},
      {std::string(24, '\0'), std::string(24, ' ')},
      {S("ab\x10"
         "cd",
         5) +
           std::string(19, '\0'),
       "abcd" + std::string(20, ' ')},
  };
  std::string dirBytes;
  for (const auto& c : cases) dirBytes += testing::Int32LE(0) + testing::Int32LE(0) + c.field;
  Load(dirBytes);
  const auto entries = Entries();
  ASSERT_EQ(entries.size(), std::size(cases));
  for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i]->sName(), cases[i].name);
}

TEST_F(LoadDirectoryTest, TrailingFragmentIsNeverAnEntry) {
  for (std::size_t fragment : {1u, 15u, 16u, 17u, 31u}) {
    Load(Record(0, 1, "a") + Record(1, 1, "b") + std::string(fragment, 'z'));
    EXPECT_EQ(archive.gEntries.Count(), 2u) << "fragment of " << fragment << " bytes";
  }
}

TEST_F(LoadDirectoryTest, ManyRecordsAcrossReadChunks) {
  std::string dirBytes;
  for (int i = 0; i < 5000; ++i) dirBytes += Record(i, 1, "f" + std::to_string(i));
  Load(dirBytes);
  ASSERT_EQ(archive.gEntries.Count(), 5000u);
  const clsImgFile* last = archive.gEntries.Item("4999");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->lOffset(), 4999);
  EXPECT_EQ(last->sName().substr(0, 5), "f4999");
}

TEST_F(LoadDirectoryTest, LoadingAgainReplacesTheCatalogue) {
  Load(Record(0, 1, "a") + Record(1, 1, "b"));
  Load(Record(0, 1, "c"));
  const auto entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->sName()[0], 'c');
  EXPECT_EQ(archive.gEntries.Item("1"), nullptr);
}

TEST_F(LoadDirectoryTest, MissingDirectoryStopsTheRunWithItsPath) {
  Load(Record(0, 1, "a"));
  try {
    archive.LoadDirectory(dir / "missing");
    FAIL() << "no error";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.dir"), std::string::npos) << e.what();
  }
  EXPECT_EQ(archive.gEntries.Count(), 0u);
}

}  // namespace
}  // namespace sectorsieve
