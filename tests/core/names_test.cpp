// Entry names: only names that stay inside the destination folder are written, and a name's
// bytes become the file name that the system's ANSI code page gives them.

#include <gtest/gtest.h>

#include "modArchive.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sectorsieve {
namespace {

namespace fs = std::filesystem;
using testing::ListTree;
using testing::PatternBytes;
using testing::Record;
using testing::TempDir;
using testing::WriteBytes;

const std::string kLeaves = "has a name that leaves the destination folder";
const std::string kCharacters = "has a name with characters that file names cannot hold";
const std::string kDevice = "has a name reserved for a device";

struct NameCase {
  std::string field;   // the name field as stored
  std::string reason;  // why it is refused, or "" when it is written
};

const NameCase kNames[] = {
    {"", "has no name"},
    {" leading", "has no name"},
    {"sub\\", "has a name that ends in a folder"},
    {"\\rooted", kLeaves},
    {"/rooted", kLeaves},
    {"\\\\server\\share", kLeaves},
    {"..\\up", kLeaves},
    {"../up", kLeaves},
    {"a\\..\\..\\up", kLeaves},
    {"a/../b", kLeaves},
    {"..", kLeaves},
    {"...", kLeaves},
    {"C:x", kCharacters},
    {"C:\\x", kCharacters},
    {"a:stream", kCharacters},
    {"a<b", kCharacters},
    {"a>b", kCharacters},
    {"a\"b", kCharacters},
    {"a|b", kCharacters},
    {"a?b", kCharacters},
    {"a*b", kCharacters},
    {"a\x01"
     "b",
     kCharacters},
    {"a\x1f"
     "b",
     kCharacters},
    {"CON", kDevice},
    {"con.txt", kDevice},
    {"Prn.x", kDevice},
    {"aux", kDevice},
    {"NUL.tar.gz", kDevice},
    {"COM1", kDevice},
    {"com9.log", kDevice},
    {"LPT1", kDevice},
    {"lpt9", kDevice},
    {"sub\\CON.dat", kDevice},
    {"COM0", ""},
    {"LPT10", ""},
    {"console.txt", ""},
    {"a\x10"
     "b",
     ""},  // code 16 is dropped when the directory is read: the file is "ab"
    {"...x", ""},
    {"sub\\.\\dot.bin", ""},
    {"a.b.c", ""},
};

TEST(EntryNames, OnlySafeNamesAreWrittenAndNothingLandsOutsideTheDestination) {
  TempDir root;
  fs::create_directories(root.path() / "out" / "sub");
  std::string dirBytes;
  for (const auto& c : kNames) dirBytes += Record(0, 1, c.field);
  WriteBytes(root.path() / "arc.dir", dirBytes);
  WriteBytes(root.path() / "arc.img", PatternBytes(SECTOR_SIZE));
  const auto before = ListTree(root.path());

  modArchive archive(SystemFileSystem());
  archive.LoadDirectory(root / "arc");
  std::size_t i = 0;
  for (const clsImgFile& entry : archive.gEntries) {
    const NameCase& c = kNames[i++];
    try {
      archive.ExtractEntry(entry, (root.path() / "out").string() + "\\");
      EXPECT_EQ(c.reason, "") << "written: " << c.field;
    } catch (const EntryError& e) {
      EXPECT_EQ(e.reason(), c.reason) << c.field;
      // Reported under its name without padding, or its index when it has none at all.
      EXPECT_EQ(e.entry(),
                c.field.empty() ? "entry " + entry.sId() : c.field.substr(c.field[0] == ' '));
    }
  }

  auto expected = before;
  for (const char* written : {"out/COM0", "out/LPT10", "out/console.txt", "out/ab", "out/...x",
                              "out/sub/dot.bin", "out/a.b.c"})
    expected.insert(written);
  EXPECT_EQ(ListTree(root.path()), expected);
}

TEST(EntryNames, NameBytesFollowTheAnsiCodePage) {
  TempDir root;
  fs::create_directories(root.path() / "out");
  const std::string name = "caf\xE9.txt";
  WriteBytes(root.path() / "arc.dir", Record(0, 1, name));
  WriteBytes(root.path() / "arc.img", PatternBytes(SECTOR_SIZE));
  modArchive archive(SystemFileSystem());
  archive.LoadDirectory(root / "arc");
  archive.ExtractEntry(*archive.gEntries.Item("0"), (root.path() / "out").string() + "\\");
#ifdef _WIN32
  // The name as the ANSI file functions see those bytes; under code page 1252 that is "café.txt".
  wchar_t wide[64] = {};
  ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide, 64), 0);
  if (GetACP() == 1252) {
    EXPECT_STREQ(wide, L"caf\u00e9.txt");
  }
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = (root.path() / "out" / "*.txt").wstring();
  HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_STREQ(found.cFileName, wide);
#else
  EXPECT_EQ(ListTree(root.path() / "out"), std::set<std::string>{name});
#endif
}

}  // namespace
}  // namespace sectorsieve
