// Copying entries out of the data file: contents, names, bounds and replacement of old files.

#include <gtest/gtest.h>

#include <optional>

#include "extract_one.h"
#include "modArchive.h"
#include "test_support.h"

namespace sectorsieve {
namespace {

namespace fs = std::filesystem;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::Record;
using testing::TempDir;
using testing::WriteBytes;

constexpr std::size_t kSector = SECTOR_SIZE;

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(root.path() / "out"); }

  // Writes the archive pair and loads its directory.
  void Archive(const std::string& dirBytes, const std::string& imgBytes) {
    WriteBytes(root.path() / "arc.dir", dirBytes);
    WriteBytes(root.path() / "arc.img", imgBytes);
    loaded = archive.LoadDirectory(root / "arc");
  }

  // Extracts the entry with the given index; returns the failure's reason, if any.
  std::optional<std::string> Extract(const std::string& id) {
    try {
      testing::ExtractOne(archive, loaded, std::stoul(id), Destination());
      return std::nullopt;
    } catch (const EntryError& e) {
      return e.reason();
    }
  }

  std::string Destination() const { return (root.path() / "out").string() + "\\"; }
  fs::path Out(const std::string& name) const { return root.path() / "out" / name; }

  TempDir root;
  modArchive archive{SystemFileSystem()};
  sectorsieve::Archive loaded;
};

TEST_F(ExtractTest, WritesExactlyTheEntrysSectors) {
  const std::string img = PatternBytes(10 * kSector);
  Archive(Record(5, 3, "abc.dff"), img);
  EXPECT_EQ(Extract("0"), std::nullopt);
  EXPECT_EQ(ReadBytes(Out("abc.dff")), img.substr(10240, 6144));
}

TEST_F(ExtractTest, OutputNameEndsAtTheFirstSpace) {
  const std::string img = PatternBytes(4 * kSector);
  const struct {
    std::string field, file;
    std::int32_t offset;
  } cases[] = {
      {"my file.txt", "my", 0},
      {"abcdefghijklmnopqrstuvwx", "abcdefghijklmnopqrstuvwx", 1},
      {"size0", "size0", 2},
  };
  Archive(
      Record(0, 1, cases[0].field) + Record(1, 1, cases[1].field) + Record(2, 0, cases[2].field),
      img);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(Extract(std::to_string(i)), std::nullopt) << cases[i].field;
    const std::size_t size = cases[i].file == "size0" ? 0 : kSector;
    EXPECT_EQ(ReadBytes(Out(cases[i].file)), img.substr(cases[i].offset * kSector, size));
  }
  EXPECT_EQ(testing::ListTree(root.path() / "out"),
            (std::set<std::string>{"my", "abcdefghijklmnopqrstuvwx", "size0"}));
}

TEST_F(ExtractTest, LaterEntryWithTheSameNameReplacesTheEarlierOne) {
  const std::string img = PatternBytes(3 * kSector);
  Archive(Record(0, 2, "same one") + Record(2, 1, "same two"), img);
  EXPECT_EQ(Extract("0"), std::nullopt);
  EXPECT_EQ(Extract("1"), std::nullopt);
  EXPECT_EQ(ReadBytes(Out("same")), img.substr(2 * kSector, kSector));
}

TEST_F(ExtractTest, ExistingLongerFileKeepsNoStaleTail) {
  const std::string img = PatternBytes(kSector);
  WriteBytes(Out("old.bin"), std::string(5 * kSector, 'X'));
  Archive(Record(0, 1, "old.bin"), img);
  EXPECT_EQ(Extract("0"), std::nullopt);
  EXPECT_EQ(ReadBytes(Out("old.bin")), img);
}

TEST_F(ExtractTest, BoundsAreCheckedAgainstTheDataFile) {
  const std::string img = PatternBytes(4 * kSector + 100);  // final sector holds 100 bytes
  const std::string beyond = "lies beyond the end of the archive";
  const struct {
    std::int32_t offset, size;
    std::optional<std::string> failure;
    std::string contents;  // when written
  } cases[] = {
      {0, 4, std::nullopt, img.substr(0, 4 * kSector)},
      {3, 2, std::nullopt, img.substr(3 * kSector) + std::string(kSector - 100, '\0')},
      {4, 1, std::nullopt, img.substr(4 * kSector) + std::string(kSector - 100, '\0')},
      {4, 2, beyond, ""},
      {3, 3, beyond, ""},
      {5, 0, std::nullopt, ""},
      {6, 0, beyond, ""},
      {5, 1, beyond, ""},
      {2147483647, 1, beyond, ""},
      {0, 2147483647, beyond, ""},
      {1048576, 1, beyond, ""},
      {-1, 1, "has a negative offset", ""},
      {-2147483647 - 1, 1, "has a negative offset", ""},
      {0, -1, "has a negative size", ""},
  };
  std::string dirBytes;
  for (std::size_t i = 0; i < std::size(cases); ++i)
    dirBytes += Record(cases[i].offset, cases[i].size, "e" + std::to_string(i));
  Archive(dirBytes, img);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string name = "e" + std::to_string(i);
    EXPECT_EQ(Extract(std::to_string(i)), cases[i].failure) << name;
    if (cases[i].failure) {
      EXPECT_FALSE(fs::exists(Out(name))) << name;
    } else {
      EXPECT_EQ(ReadBytes(Out(name)), cases[i].contents) << name;
    }
  }
}

TEST_F(ExtractTest, FailedEntryLeavesAnEarlierFileUntouched) {
  WriteBytes(Out("keep.bin"), "earlier contents");
  Archive(Record(9, 1, "keep.bin"), PatternBytes(kSector));
  EXPECT_EQ(Extract("0"), "lies beyond the end of the archive");
  EXPECT_EQ(ReadBytes(Out("keep.bin")), "earlier contents");
  EXPECT_EQ(testing::ListTree(root.path() / "out"), (std::set<std::string>{"keep.bin"}));
}

TEST_F(ExtractTest, EntriesPastTwoGibibytesAreRead) {
  // Sparse data file: sectors up to the largest offset a record can name.
  const std::int64_t sectors[] = {1048575, 1048576, 2147483646};
  {
    std::fstream img(root.path() / "arc.img", std::ios::binary | std::ios::out | std::ios::trunc);
    for (std::int64_t s : sectors) {
      img.seekp(s * static_cast<std::int64_t>(kSector));
      const std::string marker = "sector " + std::to_string(s);
      img.write(marker.data(), static_cast<std::streamsize>(marker.size()));
    }
  }
  std::error_code error;
  fs::resize_file(root.path() / "arc.img", (std::uintmax_t{2147483647} + 1) * kSector, error);
  if (error) GTEST_SKIP() << "no sparse files of 4 TiB here: " << error.message();
  std::string dirBytes;
  for (std::int64_t s : sectors)
    dirBytes += Record(static_cast<std::int32_t>(s), 1, "s" + std::to_string(s));
  dirBytes += Record(2147483647, 1, "last");
  WriteBytes(root.path() / "arc.dir", dirBytes);
  loaded = archive.LoadDirectory(root / "arc");
  for (std::size_t i = 0; i < std::size(sectors); ++i) {
    const std::string name = "s" + std::to_string(sectors[i]);
    EXPECT_EQ(Extract(std::to_string(i)), std::nullopt) << name;
    std::string expected = "sector " + std::to_string(sectors[i]);
    expected.resize(kSector, '\0');
    EXPECT_EQ(ReadBytes(Out(name)), expected) << name;
  }
  EXPECT_EQ(Extract("3"), std::nullopt);
  EXPECT_EQ(ReadBytes(Out("last")), std::string(kSector, '\0'));
}

TEST_F(ExtractTest, UnusableArchiveOrDestinationStopsTheRun) {
  Archive(Record(0, 1, "a"), PatternBytes(kSector));
  EXPECT_THROW(testing::ExtractOne(archive, loaded, 0, (root.path() / "nowhere").string() + "\\"),
               RunError);
  archive.CloseArchive();
  fs::remove(root.path() / "arc.img");
  EXPECT_THROW(testing::ExtractOne(archive, loaded, 0, Destination()), RunError);
  EXPECT_FALSE(fs::exists(Out("a")));
}

TEST_F(ExtractTest, ADataFileReplacedAfterTheDirectoryWasReadStopsTheRun) {
  Archive(Record(0, 1, "a"), PatternBytes(kSector));
  WriteBytes(root.path() / "new.img", PatternBytes(kSector, 7));
  fs::rename(root.path() / "new.img", root.path() / "arc.img");
  try {
    testing::ExtractOne(archive, loaded, 0, Destination());
    ADD_FAILURE() << "the run went on";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("was replaced after its directory was read"),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(fs::exists(Out("a")));
}

TEST_F(ExtractTest, SubfolderNamesWorkOnlyWhereTheFolderExists) {
  const std::string img = PatternBytes(2 * kSector);
  fs::create_directory(Out("sub"));
  Archive(Record(0, 1, "sub\\inner.bin") + Record(1, 1, "nosub\\inner.bin"), img);
  EXPECT_EQ(Extract("0"), std::nullopt);
  EXPECT_EQ(ReadBytes(Out("sub") / "inner.bin"), img.substr(0, kSector));
  const auto failure = Extract("1");
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->rfind("could not be saved as", 0), 0u) << *failure;
  EXPECT_EQ(testing::ListTree(root.path() / "out"),
            (std::set<std::string>{"sub/", "sub/inner.bin"}));
}

}  // namespace
}  // namespace sectorsieve
