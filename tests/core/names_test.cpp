// Entry names: only names that stay inside the destination folder are written, and a name's
// bytes become the file name that the system's ANSI code page gives them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "extract_one.h"
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

const std::string kEndsInFolder = "has a name that ends in a folder";
const std::string kTemporary = "has a name kept for this program's temporary files";
// Two characters of code page 932 whose second byte is that of "\\" and of "|".
const std::string kOmote = "\x95\x5C";
const std::string kSo = "\x83\x7C";

struct NameCase {
  std::string field;      // the name field as stored
  std::string reason;     // why it is refused, or "" when it is written
  std::string written;    // where it lands inside the destination, "/" between folders
  unsigned codePage = 0;  // the only code page the case is about; 0 for all of them
};

const NameCase kNames[] = {
    {"", "has no name", ""},
    {" leading", "has no name", ""},
    {"sub\\", kEndsInFolder, ""},
    {".", kEndsInFolder, ""},
    {"./.", kEndsInFolder, ""},
    {"e\\.", kEndsInFolder, ""},
    {"./a.bin", "", "a.bin"},
    {"\\rooted", kLeaves, ""},
    {"/rooted", kLeaves, ""},
    {"\\\\server\\share", kLeaves, ""},
    {"..\\up", kLeaves, ""},
    {"../up", kLeaves, ""},
    {"a\\..\\..\\up", kLeaves, ""},
    {"a/../b", kLeaves, ""},
    {"..", kLeaves, ""},
    {"...", kLeaves, ""},
    {"C:x", kCharacters, ""},
    {"C:\\x", kCharacters, ""},
    {"a:stream", kCharacters, ""},
    {"a<b", kCharacters, ""},
    {"a>b", kCharacters, ""},
    {"a\"b", kCharacters, ""},
    {"a|b", kCharacters, ""},
    {"a?b", kCharacters, ""},
    {"a*b", kCharacters, ""},
    {"a\x01b", kCharacters, ""},
    {"a\x1f"
     "b",
     kCharacters, ""},
    {"CON", kDevice, ""},
    {"con.txt", kDevice, ""},
    {"Prn.x", kDevice, ""},
    {"aux", kDevice, ""},
    {"NUL.tar.gz", kDevice, ""},
    {"COM1", kDevice, ""},
    {"com9.log", kDevice, ""},
    {"LPT1", kDevice, ""},
    {"lpt9", kDevice, ""},
    {"sub\\CON.dat", kDevice, ""},
    {"CONIN$", kDevice, ""},
    {"conout$.txt", kDevice, ""},
    {"sub\\Conin$.log", kDevice, ""},
    {"CONIN", "", "CONIN"},
    // Temporary files' names, and the short names Windows may give them.
    {".sectorsieve-0.tmp", kTemporary, ""},
    {"sub\\.SECTORSIEVE-1.TMP.", kTemporary, ""},
    {"sector~1.tmp", kTemporary, ""},
    {"SE12AB~1.TMP", kTemporary, ""},
    {"sector.tmp", "", "sector.tmp"},
    {"SE~1.TXT", "", "SE~1.TXT"},
    {"COM0", "", "COM0"},
    {"LPT10", "", "LPT10"},
    {"console.txt", "", "console.txt"},
    // Code 16 is dropped when the directory is read.
    {"a\x10"
     "b",
     "", "ab"},
    {"...x", "", "...x"},
    {"sub\\.\\dot.bin", "", "sub/dot.bin"},
    {"a.b.c", "", "a.b.c"},
    // Superscript digits name devices too, in the code pages that have them.
    {"COM\xB9", kDevice, "", 1252},
    {"lpt\xB2.txt", kDevice, "", 1252},
    {"Com\xB3", kDevice, "", 1252},
    {"LPT\xB9.log", kDevice, "", 1252},
    {"COM\xB9", "", "COM\xB9", 932},
    // A second byte is not a separator, nor a "|", where the code page makes it one.
    {kOmote, "", kOmote, 932},
    {kOmote + ".txt", "", kOmote + ".txt", 932},
    {kSo + ".txt", "", kSo + ".txt", 932},
    {"sub\\" + kOmote, "", "sub/" + kOmote, 932},
    {kOmote + "\\..\\..\\up", kLeaves, "", 932},
    {"a\x95", kCharacters, "", 932},
    {kOmote, kEndsInFolder, "", 1252},
    {kSo + ".txt", kCharacters, "", 1252},
};

class EntryNamesInCodePage : public ::testing::TestWithParam<unsigned> {};

TEST_P(EntryNamesInCodePage, OnlySafeNamesAreWrittenAndNothingLandsOutsideTheDestination) {
  const unsigned codePage = GetParam();
#ifdef _WIN32
  FileSystem& files = SystemFileSystem();
  if (files.Ansi().Id() != codePage) GTEST_SKIP() << "the system's code page differs";
#else
  const auto owned = SystemFileSystem(CodePage::Known(codePage));
  FileSystem& files = *owned;
#endif
  std::vector<NameCase> cases;
  for (const auto& c : kNames)
    if (c.codePage == 0 || c.codePage == codePage) cases.push_back(c);

  TempDir root;
  fs::create_directories(root.path() / "out" / "sub");
  std::string dirBytes;
  for (const auto& c : cases) dirBytes += Record(0, 1, c.field);
  WriteBytes(root.path() / "arc.dir", dirBytes);
  WriteBytes(root.path() / "arc.img", PatternBytes(SECTOR_SIZE));
  const auto before = ListTree(root.path());

  modArchive archive(files);
  const Archive loaded = archive.LoadDirectory(root / "arc");
  const std::string out = (root.path() / "out").string() + "\\";
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    const NameCase& c = cases[i];
    try {
      testing::ExtractOne(archive, loaded, i, out);
      EXPECT_EQ(c.reason, "") << "written: " << c.field;
    } catch (const EntryError& e) {
      EXPECT_EQ(e.reason(), c.reason) << c.field;
      // Reported under its name without padding, or its index when it has none at all.
      EXPECT_EQ(e.entry(),
                c.field.empty() ? "entry " + std::to_string(i) : c.field.substr(c.field[0] == ' '));
    }
  }

  std::size_t written = 0;
  for (const auto& c : cases) {
    if (c.written.empty()) continue;
    ++written;
    // Paths are spelled as the file system spells them; the names in them, in the code page.
    std::string path = out + files.Shown(c.written);
    std::replace(path.begin(), path.end(), '/', '\\');
    try {
      EXPECT_EQ(files.OpenRead(path)->Size(), SECTOR_SIZE) << c.written;
    } catch (const IoError& e) {
      ADD_FAILURE() << c.written << " was not written: " << e.what();
    }
  }
  // Nothing else appeared, inside the destination or beside it.
  EXPECT_EQ(ListTree(root.path()).size(), before.size() + written);
}

INSTANTIATE_TEST_SUITE_P(CodePages, EntryNamesInCodePage, ::testing::Values(1252u, 932u));

struct PathCase {
  unsigned codePage;
  std::string path;
  std::size_t lastSeparator;  // npos when there is none
  bool endsInBackslash;
  std::string archiveBase;  // "" when the path is not an archive's data file
};

const PathCase kPaths[] = {
    {1252, "C:\\out\\", 6, true, ""},
    {1252, "C:\\out", 2, false, ""},
    {1252, "C:/out/a.img", 6, false, "C:/out/a"},
    {1252, "C:\\" + kOmote, 4, true, ""},
    {932, "C:\\" + kOmote, 2, false, ""},
    {932, "C:\\" + kOmote + "\\", 5, true, ""},
    {932, "C:\\" + kOmote + "\\a.img", 5, false, "C:\\" + kOmote + "\\a"},
    {932, "C:\\x\\" + kOmote + ".img", 4, false, "C:\\x\\" + kOmote},
    {932, "C:\\a.IMG", 2, false, ""},
    {932, "C:\\a.img.dir", 2, false, ""},
    {932, "", std::string::npos, false, ""},
    {932, "\x95", std::string::npos, false, ""},
};

TEST(ArchivePaths, SeparatorsAreFoundByCharacterNotByByte) {
  for (const auto& c : kPaths) {
    const CodePage cp = CodePage::Known(c.codePage);
    EXPECT_EQ(LastSeparator(c.path, cp), c.lastSeparator) << c.codePage << " " << c.path;
    EXPECT_EQ(EndsInBackslash(c.path, cp), c.endsInBackslash) << c.codePage << " " << c.path;
    const auto archive = ArchiveOfDataFile(c.path, cp);
    EXPECT_EQ(archive ? archive->base : "", c.archiveBase) << c.path;
    if (archive) {
      EXPECT_EQ(archive->dir, c.archiveBase + ".dir");
      EXPECT_EQ(archive->img, c.path);
    }
  }
}

// A typed path's extension is taken in any case; its .dir is spelled alike, letter by letter.
TEST(ArchivePaths, ATypedExtensionInAnyCaseHasItsDirectoryInTheSameCase) {
  const struct {
    unsigned codePage;
    std::string path, dir;  // "" when the path is not an archive's data file
  } cases[] = {
      {1252, "C:\\DATA.IMG", "C:\\DATA.DIR"},
      {1252, "d/x.iMg", "d/x.dIr"},
      {1252, "x.img", "x.dir"},
      {1252, "x.imgs", ""},
      {1252, "IMG", ""},
      {932, "\x95.IMG", ""},
      {932, kOmote + ".Img", kOmote + ".Dir"},
  };
  for (const auto& c : cases) {
    const auto archive = ArchiveOfTypedDataFile(c.path, CodePage::Known(c.codePage));
    EXPECT_EQ(archive ? archive->dir : "", c.dir) << c.path;
    EXPECT_EQ(archive ? archive->img : "", c.dir.empty() ? "" : c.path);
  }
}

TEST(EntryNames, NameBytesFollowTheAnsiCodePage) {
#ifdef _WIN32
  // In 932, 0xE9 starts a character that "." cannot end: the command line's tables refuse such
  // names through this same seam.
  if (GetACP() == 932) GTEST_SKIP() << "the name means no character in code page 932";
#endif
  TempDir root;
  fs::create_directories(root.path() / "out");
  const std::string name = "caf\xE9.txt";
  WriteBytes(root.path() / "arc.dir", Record(0, 1, name));
  WriteBytes(root.path() / "arc.img", PatternBytes(SECTOR_SIZE));
  modArchive archive(SystemFileSystem());
  testing::ExtractOne(archive, archive.LoadDirectory(root / "arc"), 0,
                      (root.path() / "out").string() + "\\");
#ifdef _WIN32
  // The name as the ANSI file functions see those bytes; under code page 1252 that is "café.txt".
  wchar_t wide[64] = {};
  ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide, 64), 0);
  if (GetACP() == 1252) {
    EXPECT_STREQ(wide, L"caf\u00e9.txt");
  }
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = (root.path() / "out" / "caf*").wstring();
  HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_STREQ(found.cFileName, wide);
#else
  EXPECT_EQ(ListTree(root.path() / "out"), std::set<std::string>{name});
#endif
}

TEST(TempFileNames, AreAllDistinctNoEntryCanHaveOneAndTellTheirOwner) {
  TempNames ours('p', 42, 0x5EC7);
  std::set<std::string> names;
  for (int n = 0; n < 2000; ++n) {
    const std::string name = ours.Next();
    names.insert(name);
    EXPECT_EQ(UnsafeNameReason(name, CodePage::Known(1252)), kTemporary) << name;
    EXPECT_FALSE(ours.OtherOwner(name)) << name;
  }
  EXPECT_EQ(names.size(), 2000u);

  // What a later run makes of a name: no leftover (""), one of a process that ended, or one of
  // the process that may still run it.
  const struct {
    std::string name;
    std::string owner;
  } cases[] = {
      {TempNames('p', 42, 0x1234).Next(), "ended"},  // an earlier process of our id
      {TempNames('p', 7, 0x5EC7).Next(), "7"},
      {TempNames('w', 7, 0x1234).Next(), ""},  // another platform's seam
      {".sectorsieve-p7-0123.tmp", ""},
      {".sectorsieve-p-0000000000000000-1.tmp", ""},
      {"sectorsieve-p7-0000000000000000-1.tmp", ""},
  };
  for (const auto& c : cases) {
    const auto owner = ours.OtherOwner(c.name);
    EXPECT_EQ(!owner ? "" : owner->ended ? "ended" : std::to_string(owner->pid), c.owner) << c.name;
  }
}

#ifdef _WIN32
// Superscript digits, which name devices, as the system's code page spells them: UTF-8, as
// Windows may have for its ANSI code page, takes none of the flags that the others need.
TEST(SystemCodePage, KnowsTheSuperscriptsOfEveryKind) {
  const struct {
    unsigned id;
    std::array<std::string, 3> superscripts;
  } cases[] = {{1252, {"\xB9", "\xB2", "\xB3"}},
               {65001, {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"}},
               {932, {"", "", ""}}};
  for (const auto& c : cases)
    EXPECT_EQ(WindowsCodePage(c.id).Superscripts(), c.superscripts) << c.id;
  EXPECT_EQ(UnsafeNameReason("COM\xC2\xB9.txt", WindowsCodePage(65001)), kDevice);
}

// A run in a prefix made for another code page proves nothing unless the system took it.
TEST(SystemCodePage, IsTheOneTheRunAskedFor) {
  const char* wanted = std::getenv("SECTORSIEVE_EXPECT_ACP");
  if (!wanted) GTEST_SKIP() << "no code page asked for";
  ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(wanted)));
  EXPECT_EQ(SystemFileSystem().Ansi().Id(), GetACP());
}
#endif

#ifdef _WIN32
// The seam keeps names inside the folder whatever reaches it: the system's reading of a path
// may climb out or name a device where the name's bytes do neither. A file made for such a
// name is made under a temporary one.
TEST(WindowsSeam, RefusesNamesThatTheSystemReadsAsOutsideTheFolder) {
  TempDir root;
  fs::create_directories(root.path() / "out" / "x");
  const auto before = ListTree(root.path());
  const auto folder = SystemFileSystem().OpenFolder(root / "out");
  for (const std::string name : {"...\\escaped", "x\\..\\..\\escaped", "CON", "x\\nul.txt"})
    for (const bool forTheName : {false, true}) {
      SCOPED_TRACE(name);
      const auto temp = forTheName ? folder->Create(name) : folder->CreateTemp();
      temp->Close();
      EXPECT_THROW(folder->Rename(temp->Name(), name), IoError);
      folder->Remove(temp->Name());
    }
  EXPECT_EQ(ListTree(root.path()), before);
}

// A file made for a new name and dropped before it is closed leaves nothing, and each folder
// it was made through is held until the folder opened goes: no link takes its place meanwhile.
TEST(WindowsSeam, AFileMadeForANewNameIsThereOnlyOnceClosedAndItsFoldersAreHeld) {
  TempDir root;
  const fs::path out = root.path() / "out";
  fs::create_directories(out / "sub");
  auto folder = SystemFileSystem().OpenFolder(root / "out");
  folder->Create("sub\\new.bin")->Write("part", 4);
  EXPECT_EQ(ListTree(out), std::set<std::string>{"sub/"});
  EXPECT_THROW(fs::rename(out / "sub", out / "moved"), fs::filesystem_error);
  folder.reset();
  fs::rename(out / "sub", out / "moved");
}
#endif

}  // namespace
}  // namespace sectorsieve
