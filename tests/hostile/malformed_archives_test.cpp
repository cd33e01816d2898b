// A corpus of malformed archives, each built here record by record, with the files that
// must come out of it and the failures that must be reported, entry by entry.

#include <gtest/gtest.h>

#include <initializer_list>

#include "archive_check.h"
#include "hostile_support.h"
#include "memory_window.h"

namespace sectorsieve::hostile {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using sectorsieve::testing::ListTree;
using sectorsieve::testing::PatternBytes;
using sectorsieve::testing::Record;
using sectorsieve::testing::TempDir;
using sectorsieve::testing::WriteBytes;

// Names as UTF-8 already: the corpus's names are ASCII.
std::optional<std::string> AsUtf8(std::string_view name) { return std::string(name); }

std::string Bytes(std::initializer_list<unsigned char> bytes) {
  return {bytes.begin(), bytes.end()};
}

// A name field: the name's bytes, NUL-padded to 24.
std::string Name(const std::string& name) {
  std::string field = name;
  field.resize(24, '\0');
  return field;
}

struct WrittenFile {
  std::string name;
  std::int32_t offset;  // the entry's sectors in the data file
  std::int32_t size;
};

struct Failure {
  std::string label;
  std::string reason;
};

struct Malformed {
  const char* test;
  std::string dir;
  std::size_t imgBytes;  // the data file holds this many pattern bytes
  int entries;           // as the failure box counts them
  std::vector<WrittenFile> files;
  std::vector<Failure> failures;
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << m.test; }

const std::string kNegativeOffset = "has a negative offset";
const std::string kNegativeSize = "has a negative size";
const std::string kBeyondEnd = "lies beyond the end of the archive";
const std::string kNoName = "has no name";
const std::string kLeaves = "has a name that leaves the destination folder";
const std::string kBadCharacters = "has a name with characters that file names cannot hold";
const std::string kEndsInFolder = "has a name that ends in a folder";
const std::string kDevice = "has a name reserved for a device";

// Runs archives through the whole window, as a user pressing Extract would.
class HostileArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(root.path() / "arc");
    fs::create_directory(root.path() / "out");
  }

  void Extract(const std::string& dir, const std::string& img) {
    WriteBytes(root.path() / "arc" / "a.dir", dir);
    WriteBytes(root.path() / "arc" / "a.img", img);
    w.lblSource.SetText((root.path() / "arc" / "a.img").string());
    w.lblDestination.SetText((root.path() / "out").string());
    w.frm.cmdExtract_Click();
  }

  // The caption and the one box (or none) that tell the user how the run went.
  void ExpectReported(int entries, const std::vector<Failure>& failures) const {
    EXPECT_TRUE(w.cmdExtract.Enabled());
    if (failures.empty()) {
      EXPECT_EQ(w.form.Caption(), "Extracted! Thanks Sectorsieve!");
      EXPECT_TRUE(w.form.boxes.empty());
      return;
    }
    EXPECT_EQ(w.form.Caption(), "Extracted with " + std::to_string(failures.size()) + " error(s)");
    std::string text = std::to_string(failures.size()) + " of " + std::to_string(entries) +
                       " entries could not be extracted:\r\n";
    for (const Failure& f : failures) text += "\r\n" + f.label + ": " + f.reason;
    ASSERT_EQ(w.form.boxes.size(), 1u);
    EXPECT_EQ(w.form.boxes[0].title, "Extraction errors");
    EXPECT_EQ(w.form.boxes[0].text, text);
  }

  TempDir root;
  ui::MemoryWindow w{SystemFileSystem()};
};

class MalformedArchive : public HostileArchive, public ::testing::WithParamInterface<Malformed> {};

TEST_P(MalformedArchive, WritesTheSoundEntriesAndReportsTheRest) {
  const Malformed& m = GetParam();
  const std::string img = PatternBytes(m.imgBytes);
  Extract(m.dir, img);

  ExpectReported(m.entries, m.failures);
  std::map<std::string, std::string> expected;
  for (const WrittenFile& f : m.files)
    expected[f.name] = Summary(EntryBytes(img, f.offset, f.size));
  EXPECT_EQ(FolderSummary(root.path() / "out"), expected);
  EXPECT_EQ(FolderBytes(root.path() / "arc").size(), 2u);
}

// check tells, before anything is written, the very failures the run then reports.
TEST_P(MalformedArchive, CheckTellsWhatTheRunWillRefuse) {
  const Malformed& m = GetParam();
  WriteBytes(root.path() / "arc" / "a.dir", m.dir);
  WriteBytes(root.path() / "arc" / "a.img", PatternBytes(m.imgBytes));
  const Archive archive = modArchive(SystemFileSystem()).LoadDirectory(root / "arc/a");
  const ArchiveCheck check = CheckArchive(archive, SystemFileSystem().Ansi(), AsUtf8);

  std::vector<std::string> told, expected;
  for (const std::size_t i : check.refused)
    told.push_back(EntryLabel(archive[i].Record()) + ": " + archive.Refusal(archive[i]));
  for (const Failure& f : m.failures) expected.push_back(f.label + ": " + f.reason);
  EXPECT_EQ(told, expected);
  // Bytes of the directory that make no record are no entry, but no sound archive has them.
  const auto trailing = static_cast<std::int64_t>(m.dir.size() % DIR_RECORD_SIZE);
  EXPECT_EQ(check.trailingBytes, trailing);
  EXPECT_EQ(check.Sound(), m.failures.empty() && trailing == 0);
}

// The records of a fragment that must never become an entry.
const std::string kGhost = Record(1, 1, "ghost.bin");

INSTANTIATE_TEST_SUITE_P(
    Corpus, MalformedArchive,
    ::testing::Values(
        Malformed{"NegativeOffsetsAndSizes",
                  Bytes({0xFF, 0xFF, 0xFF, 0xFF}) /* lOffset -1 */ +
                      Bytes({0x01, 0x00, 0x00, 0x00}) /* lSize 1 */ + Name("a.bin") +
                      Bytes({0x00, 0x00, 0x00, 0x80}) /* lOffset -2147483648 */ +
                      Bytes({0x01, 0x00, 0x00, 0x00}) /* lSize 1 */ + Name("b.bin") +
                      Bytes({0x00, 0x00, 0x00, 0x00}) /* lOffset 0 */ +
                      Bytes({0xFF, 0xFF, 0xFF, 0xFF}) /* lSize -1 */ + Name("c.bin") +
                      Bytes({0x00, 0x00, 0x00, 0x00}) /* lOffset 0 */ +
                      Bytes({0x00, 0x00, 0x00, 0x80}) /* lSize -2147483648 */ + Name("d.bin") +
                      Bytes({0xFE, 0xFF, 0xFF, 0xFF}) /* lOffset -2 */ +
                      Bytes({0xFE, 0xFF, 0xFF, 0xFF}) /* lSize -2 */ + Name("e.bin") +
                      Bytes({0x00, 0x00, 0x00, 0x00}) /* lOffset 0 */ +
                      Bytes({0x01, 0x00, 0x00, 0x00}) /* lSize 1 */ + Name("good.bin"),
                  4 * kSectorBytes,
                  6,
                  {{"good.bin", 0, 1}},
                  {{"a.bin", kNegativeOffset},
                   {"b.bin", kNegativeOffset},
                   {"c.bin", kNegativeSize},
                   {"d.bin", kNegativeSize},
                   {"e.bin", kNegativeOffset}}},
        Malformed{"HugeOffsetsAndSizes",
                  Bytes({0xFF, 0xFF, 0xFF, 0x7F}) /* lOffset 2147483647 */ +
                      Bytes({0x01, 0x00, 0x00, 0x00}) /* lSize 1 */ + Name("a.bin") +
                      Bytes({0x00, 0x00, 0x00, 0x00}) /* lOffset 0 */ +
                      Bytes({0xFF, 0xFF, 0xFF, 0x7F}) /* lSize 2147483647 */ + Name("b.bin") +
                      Bytes({0xFF, 0xFF, 0xFF, 0x7F}) /* lOffset 2147483647 */ +
                      Bytes({0xFF, 0xFF, 0xFF, 0x7F}) /* lSize 2147483647 */ + Name("c.bin") +
                      // The first sector whose byte offset leaves the 32-bit range.
                      Bytes({0x00, 0x00, 0x10, 0x00}) /* lOffset 1048576 */ +
                      Bytes({0x01, 0x00, 0x00, 0x00}) /* lSize 1 */ + Name("d.bin") +
                      Bytes({0x01, 0x00, 0x00, 0x00}) /* lOffset 1 */ +
                      Bytes({0x00, 0x00, 0x10, 0x00}) /* lSize 1048576 */ + Name("e.bin") +
                      Bytes({0x03, 0x00, 0x00, 0x00}) /* lOffset 3 */ +
                      Bytes({0x01, 0x00, 0x00, 0x00}) /* lSize 1 */ + Name("good.bin"),
                  4 * kSectorBytes,
                  6,
                  {{"good.bin", 3, 1}},
                  {{"a.bin", kBeyondEnd},
                   {"b.bin", kBeyondEnd},
                   {"c.bin", kBeyondEnd},
                   {"d.bin", kBeyondEnd},
                   {"e.bin", kBeyondEnd}}},
        // Two and a half sectors: the half sector is the start of a sector that was cut off.
        Malformed{"DataFileEndsInsideASector",
                  Record(2, 1, "tail.bin") + Record(0, 3, "all.bin") + Record(2, 0, "empty.bin") +
                      Record(0, 4, "over.bin") + Record(2, 2, "over2.bin") +
                      Record(3, 0, "atend.bin") + Record(4, 0, "past.bin"),
                  5 * kSectorBytes / 2,
                  7,
                  {{"tail.bin", 2, 1}, {"all.bin", 0, 3}, {"empty.bin", 2, 0}, {"atend.bin", 3, 0}},
                  {{"over.bin", kBeyondEnd}, {"over2.bin", kBeyondEnd}, {"past.bin", kBeyondEnd}}},
        Malformed{"DataFileEndsAtASector",
                  Record(1, 1, "last.bin") + Record(1, 2, "over.bin") + Record(2, 0, "end.bin") +
                      Record(3, 0, "past.bin"),
                  2 * kSectorBytes,
                  4,
                  {{"last.bin", 1, 1}, {"end.bin", 2, 0}},
                  {{"over.bin", kBeyondEnd}, {"past.bin", kBeyondEnd}}},
        Malformed{"EmptyDataFile",
                  Record(0, 0, "zero.bin") + Record(0, 1, "one.bin"),
                  0,
                  2,
                  {{"zero.bin", 0, 0}},
                  {{"one.bin", kBeyondEnd}}},
        Malformed{"DataFileOfOneByte",
                  Record(0, 1, "one.bin") + Record(0, 2, "two.bin"),
                  1,
                  2,
                  {{"one.bin", 0, 1}},
                  {{"two.bin", kBeyondEnd}}},
        Malformed{"TrailingFragmentOf1Byte",
                  Record(0, 1, "keep.bin") + kGhost.substr(0, 1),
                  kSectorBytes * 2,
                  1,
                  {{"keep.bin", 0, 1}},
                  {}},
        Malformed{"TrailingFragmentOf16Bytes",
                  Record(0, 1, "keep.bin") + kGhost.substr(0, 16),
                  kSectorBytes * 2,
                  1,
                  {{"keep.bin", 0, 1}},
                  {}},
        Malformed{"TrailingFragmentOf16BytesAfterTwoRecords",
                  Record(0, 1, "keep.bin") + Record(0, 1, "keep2.bin") + kGhost.substr(0, 16),
                  kSectorBytes * 2,
                  2,
                  {{"keep.bin", 0, 1}, {"keep2.bin", 0, 1}},
                  {}},
        Malformed{"TrailingFragmentOf31Bytes",
                  Record(0, 1, "keep.bin") + kGhost.substr(0, 31),
                  kSectorBytes * 2,
                  1,
                  {{"keep.bin", 0, 1}},
                  {}},
        Malformed{"OnlyAFragment", kGhost.substr(0, 31), kSectorBytes * 2, 0, {}, {}},
        // NUL and DLE are dropped wherever they stand and the parts join up.
        Malformed{"NulInsideName", Record(0, 1, "ab\0cd"s), kSectorBytes, 1, {{"abcd", 0, 1}}, {}},
        Malformed{"DleInName",
                  Record(0, 1, "\x10x.bin"s) + Record(1, 1, "a\x10\0b"s),
                  2 * kSectorBytes,
                  2,
                  {{"x.bin", 0, 1}, {"ab", 1, 1}},
                  {}},
        Malformed{
            "NulsBeforeASpace", Record(0, 1, "ab\0\0 cd"s), kSectorBytes, 1, {{"ab", 0, 1}}, {}},
        // Both become "abcd": the later entry writes over the earlier one.
        Malformed{"SameNameOnceStripped",
                  Record(0, 1, "ab\0cd"s) + Record(1, 1, "abcd"),
                  2 * kSectorBytes,
                  2,
                  {{"abcd", 1, 1}},
                  {}}),
    [](const auto& info) { return std::string(info.param.test); });

// ---- Names that would reach outside the destination or that Windows cannot hold ----

struct UnsafeName {
  std::string field;  // the name field's bytes before NUL padding
  std::string label;  // how the failure names the entry
  std::string reason;
};

void PrintTo(const UnsafeName& u, std::ostream* os) { *os << ::testing::PrintToString(u.field); }

class RefusedName : public HostileArchive, public ::testing::WithParamInterface<UnsafeName> {};

TEST_P(RefusedName, FailsOnlyThatEntryAndWritesNothingForIt) {
  const UnsafeName& u = GetParam();
  const std::string img = PatternBytes(kSectorBytes);
  Extract(Record(0, 1, u.field) + Record(0, 1, "ok.bin"), img);

  ExpectReported(2, {{u.label, u.reason}});
  // Nothing was written anywhere in the test's folder but the sound entry.
  EXPECT_EQ(ListTree(root.path()),
            (std::set<std::string>{"arc/", "arc/a.dir", "arc/a.img", "out/", "out/ok.bin"}));
  EXPECT_EQ(Summary(FolderBytes(root.path() / "out").at("ok.bin")), Summary(img));
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, RefusedName,
    ::testing::Values(
        // Absolute.
        UnsafeName{"\\abs.bin", "\\abs.bin", kLeaves}, UnsafeName{"/abs.bin", "/abs.bin", kLeaves},
        UnsafeName{"\\\\host\\share\\x", "\\\\host\\share\\x", kLeaves},
        // Drive-qualified, and streams behind a colon.
        UnsafeName{"C:abs.bin", "C:abs.bin", kBadCharacters},
        UnsafeName{"C:\\abs.bin", "C:\\abs.bin", kBadCharacters},
        UnsafeName{"a.bin:hidden", "a.bin:hidden", kBadCharacters},
        // Climbing out.
        UnsafeName{"..", "..", kLeaves}, UnsafeName{"..\\up.bin", "..\\up.bin", kLeaves},
        UnsafeName{"../up.bin", "../up.bin", kLeaves},
        UnsafeName{"sub\\..\\..\\up.bin", "sub\\..\\..\\up.bin", kLeaves},
        UnsafeName{"...", "...", kLeaves},
        // Characters that file names cannot hold, and control codes (16 is dropped instead).
        UnsafeName{"a<b", "a<b", kBadCharacters}, UnsafeName{"a>b", "a>b", kBadCharacters},
        UnsafeName{"a\"b", "a\"b", kBadCharacters}, UnsafeName{"a|b", "a|b", kBadCharacters},
        UnsafeName{"a?b", "a?b", kBadCharacters}, UnsafeName{"a*b", "a*b", kBadCharacters},
        UnsafeName{"\x01"
                   "a",
                   "\x01"
                   "a",
                   kBadCharacters},
        UnsafeName{"a\tb", "a\tb", kBadCharacters}, UnsafeName{"a\nb", "a\nb", kBadCharacters},
        UnsafeName{"a\rb", "a\rb", kBadCharacters},
        UnsafeName{"a\x0F"
                   "b",
                   "a\x0F"
                   "b",
                   kBadCharacters},
        UnsafeName{"a\x11"
                   "b",
                   "a\x11"
                   "b",
                   kBadCharacters},
        UnsafeName{"a\x1F", "a\x1F", kBadCharacters},
        // Devices, in any case and with any extension, also as a folder's part.
        UnsafeName{"CON", "CON", kDevice}, UnsafeName{"con", "con", kDevice},
        UnsafeName{"Prn", "Prn", kDevice}, UnsafeName{"AUX", "AUX", kDevice},
        UnsafeName{"nul", "nul", kDevice}, UnsafeName{"COM1", "COM1", kDevice},
        UnsafeName{"com9", "com9", kDevice}, UnsafeName{"LPT1", "LPT1", kDevice},
        UnsafeName{"lpt9", "lpt9", kDevice}, UnsafeName{"CON.txt", "CON.txt", kDevice},
        UnsafeName{"nul.tar.gz", "nul.tar.gz", kDevice},
        UnsafeName{"sub\\COM3", "sub\\COM3", kDevice},
        // Empty, also once NUL and DLE are gone or once the name is cut at its first space.
        UnsafeName{"", "entry 0", kNoName}, UnsafeName{"\x10\0\x10"s, "entry 0", kNoName},
        UnsafeName{" lead.bin", "lead.bin", kNoName}, UnsafeName{"sub\\", "sub\\", kEndsInFolder}));

// ---- Names that look dangerous but are ordinary file names ----

class HarmlessName : public HostileArchive, public ::testing::WithParamInterface<std::string> {};

TEST_P(HarmlessName, IsWritten) {
  const std::string img = PatternBytes(kSectorBytes);
  Extract(Record(0, 1, GetParam()), img);
  ExpectReported(1, {});
  EXPECT_EQ(FolderSummary(root.path() / "out"),
            (std::map<std::string, std::string>{{GetParam(), Summary(img)}}));
}

INSTANTIATE_TEST_SUITE_P(Lookalikes, HarmlessName,
                         ::testing::Values("COM0", "LPT10", "CONSOLE.txt", "NULL", "con-x.txt",
                                           "a..b", ".hidden"));

}  // namespace
}  // namespace sectorsieve::hostile
