#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive_change.h"
#include "archive_writer.h"
#include "edit_model.h"
#include "extraction_run.h"
#include "imgpack.h"
#include "modArchive.h"
#include "test_support.h"
#include "unix_link.h"

namespace sectorsieve::imgpack {
namespace {

namespace fs = std::filesystem;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::Record;
using testing::WriteBytes;

// Packs folder into the archive of base with its file names' bytes as they are.
std::size_t PackInto(const fs::path& folder, const fs::path& base,
                     const KeepGoing& keepGoing = {}) {
  return PackFolder(
      testing::ModelFiles(), testing::Utf8Path(folder), ArchivePathsOf(testing::Utf8Path(base)),
      [](const std::string& file) { return std::optional<std::string>(file); }, keepGoing);
}

class Packer : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(In()); }

  void Pack(const KeepGoing& keepGoing = {}) { PackInto(In(), Base(), keepGoing); }

  fs::path In() const { return root_.path() / "in"; }
  fs::path Base() const { return root_.path() / "packed"; }
  fs::path Img() const { return root_.path() / "packed.img"; }
  fs::path Dir() const { return root_.path() / "packed.dir"; }

  testing::TempDir root_;
};

TEST_F(Packer, WritesRecordsInNameOrderAndPadsSectors) {
  const std::string b = PatternBytes(3000, 1);
  const std::string a = PatternBytes(10, 2);
  WriteBytes(In() / "b.bin", b);
  WriteBytes(In() / "a.txt", a);

  Pack();

  EXPECT_EQ(ReadBytes(Dir()), Record(0, 1, "a.txt") + Record(1, 2, "b.bin"));
  EXPECT_EQ(ReadBytes(Img()), testing::Sectors(a) + testing::Sectors(b));
}

TEST_F(Packer, EmptyFileTakesNoSector) {
  WriteBytes(In() / "empty", "");
  WriteBytes(In() / "full", PatternBytes(2048, 3));

  Pack();

  EXPECT_EQ(ReadBytes(Dir()), Record(0, 0, "empty") + Record(0, 1, "full"));
  EXPECT_EQ(ReadBytes(Img()), PatternBytes(2048, 3));
}

TEST_F(Packer, NameOfTwentyFourBytesFillsTheField) {
  const std::string name = "abcdefghijklmnopqrstuvwx";
  WriteBytes(In() / name, "x");

  Pack();

  EXPECT_EQ(ReadBytes(Dir()), Record(0, 1, name));
}

TEST_F(Packer, EmptyFolderGivesEmptyArchive) {
  Pack();

  ASSERT_TRUE(fs::exists(Img()));
  ASSERT_TRUE(fs::exists(Dir()));
  EXPECT_EQ(fs::file_size(Img()), 0u);
  EXPECT_EQ(fs::file_size(Dir()), 0u);
}

TEST_F(Packer, ExtractionGivesBackEveryFileSectorPadded) {
  const std::vector<std::pair<std::string, std::size_t>> files = {
      {"Empty.bin", 0},     {"one.bin", 1},
      {"under.dat", 2047},  {"exact.dat", 2048},
      {"over.dat", 2049},   {"big.raw", 3 * 2048 * 1024 + 5},
      {"Z_upper.txt", 700}, {"abcdefghijklmnopqrstuvwx", 4096},
  };
  unsigned seed = 0;
  for (const auto& [name, size] : files) WriteBytes(In() / name, PatternBytes(size, ++seed));

  Pack();
  const fs::path out = root_.path() / "out";
  fs::create_directory(out);
  modArchive archive(SystemFileSystem());
  const Archive loaded = archive.LoadDirectory(Base().string());
  EXPECT_TRUE(ExtractionRun(archive).Run(loaded, {out.string() + "\\", std::nullopt, {}}).empty());

  ASSERT_EQ(loaded.size(), files.size());
  std::vector<std::string> order;
  for (const Archive::Entry& entry : loaded) order.emplace_back(entry.FileName());
  std::vector<std::string> sorted;
  for (const auto& file : files) sorted.push_back(file.first);
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(order, sorted);
  for (const auto& [name, size] : files) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadBytes(out / name), testing::Sectors(ReadBytes(In() / name)));
  }
}

struct RefusalCase {
  const char* label;
  std::string name;
  bool folder;
  const char* said;
  bool windowsCanNameIt = true;   // Windows has no file of some of these names to pack
  std::string first = "aaa.txt";  // a file that is fine on its own
};

class PackerRefuses : public Packer, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(PackerRefuses, BeforeWritingAnything) {
  const RefusalCase& c = GetParam();
#ifdef _WIN32
  if (!c.windowsCanNameIt) GTEST_SKIP() << "Windows cannot name a file " << c.label;
#endif
  WriteBytes(In() / c.first, "fine");
  if (c.folder)
    fs::create_directory(In() / c.name);
  else
    WriteBytes(In() / c.name, "refused");
  WriteBytes(Img(), "old data");
  WriteBytes(Dir(), "old directory");
  const auto before = testing::ListTree(root_.path());

  try {
    Pack();
    FAIL() << "packed " << c.name;
  } catch (const PackError& e) {
    EXPECT_NE(std::string(e.what()).find(c.name), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadBytes(Img()), "old data");
  EXPECT_EQ(ReadBytes(Dir()), "old directory");
  EXPECT_EQ(testing::ListTree(root_.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PackerRefuses,
    ::testing::Values(
        RefusalCase{"TooLong", "abcdefghijklmnopqrstuvwxy", false, "longer than 24"},
        RefusalCase{"Space", "my file.txt", false, "space"},
        RefusalCase{"Backslash", "a\\b", false, "\\", false},
        RefusalCase{"ControlCharacter",
                    "a\x10"
                    "b",
                    false, "characters", false},
        RefusalCase{"DeviceName", "con.txt", false, "device", false},
        RefusalCase{"SubFolder", "sub", true, "folder"},
        // Windows reads each pair as one name, and would keep only the later.
        RefusalCase{"TwoCases", "AAA.TXT", false, "Windows takes its name", false},
        RefusalCase{"TrailingDot", "aaa.txt.", false, "Windows takes its name", false},
        RefusalCase{"AccentedCases", "\xC3\x89t\xC3\xA9.txt", false, "Windows takes its name",
                    false, "\xC3\xA9T\xC3\x89.TXT"},
        // Letters of every script the code pages hold: "ґ" and "Ґ" (1251), "ά" and
        // "Ά" (1253), "ơ" and "Ơ" (1258), "ⅰ" and "Ⅰ" (932).
        RefusalCase{"Cyrillic1251", "\xD2\x91", false, "Windows takes its name", false, "\xD2\x90"},
        RefusalCase{"GreekTonos1253", "\xCE\xAC", false, "Windows takes its name", false,
                    "\xCE\x86"},
        RefusalCase{"Vietnamese1258", "\xC6\xA1", false, "Windows takes its name", false,
                    "\xC6\xA0"},
        RefusalCase{"RomanNumeral932", "\xE2\x85\xB0", false, "Windows takes its name", false,
                    "\xE2\x85\xA0"}),
    [](const auto& info) { return std::string(info.param.label); });

// Asked once before the file, then before each piece of it: the file changes once it is
// measured, in size or, at the same size, in its bytes and times.
TEST_F(Packer, AFileThatChangesWhileItIsPackedFailsAndTheOldPairStays) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows lets no one write a file while the packer reads it";
#endif
  for (const std::size_t newSize : {std::size_t{9000}, std::size_t{5000}}) {
    SCOPED_TRACE(newSize);
    WriteBytes(In() / "a.txt", PatternBytes(5000, 4));
    WriteBytes(Img(), "old data");
    WriteBytes(Dir(), "old directory");
    const auto before = testing::ListTree(root_.path());
    int asked = 0;
    try {
      Pack([&] {
        if (++asked == 2) WriteBytes(In() / "a.txt", PatternBytes(newSize, 5));
        return true;
      });
      ADD_FAILURE() << "packed a file that changed";
    } catch (const ChangeError& e) {
      EXPECT_TRUE(std::string(e.what()).ends_with("a.txt\": file changed as we read it"))
          << e.what();
    }
    EXPECT_EQ(ReadBytes(Img()), "old data");
    EXPECT_EQ(ReadBytes(Dir()), "old directory");
    EXPECT_EQ(testing::ListTree(root_.path()), before);
  }
}

// The data file must not be replaced while its directory cannot be.
TEST_F(Packer, ADirectoryFileThatCannotBeReplacedStopsItBeforeAnythingIsWritten) {
  WriteBytes(In() / "a.txt", "a");
  WriteBytes(Img(), "old data");
  fs::create_directory(Dir());
  const auto before = testing::ListTree(root_.path());
  try {
    Pack();
    ADD_FAILURE() << "packed beside a folder named as its directory";
  } catch (const ChangeError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("cannot write \"" + Dir().string() + "\": "))
        << e.what();
  }
  EXPECT_EQ(ReadBytes(Img()), "old data");
  EXPECT_EQ(testing::ListTree(root_.path()), before);
}

TEST_F(Packer, TemporaryFilesInTheFolderAreNeitherPackedNorLeftFromAnEarlyStop) {
  WriteBytes(In() / "a.txt", "a");
  // A foreign file with a temporary name, and the new data file of a switch that never
  // committed, as a killed pack leaves it.
  WriteBytes(In() / ".sectorsieve-someone.tmp", "t");
  WriteBytes(In() / ".sectorsieve-new-self.img.tmp", "half");
  PackInto(In(), In() / "self");
  EXPECT_EQ(ReadBytes(In() / "self.dir"), Record(0, 1, "a.txt"));
  EXPECT_EQ(testing::ListTree(In()),
            (std::set<std::string>{".sectorsieve-someone.tmp", "a.txt", "self.dir", "self.img"}));
}

#ifndef _WIN32
TEST_F(Packer, AReplacedArchiveKeepsItsPermissions) {
  WriteBytes(In() / "a.txt", "a");
  Pack();
  fs::permissions(Img(), fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(Dir(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  Pack();
  EXPECT_EQ(fs::status(Img()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(Dir()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
#endif

TEST_F(Packer, ItsOwnArchiveInsideTheFolderIsLeftOut) {
  WriteBytes(In() / "a.txt", "a");
  for (int round = 0; round < 2; ++round) PackInto(In(), In() / "self");
  EXPECT_EQ(ReadBytes(In() / "self.dir"), Record(0, 1, "a.txt"));
}

TEST_F(Packer, ALinkToAFileOutsideTheFolderIsRefusedAndOneInsideIsPacked) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine shows a Linux link to a file as the file itself";
#endif
  WriteBytes(In() / "a.txt", "inside");
  testing::MakeUnixLink(In() / "a.txt", In() / "b.txt");
  Pack();
  EXPECT_EQ(ReadBytes(Dir()), Record(0, 1, "a.txt") + Record(1, 1, "b.txt"));

  WriteBytes(root_.path() / "secret", "outside");
  testing::MakeUnixLink(root_.path() / "secret", In() / "c.txt");
  try {
    Pack();
    FAIL() << "packed a link to a file outside";
  } catch (const PackError& e) {
    EXPECT_NE(std::string(e.what()).find("c.txt\": it is a link to a file outside the folder"),
              std::string::npos)
        << e.what();
  }
}

TEST_F(Packer, PutWritesChosenRecordOverZeroGap) {
  {
    ArchiveWriter writer(Base());
    writer.Append("first", "abc");
    writer.Put("liar", 3, 100, "xyz");
    writer.Append("after", "q");
    writer.Close();
  }

  EXPECT_EQ(ReadBytes(Dir()),
            Record(0, 1, "first") + Record(3, 100, "liar") + Record(4, 1, "after"));
  const std::string expected = testing::Sectors("abc") + std::string(2 * SECTOR_SIZE, '\0') +
                               testing::Sectors("xyz") + testing::Sectors("q");
  EXPECT_EQ(ReadBytes(Img()), expected);
}

TEST_F(Packer, WriterRefusesNameLongerThanField) {
  ArchiveWriter writer(Base());
  EXPECT_THROW(writer.Append("abcdefghijklmnopqrstuvwxy", "x"), PackError);
}

struct NameCase {
  const char* label;
  std::string name;
  unsigned codePage;
  const char* said;  // "" when the name is packed
};

class PackerNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PackerNames, RefuseWhatExtractionWouldRefuse) {
  const NameCase& c = GetParam();
  const std::string reason = RefusedNameReason(c.name, CodePage::Known(c.codePage));
  if (*c.said == '\0')
    EXPECT_EQ(reason, "");
  else
    EXPECT_NE(reason.find(c.said), std::string::npos) << reason;
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, PackerNames,
    ::testing::Values(
        // "表" in code page 932: its second byte is that of "\", and is no separator there.
        NameCase{"DoubleByteTrailBackslash", "\x95\x5C.txt", 932, ""},
        NameCase{"SameBytesInSingleByte", "\x95\x5C.txt", 1252, "\\"},
        NameCase{"Slash", "a/b.txt", 1252, "its name holds a \"/\""},
        NameCase{"SingleByteAccent", "caf\xE9.txt", 1252, ""},
        NameCase{"DanglingLeadByte", "a\x95", 932, "characters"},
        NameCase{"DeviceWithSuperscript", "COM\xB9.txt", 1252, "device"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sectorsieve::imgpack
