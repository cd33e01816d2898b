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

TEST(FileNameOf, EndsAtTheFirstSpaceOrNul) {
  const struct {
    std::string in, out;
  } cases[] = {{"a b", "a"}, {"abc", "abc"}, {"", ""}, {"  ", ""}, {S("a\0b c", 5), "a"}};
  for (const auto& c : cases) EXPECT_EQ(FileNameOf(c.in), c.out) << c.in;
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
    loaded = archive.LoadDirectory(dir / "arc");
  }

  TempDir dir;
  modArchive archive{SystemFileSystem()};
  Archive loaded;
};

TEST_F(LoadDirectoryTest, EmptyDirectoryGivesEmptyArchiveAndClosesTheFile) {
  Load("");
  EXPECT_EQ(loaded.size(), 0u);
  // A file still held open could not be removed on Windows.
  std::filesystem::remove(dir.path() / "arc.dir");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "arc.dir"));
}

TEST_F(LoadDirectoryTest, RecordsBecomeEntriesInFileOrder) {
  Load(Record(0, 1, "first.bin") + Record(-7, 2147483647, "second") +
       Record(1048576, -1, "third.txt"));
  ASSERT_EQ(loaded.size(), 3u);
  const struct {
    const char* id;
    std::int32_t offset, size;
    const char* name;
  } expected[] = {
      {"0", 0, 1, "first.bin"}, {"1", -7, 2147483647, "second"}, {"2", 1048576, -1, "third.txt"}};
  for (std::size_t i = 0; i < 3; ++i) {
    const clsImgFile& record = loaded[i].Record();
    EXPECT_EQ(record.sId(), expected[i].id);
    EXPECT_EQ(record.lOffset(), expected[i].offset);
    EXPECT_EQ(record.lSize(), expected[i].size);
    EXPECT_EQ(loaded[i].FileName(), expected[i].name);
  }
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
  ASSERT_EQ(loaded.size(), std::size(cases));
  for (std::size_t i = 0; i < loaded.size(); ++i)
    EXPECT_EQ(loaded[i].Record().sName(), cases[i].name);
}

TEST_F(LoadDirectoryTest, TrailingFragmentIsNeverAnEntry) {
  for (std::size_t fragment : {1u, 15u, 16u, 17u, 31u}) {
    Load(Record(0, 1, "a") + Record(1, 1, "b") + std::string(fragment, 'z'));
    EXPECT_EQ(loaded.size(), 2u) << "fragment of " << fragment << " bytes";
  }
}

TEST_F(LoadDirectoryTest, ManyRecordsAcrossReadChunks) {
  std::string dirBytes;
  for (int i = 0; i < 5000; ++i) dirBytes += Record(i, 1, "f" + std::to_string(i));
  Load(dirBytes);
  ASSERT_EQ(loaded.size(), 5000u);
  EXPECT_EQ(loaded[4999].Record().lOffset(), 4999);
  EXPECT_EQ(loaded[4999].FileName(), "f4999");
}

TEST_F(LoadDirectoryTest, MissingDirectoryStopsTheRunWithItsPath) {
  try {
    archive.LoadDirectory(dir / "missing");
    FAIL() << "no error";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.dir"), std::string::npos) << e.what();
  }
}

// Each entry carries what extraction will make of it, decided once against the data file.
TEST_F(LoadDirectoryTest, EveryEntryCarriesItsDecision) {
  WriteBytes(dir.path() / "arc.img", std::string(3 * SECTOR_SIZE, 'x'));
  Load(Record(1, 2, "sub\\a.bin keep") + Record(2, 2, "late.bin") + Record(-1, 1, "neg") +
       Record(0, 1, "CON.txt") + Record(3, 0, "empty-at-end"));
  const struct {
    std::string name, refusal;
    std::int64_t start, bytes;
  } expected[] = {
      {"sub\\a.bin", "", SECTOR_SIZE, 2 * SECTOR_SIZE},
      {"late.bin", "lies beyond the end of the archive", 2 * SECTOR_SIZE, 2 * SECTOR_SIZE},
      {"neg", "has a negative offset", -SECTOR_SIZE, SECTOR_SIZE},
      {"CON.txt", "has a name reserved for a device", 0, SECTOR_SIZE},
      {"empty-at-end", "", 3 * SECTOR_SIZE, 0},
  };
  ASSERT_EQ(loaded.size(), std::size(expected));
  EXPECT_EQ(loaded.DataSize(), 3 * SECTOR_SIZE);
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    EXPECT_EQ(loaded[i].FileName(), expected[i].name);
    EXPECT_EQ(loaded.Refusal(loaded[i]), expected[i].refusal) << expected[i].name;
    EXPECT_EQ(loaded[i].Refused(), !expected[i].refusal.empty()) << expected[i].name;
    EXPECT_EQ(loaded[i].Start(), expected[i].start) << expected[i].name;
    EXPECT_EQ(loaded[i].Bytes(), expected[i].bytes) << expected[i].name;
  }
}

TEST_F(LoadDirectoryTest, MissingDataFileIsToldButEntriesStillLoad) {
  Load(Record(0, 1, "a") + Record(-1, 1, "b"));
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_NE(loaded.DataFailure().find("arc.img"), std::string::npos) << loaded.DataFailure();
  EXPECT_FALSE(loaded[0].Refused());
  EXPECT_EQ(loaded.Refusal(loaded[1]), "has a negative offset");
}

}  // namespace
}  // namespace sectorsieve
