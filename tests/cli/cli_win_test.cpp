// The command line on Windows, where the system reads a path one way up to 260 characters and
// another way past them, or given with "\\?\": an archive gives the same files either way.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "program_win.h"
#include "test_support.h"
#include "unix_link.h"
#include "win_handles.h"

namespace sectorsieve::testing {
namespace {

// A path as the file functions take it past 260 characters.
fs::path Long(const fs::path& path) { return L"\\\\?\\" + path.wstring(); }

// A new folder below root whose full path is length characters long, or root\out for 0.
fs::path FolderOfLength(const fs::path& root, std::size_t length) {
  fs::path folder = root / "out";
  while (length > 0 && folder.wstring().size() < length) {
    const std::size_t rest = length - folder.wstring().size();
    const std::size_t part = rest <= 201 ? rest - 1 : std::min<std::size_t>(200, rest - 3);
    folder /= std::wstring(part, L'd');
  }
  fs::create_directories(Long(folder));
  return folder;
}

// The names in folder, "." and ".." left out.
std::vector<std::wstring> Names(const fs::path& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((Long(folder) / L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

struct Destination {
  const char* label;
  std::size_t length;  // of the folder's full path; 0 for a short one
  bool literal;        // given with "\\?\"
};
void PrintTo(const Destination& destination, std::ostream* os) { *os << destination.label; }

const Destination kDestinations[] = {
    {"Short", 0, false},   {"ShortLiteral", 0, true},   {"Of252", 252, false},
    {"Of253", 253, false}, {"Of258", 258, false},       {"Of259", 259, false},
    {"Of260", 260, false}, {"Of261", 261, false},       {"Of262", 262, false},
    {"Of300", 300, false}, {"Of300Literal", 300, true},
};

class CommandLineAtLength : public ::testing::TestWithParam<Destination> {
 protected:
  void SetUp() override {
    out_ = FolderOfLength(root_.path(), GetParam().length);
    ASSERT_TRUE(GetParam().length == 0 || out_.wstring().size() == GetParam().length);
  }

  // Extracts root\a.img into the folder, spelled as the parameter says.
  Output Extract() const {
    const fs::path folder = GetParam().literal ? Long(out_) : out_;
    return RunProgram({"extract", root_ / "a.img", Utf8Path(folder)});
  }

  TempDir root_;
  fs::path out_;
};

// A link "sub." in the folder leads outside. Windows reads "sub.." and "sub..." as "sub" in a
// short path and as themselves past the limit: neither leads through the link.
TEST_P(CommandLineAtLength, ADottedLinkIsNoWayOut) {
  const fs::path away = root_.path() / "away";
  fs::create_directory(away);
  MakeUnixLink(away, Long(out_ / "sub."));
  const std::string data = PatternBytes(3 * 2048);
  WriteBytes(root_.path() / "a.img", data);
  WriteBytes(root_.path() / "a.dir",
             Record(0, 1, "sub..\\x") + Record(1, 1, "sub...\\y") + Record(2, 1, "ok"));

  const Output run = Extract();

  EXPECT_TRUE(Names(away).empty());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err.rfind("sub..\\x: could not be saved as ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("\nsub...\\y: could not be saved as "), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  EXPECT_EQ(ReadBytes(Long(out_ / "ok")), data.substr(4096));
}

// Folder parts spelled with trailing dots, or as ".", name the folder "sub" at every length;
// three entries for one file leave the last one's bytes.
TEST_P(CommandLineAtLength, FolderPartsMeanTheSameFolderAtEveryLength) {
  fs::create_directory(Long(out_ / "sub"));
  const struct {
    const char* entry;
    const char* file;  // in sub, or "" when a later entry replaces it
  } entries[] = {
      {"sub\\a.", "a"},   {"sub.\\b", "b"},    {"sub..\\c", "c"},
      {"sub...\\d", "d"}, {".\\sub.\\e", "e"}, {"sub\\\\f.", "f"},
      {"sub\\g", ""},     {"sub.\\g", ""},     {"sub..\\g.", "g"},
  };
  std::string records;
  for (std::size_t i = 0; i < std::size(entries); ++i)
    records += Record(static_cast<std::int32_t>(i), 1, entries[i].entry);
  const std::string data = PatternBytes(std::size(entries) * 2048);
  WriteBytes(root_.path() / "a.img", data);
  WriteBytes(root_.path() / "a.dir", records);

  const Output run = Extract();

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Names(out_ / "sub"),
            (std::vector<std::wstring>{L"a", L"b", L"c", L"d", L"e", L"f", L"g"}));
  EXPECT_EQ(Names(out_), std::vector<std::wstring>{L"sub"});
  for (std::size_t i = 0; i < std::size(entries); ++i) {
    if (*entries[i].file == '\0') continue;
    EXPECT_EQ(ReadBytes(Long(out_ / "sub" / entries[i].file)), data.substr(i * 2048, 2048))
        << entries[i].entry;
  }
}

INSTANTIATE_TEST_SUITE_P(Destinations, CommandLineAtLength, ::testing::ValuesIn(kDestinations),
                         [](const auto& info) { return std::string(info.param.label); });

// Windows takes a name without regard to case and without its trailing dots: each of these is
// the archive's own file. One archive each, since a run writes only the last of one name.
TEST(CommandLineArchiveItself, EverySpellingOfTheArchiveIsRefused) {
  for (const char* name : {"ARCHIVE.IMG", "archive.img.", "Archive.Dir..", ".\\archive.DIR"}) {
    TempDir root;
    const std::string records = Record(0, 1, name);
    const std::string data = PatternBytes(2048);
    WriteBytes(root.path() / "archive.img", data);
    WriteBytes(root.path() / "archive.dir", records);

    const Output run = RunProgram({"extract", root / "archive.img", root.path().string()});

    EXPECT_EQ(run.status, 1) << name;
    EXPECT_EQ(run.err, std::string(name) + ": would replace the archive being read\n");
    EXPECT_EQ(ReadBytes(root.path() / "archive.img"), data) << name;
    EXPECT_EQ(ReadBytes(root.path() / "archive.dir"), records) << name;
  }
}

// A FOLDER typed with a trailing space is the folder Windows means, and the files pack names
// are spelled with Windows' separator.
TEST(CommandLinePack, TakesTheFolderWindowsMeansAndNamesItsFilesWithBackslashes) {
  TempDir root;
  fs::create_directories(root.path() / "src" / "sub");
  WriteBytes(root.path() / "src" / "a.txt", "a");
  const std::string img = root / "out.img";

  const Output refused = RunProgram({"pack", (root.path() / "src").string() + " ", img});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("\\src\\sub\": it is a folder"), std::string::npos) << refused.err;

  fs::remove(root.path() / "src" / "sub");
  const Output packed = RunProgram({"pack", (root.path() / "src").string() + " ", img});
  EXPECT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(ReadBytes(root / "out.dir"), Record(0, 1, "a.txt"));
}

// Another program holding the data file: one that appends does not keep list out, and one that
// never lets go leaves compact's change for the next command, as its answer says.
TEST(CommandLineBesideOthers, ListReadsBesideAnAppenderAndCompactSaysWhichFileWasHeld) {
  TempDir root;
  const std::string img = root / "a.img";
  WriteBytes(img, PatternBytes(2 * 2048));
  WriteBytes(root / "a.dir", Record(1, 1, "b.txt"));
  const std::wstring wide = fs::path(img).wstring();
  unique_hfile holder(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);

  const Output list = RunProgram({"list", img});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "     0  b.txt                            2048         2048\n");

  holder.reset();
  holder.reset(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);
  const Output compact = RunProgram({"compact", img});
  EXPECT_EQ(compact.status, 1) << compact.err;
  EXPECT_NE(compact.err.find("cannot put \"" + img + "\" in place yet: "), std::string::npos)
      << compact.err;
  EXPECT_NE(compact.err.find("; the next command on the archive finishes the change\n"),
            std::string::npos)
      << compact.err;
  holder.reset();

  const Output after = RunProgram({"list", img});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(after.out, "     0  b.txt                               0         2048\n");
  EXPECT_EQ(ReadBytes(img), PatternBytes(2 * 2048).substr(2048));
}

// A kill while an entry is written leaves no file under its name, nor any other: the file was
// made under the name, and the system removes it as the killed process's handles close.
TEST(CommandLineKilled, LeavesNoFileUnderTheNameOfTheEntryItWrote) {
  TempDir root;
  constexpr std::int32_t kSectors = 1 << 17;  // 256 MiB, a pattern sector every 8 MiB
  WriteBytes(root.path() / "a.dir", Record(0, kSectors, "big.bin"));
  WriteSparseData(root.path() / "a.img", kSectors, 1 << 12);
  const fs::path out = root.path() / "out";
  fs::create_directory(out);

  const unique_kernel_handle program = StartProgram({"extract", root / "a.img", Utf8Path(out)});
  // Killed once the file has some of its bytes.
  std::int64_t seen = 0;
  while (seen == 0 && ::WaitForSingleObject(program.get(), 1) == WAIT_TIMEOUT) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW((out / "big.bin").c_str(), GetFileExInfoStandard, &data))
      seen = std::int64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  }
  ASSERT_TRUE(::TerminateProcess(program.get(), 9));
  ::WaitForSingleObject(program.get(), INFINITE);

  EXPECT_GT(seen, 0);
  EXPECT_LT(seen, std::int64_t{kSectors} * 2048);
  EXPECT_EQ(Names(out), std::vector<std::wstring>{});
}

// Names the folder has already are replaced, in the folder and in a folder of it, and the
// later of two entries that Windows takes for one name wins whichever way its file was made;
// no temporary file stays.
TEST(CommandLineReplacing, ReplacesTheNamesTakenAndLeavesNoTemporaryFile) {
  TempDir root;
  const fs::path out = root.path() / "out";
  fs::create_directories(out / "sub");
  const struct {
    const char* entry;
    const char* taken;  // the file the folder has under the name before the run, or ""
    const char* file;   // where the entry's bytes end, or "" when a later entry replaces them
  } entries[] = {
      {"new.bin", "", "new.bin"},
      {"old.bin", "old.bin", "old.bin"},
      {"sub\\old.bin", "sub\\old.bin", "sub\\old.bin"},
      {"twice.bin", "", ""},
      {"TWICE.BIN", "", "twice.bin"},
      {"again.bin", "again.bin", ""},
      {"Again.Bin.", "", "again.bin"},
      {"sub\\new.bin", "", "sub\\new.bin"},
  };
  std::string records;
  for (std::size_t i = 0; i < std::size(entries); ++i) {
    records += Record(static_cast<std::int32_t>(i), 1, entries[i].entry);
    if (*entries[i].taken) WriteBytes(out / entries[i].taken, "taken");
  }
  const std::string data = PatternBytes(std::size(entries) * 2048);
  WriteBytes(root.path() / "a.img", data);
  WriteBytes(root.path() / "a.dir", records);

  const Output run = RunProgram({"extract", root / "a.img", Utf8Path(out)});

  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::wstring> names = Names(out);
  for (std::wstring& name : names)
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"again.bin", L"new.bin", L"old.bin", L"sub",
                                              L"twice.bin"}));
  EXPECT_EQ(Names(out / "sub"), (std::vector<std::wstring>{L"new.bin", L"old.bin"}));
  for (std::size_t i = 0; i < std::size(entries); ++i) {
    if (*entries[i].file == '\0') continue;
    EXPECT_EQ(ReadBytes(out / entries[i].file), data.substr(i * 2048, 2048)) << entries[i].entry;
  }
}

}  // namespace
}  // namespace sectorsieve::testing
