// Edits of an archive in place, step by step beside a model of what it should hold.

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "archive_check.h"
#include "edit_model.h"

namespace sectorsieve::testing {
namespace {

// Bytes of the data file that some record of the directory dir reaches.
std::size_t InUse(const std::string& dir) {
  std::size_t end = 0;
  for (std::size_t at = 0; at + DIR_RECORD_SIZE <= dir.size(); at += DIR_RECORD_SIZE) {
    const DirEntry record = DecodeRecord(dir.data() + at);
    end = std::max<std::size_t>(end, (std::size_t(record.lOffset) + record.lSize) * SECTOR_SIZE);
  }
  return end;
}

TEST(ArchiveEdits, RandomStepsGiveWhatTheModelHoldsAndTouchNoOtherEntrysBytes) {
  const TempDir dir;
  const fs::path base = dir.path() / "edited";
  const fs::path img = dir.path() / "edited.img";
  EditModel model;
  std::mt19937 random(26);
  for (int step = 0; step < 120; ++step) {
    const std::uint32_t choice = random();
    const std::string before =
        ReadBytes(img).substr(0, InUse(ReadBytes(dir.path() / "edited.dir")));
    const std::string done = ModelStep(model, base, dir.path() / "from", choice);
    SCOPED_TRACE("step " + std::to_string(step) + ": " + done);
    ASSERT_EQ(ExtractAll(ModelFiles(), base, dir.path() / "out"), model.Files());
    if (done == "compact")
      // Nothing unused is left, and nothing in use is lost.
      EXPECT_EQ(fs::file_size(img), model.Bytes());
    else
      // Every byte an entry had is still there: new ones come after them.
      EXPECT_TRUE(ReadBytes(img).substr(0, before.size()) == before);
    // No file of the program's own outlasts a step.
    for (const std::string& name : ListTree(dir.path()))
      EXPECT_FALSE(name.starts_with(".sectorsieve")) << name;
  }
}

// One change at a time: while a change holds the archive, another waits for as long as it is
// let to, and a reader leaves the new files of the change at work alone. Once it is let go,
// the next change gets the archive and settles what the last one left uncommitted.
TEST(ArchiveEdits, AChangeAtWorkHoldsTheArchiveAgainstOthersAndReaders) {
  const TempDir dir;
  const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
  AddFile(paths, dir.path(), "a.txt", "a");
  const std::string newImg = ModelFiles().Beside(paths.img, ".sectorsieve-new-", ".tmp");

  auto held = BeginChange(ModelFiles(), paths, {});
  WriteBytes(newImg, "not committed yet");
  int asked = 0;
  EXPECT_THROW(BeginChange(ModelFiles(), paths, [&] { return ++asked < 3; }), ChangeInterrupted);
  EXPECT_EQ(asked, 3);
  EXPECT_THROW(RemoveEntries(ModelFiles(), paths, {"a.txt"}, SameText, {[] { return false; }}),
               ChangeInterrupted);
  EXPECT_EQ(SettleArchive(ModelFiles(), paths).img, paths.img);
  EXPECT_TRUE(fs::exists(newImg)) << "a reader took the new file of a change at work";

  held.reset();
  EXPECT_EQ(RemoveEntries(ModelFiles(), paths, {"a.txt"}, SameText).removed, 1u);
  EXPECT_FALSE(fs::exists(newImg));
  for (const std::string& name : ListTree(dir.path()))
    EXPECT_FALSE(name.starts_with(".sectorsieve")) << name;
}

// The file system with a hand on one call: the first time call reaches path, act runs first.
class OneCallHooked final : public ForwardingFileSystem {
 public:
  OneCallHooked(std::string call, std::string path, std::function<void()> act)
      : ForwardingFileSystem(ModelFiles()),
        call_(std::move(call)),
        path_(std::move(path)),
        act_(std::move(act)) {}
  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    Reached("OpenRead", path);
    return inner_.OpenRead(path);
  }
  std::optional<FileId> Id(const std::string& path) override {
    Reached("Id", path);
    return inner_.Id(path);
  }
  void Replace(const std::string& from, const std::string& to) override {
    Reached("Replace", to);
    inner_.Replace(from, to);
  }
  void CheckWritable(const std::string& path) override {
    Reached("CheckWritable", path);
    inner_.CheckWritable(path);
  }

 private:
  void Reached(const std::string& call, const std::string& path) {
    if (call != call_ || path != path_ || !act_) return;
    const auto act = std::move(act_);
    act_ = nullptr;
    act();
  }
  std::string call_, path_;
  std::function<void()> act_;
};

// A reader that meets a compact between its two renames, before it reads or as it reads, reads
// the compacted archive: never the new data file with the old directory's offsets.
TEST(ArchiveEdits, AReaderNeverPairsTheDirectoryOfOneStateWithTheDataOfAnother) {
  for (const char* readerCall : {"Id", "OpenRead"}) {
    SCOPED_TRACE(readerCall);
    const TempDir dir;
    const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
    // b.txt starts one sector in until compact moves it to the start.
    for (const std::string name : {"a.txt", "b.txt"}) AddFile(paths, dir.path(), name, name);
    RemoveEntries(ModelFiles(), paths, {"a.txt"}, SameText);
    OneCallHooked writer("Replace", paths.dir, [] { throw IoError("stopped there"); });
    OneCallHooked reader(readerCall, std::string(readerCall) == "Id" ? paths.img : paths.dir, [&] {
      EXPECT_THROW(CompactArchive(writer, paths, {}), ChangedButNotSafe);
    });

    const Archive archive = modArchive(reader).LoadDirectory(paths);
    ASSERT_EQ(archive.size(), 1u);
    EXPECT_EQ(archive[0].Start(), 0);
    EXPECT_EQ(archive.DataSize(), 2048);
    EXPECT_EQ(ExtractAll(ModelFiles(), dir.path() / "a", dir.path() / "out"),
              (std::map<std::string, std::string>{{"b.txt", Sectors("b.txt")}}));
  }
}

// A switch of both files cut short after its commit record: the next command finishes it under
// whatever spelling it is given (Windows reads "a.IMG" and "a.img" as one file), and leaves
// alone the switch of another archive whose name differs only in case (Linux has two).
TEST(ArchiveEdits, ASwitchCutShortIsFinishedUnderEverySpellingAndOnlyForItsOwnArchive) {
  const TempDir dir;
  const fs::path files = dir.path() / "files";
  fs::create_directory(files);
  const ArchivePaths upper =
      *ArchiveOfTypedDataFile(Utf8Path(dir.path() / "a.IMG"), ModelFiles().Paths());
  const ArchivePaths lower = ArchivePathsOf(Utf8Path(dir.path() / "a"));
  const auto make = [&](const ArchivePaths& paths, const std::string& tag) {
    for (const std::string name : {"x.txt", "y.txt"})
      AddFiles(ModelFiles(), paths, {{name, Utf8Path(files / name), name, name}}, SameText, {});
    RemoveEntries(ModelFiles(), paths, {"x.txt"}, SameText);
    AddFile(paths, files, "z.txt", tag);
  };
  WriteBytes(files / "x.txt", "x");
  WriteBytes(files / "y.txt", "y");
  make(upper, "upper");
#ifndef _WIN32
  make(lower, "lower");
#endif
  OneCallHooked cut("Replace", upper.img, [] { throw IoError("cut short"); });
  EXPECT_THROW(CompactArchive(cut, upper, {}), ChangedButNotSafe);

  const std::map<std::string, std::string> upperFiles = {{"y.txt", Sectors("y")},
                                                         {"z.txt", Sectors("upper")}};
#ifdef _WIN32
  // The other spelling reads the switch finished, and a change through it builds on that.
  EXPECT_EQ(ExtractAll(ModelFiles(), lower, dir.path() / "out"), upperFiles);
  EXPECT_EQ(CompactArchive(ModelFiles(), lower, {}), 0);
  EXPECT_EQ(fs::file_size(lower.img), 2 * 2048u);
#else
  EXPECT_GT(CompactArchive(ModelFiles(), lower, {}), 0);
  EXPECT_EQ(
      ExtractAll(ModelFiles(), lower, dir.path() / "out"),
      (std::map<std::string, std::string>{{"y.txt", Sectors("y")}, {"z.txt", Sectors("lower")}}));
  EXPECT_EQ(ExtractAll(ModelFiles(), upper, dir.path() / "out"), upperFiles);
  EXPECT_EQ(fs::file_size(upper.img), 2 * 2048u);
#endif
  for (const std::string& name : ListTree(dir.path()))
    EXPECT_EQ(name.find(".sectorsieve"), std::string::npos) << name;
}

// What check calls unused is what compact frees, whatever the records: overlapping, beyond the
// end, partly beyond it, negative, empty, and a data file that ends within a sector.
TEST(ArchiveEdits, CompactFreesWhatCheckCallsUnused) {
  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const TempDir dir;
    const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
    const int sectors = static_cast<int>(random() % 12);
    std::string records;
    for (int i = static_cast<int>(random() % 6); i > 0; --i)
      records += Record(static_cast<std::int32_t>(random() % 16) - 2,
                        static_cast<std::int32_t>(random() % 5) - 1, "e" + std::to_string(i));
    WriteBytes(paths.dir, records);
    WriteBytes(paths.img, PatternBytes(sectors * 2048 - (sectors > 0 ? random() % 2048 : 0)));
    const Archive archive = modArchive(ModelFiles()).LoadDirectory(paths);
    const std::int64_t unused = CheckArchive(archive, ModelFiles().Ansi(), SameText).unusedBytes;
    EXPECT_EQ(CompactArchive(ModelFiles(), paths, {}), unused);
  }
}

// A change refuses a directory whose data file is gone, for the reason the system gives.
TEST(ArchiveEdits, ADirectoryWithoutItsDataFileIsRefusedForTheSystemsReason) {
  const TempDir dir;
  const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
  AddFile(paths, dir.path(), "a.txt", "a");
  fs::remove(paths.img);
  std::string reason;
  try {
    ModelFiles().OpenRead(paths.img);
  } catch (const IoError& e) {
    reason = e.what();
  }
  // add makes an archive where neither file is; the other edits read one as compact does.
  const std::vector<std::pair<const char*, std::function<void()>>> edits = {
      {"add", [&] { AddFile(paths, dir.path(), "b", "b"); }},
      {"compact", [&] { CompactArchive(ModelFiles(), paths, {}); }}};
  for (const auto& [label, edit] : edits) {
    SCOPED_TRACE(label);
    try {
      edit();
      ADD_FAILURE() << "not refused";
    } catch (const ChangeError& e) {
      EXPECT_EQ(std::string(e.what()), "cannot read \"" + paths.img + "\": " + reason);
    }
    EXPECT_FALSE(fs::exists(paths.img));
  }
}

struct EditCase {
  const char* label;
  std::vector<std::string> steps;  // "+name:bytes", "-pattern", "name>new", "compact"
  std::map<std::string, std::string> files;
  std::int64_t imgBytes;
};

class ArchiveEditSteps : public ::testing::TestWithParam<EditCase> {};

TEST_P(ArchiveEditSteps, GiveTheFilesAndDataFileExpected) {
  const EditCase& c = GetParam();
  const TempDir dir;
  const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
  for (const std::string& step : c.steps) {
    if (step.starts_with("+")) {
      const std::size_t colon = step.find(':');
      const std::string name = step.substr(1, colon - 1);
      const std::string source = Utf8Path(dir.path() / "source");
      WriteBytes(source, step.substr(colon + 1));
      AddFiles(ModelFiles(), paths, {{name, source, source, "source"}}, SameText, {});
    } else if (step.starts_with("-")) {
      RemoveEntries(ModelFiles(), paths, {step.substr(1)}, SameText);
    } else if (step == "compact") {
      CompactArchive(ModelFiles(), paths, {});
    } else {
      const std::size_t arrow = step.find('>');
      RenameEntries(ModelFiles(), paths, step.substr(0, arrow), step.substr(arrow + 1), SameText);
    }
  }
  std::map<std::string, std::string> expected;
  for (const auto& [name, bytes] : c.files) expected[name] = Sectors(bytes);
  EXPECT_EQ(ExtractAll(ModelFiles(), dir.path() / "a", dir.path() / "out"), expected);
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(paths.img)), c.imgBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ArchiveEditSteps,
    ::testing::Values(
        EditCase{"AddMakesTheArchive", {"+a.txt:hello"}, {{"a.txt", "hello"}}, 2048},
        // The old sector stays until compact, and the entry keeps its place.
        EditCase{"ReplaceAppends",
                 {"+a.txt:old", "+b.txt:b", "+A.TXT:new"},
                 {{"A.TXT", "new"}, {"b.txt", "b"}},
                 3 * 2048},
        EditCase{"CompactFreesWhatReplaceLeft",
                 {"+a.txt:old", "+b.txt:b", "+A.TXT:new", "compact"},
                 {{"A.TXT", "new"}, {"b.txt", "b"}},
                 2 * 2048},
        EditCase{"RemoveByWildcardWithoutRegardToCase",
                 {"+a.txt:a", "+b.bin:b", "+c.txt:c", "-*.TXT"},
                 {{"b.bin", "b"}},
                 3 * 2048},
        EditCase{"RemoveTouchesNoData", {"+a.txt:a", "+b.bin:b", "-b.bin"}, {{"a.txt", "a"}}, 4096},
        // A reader of the directory before the remove may still be copying b.bin.
        EditCase{"AddAfterARemoveGoesPastTheRemovedBytes",
                 {"+a.txt:a", "+b.bin:b", "-b.bin", "+c.txt:c"},
                 {{"a.txt", "a"}, {"c.txt", "c"}},
                 3 * 2048},
        EditCase{"RenameKeepsTheBytes",
                 {"+a.txt:a", "+b.bin:b", "A.txt>z.txt"},
                 {{"z.txt", "a"}, {"b.bin", "b"}},
                 4096},
        EditCase{"CompactKeepsAnEmptyEntry",
                 {"+a.txt:a", "+e:", "+b.bin:b", "-a.txt", "compact"},
                 {{"e", ""}, {"b.bin", "b"}},
                 2048}),
    [](const auto& info) { return std::string(info.param.label); });

// Archives made record by record, with names and ranges no edit writes, and what an edit of
// them gives: every edit takes an entry by the name list shows, acts on the entry extraction
// keeps, and never turns a record beyond the end of the data file into an entry.
struct RawEditCase {
  const char* label;
  std::string records;
  std::size_t sectors;  // of the data file
  std::function<void(const ArchivePaths&, const fs::path& folder)> edit;
  std::map<std::string, std::string> files;  // what extraction gives; "@n": data sector n
  std::int64_t imgBytes;                     // -1: the edit is refused and changes nothing
  std::string recordsAfter = {};             // the directory afterwards, where it matters
};

class RawArchiveEdits : public ::testing::TestWithParam<RawEditCase> {};

TEST_P(RawArchiveEdits, ActOnTheEntriesListShowsAndExtractionKeeps) {
  const RawEditCase& c = GetParam();
  const TempDir dir;
  const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
  WriteBytes(paths.dir, c.records);
  const std::string img = PatternBytes(c.sectors * 2048);
  WriteBytes(paths.img, img);
  const std::string directory = ReadBytes(paths.dir);
  if (c.imgBytes < 0) {
    EXPECT_THROW(c.edit(paths, dir.path()), ChangeError);
    EXPECT_EQ(ReadBytes(paths.dir), directory);
    EXPECT_EQ(ReadBytes(paths.img), img);
  } else {
    c.edit(paths, dir.path());
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(paths.img)), c.imgBytes);
    if (!c.recordsAfter.empty()) {
      EXPECT_EQ(ReadBytes(paths.dir), c.recordsAfter);
    }
  }
  std::map<std::string, std::string> expected;
  for (const auto& [name, bytes] : c.files)
    expected[name] = bytes.starts_with('@') ? img.substr(std::stoul(bytes.substr(1)) * 2048, 2048)
                                            : Sectors(bytes);
  EXPECT_EQ(ExtractAll(ModelFiles(), dir.path() / "a", dir.path() / "out"), expected);
}

void AddNew(const ArchivePaths& paths, const fs::path& folder) {
  AddFile(paths, folder, "new.txt", "new");
}

INSTANTIATE_TEST_SUITE_P(
    Records, RawArchiveEdits,
    ::testing::Values(
        RawEditCase{"RemoveTakesTheNameWithoutItsNul",
                    Record(0, 1, std::string("a\0b", 3)) + Record(0, 1, "keep"),
                    1,
                    [](const ArchivePaths& p, const fs::path&) {
                      EXPECT_EQ(RemoveEntries(ModelFiles(), p, {"ab"}, SameText).removed, 1u);
                    },
                    {{"keep", "@0"}},
                    2048},
        RawEditCase{"RenameTakesTheNameWithoutItsDle",
                    Record(0, 1, "x\x10y"),
                    1,
                    [](const ArchivePaths& p, const fs::path&) {
                      EXPECT_EQ(RenameEntries(ModelFiles(), p, "xy", "z", SameText), 1u);
                    },
                    {{"z", "@0"}},
                    2048},
        // Extraction keeps a.bin, the last one it does not refuse: that is the one replaced.
        RawEditCase{"AddReplacesTheEntryExtractionKeeps",
                    Record(0, 1, "a.bin") + Record(-1, 1, "A.BIN"),
                    1,
                    [](const ArchivePaths& p, const fs::path& folder) {
                      AddFile(p, folder, "a.bin", "new");
                    },
                    {{"a.bin", "new"}},
                    2 * 2048},
        // Not at sector 20,000,001: the data file grows by what is added, no more.
        RawEditCase{"AddAppendsAfterTheDataNotAfterAFarRecord",
                    Record(0, 1, "a.bin") + Record(20'000'000, 1, "far.bin"),
                    1,
                    AddNew,
                    {{"a.bin", "@0"}, {"new.txt", "new"}},
                    2 * 2048},
        RawEditCase{"AddThatWouldFillARecordBeyondTheEndIsRefused",
                    Record(0, 1, "a.bin") + Record(1, 1, "near.bin"),
                    1,
                    AddNew,
                    {{"a.bin", "@0"}},
                    -1},
        // Sectors 1 and 2 are no whole entry's; the records beyond the end stay as they were.
        RawEditCase{"CompactMovesNoRecordBeyondTheEnd",
                    Record(0, 1, "a.bin") + Record(20'000'000, 1, "far.bin") +
                        Record(2, 5, "partial.bin") + Record(3, 1, "b.bin"),
                    4,
                    [](const ArchivePaths& p, const fs::path&) {
                      EXPECT_EQ(CompactArchive(ModelFiles(), p, {}), 2 * 2048);
                    },
                    {{"a.bin", "@0"}, {"b.bin", "@3"}},
                    2 * 2048,
                    Record(0, 1, "a.bin") + Record(20'000'000, 1, "far.bin") +
                        Record(2, 5, "partial.bin") + Record(1, 1, "b.bin")},
        RawEditCase{"APartialRecordStopsAChange",
                    Record(0, 1, "a.bin") + "tail",
                    1,
                    [](const ArchivePaths& p, const fs::path&) {
                      RemoveEntries(ModelFiles(), p, {"nothing"}, SameText);
                    },
                    {{"a.bin", "@0"}},
                    -1},
        RawEditCase{"ForceDropsAPartialRecord",
                    Record(0, 1, "a.bin") + "tail",
                    1,
                    [](const ArchivePaths& p, const fs::path&) {
                      RenameEntries(ModelFiles(), p, "a.bin", "b.bin", SameText, {{}, true});
                    },
                    {{"b.bin", "@0"}},
                    2048,
                    Record(0, 1, "b.bin")},
        RawEditCase{"AddReplacingARecordBeyondTheEndTakesItsPlace",
                    Record(0, 1, "a.bin") + Record(1, 1, "new.txt"),
                    1,
                    AddNew,
                    {{"a.bin", "@0"}, {"new.txt", "new"}},
                    2 * 2048}),
    [](const auto& info) { return std::string(info.param.label); });

struct RefusedEdit {
  const char* label;
  std::function<void(const ArchivePaths&, const fs::path& folder)> edit;
  std::string said;
};

class ArchiveEditRefuses : public ::testing::TestWithParam<RefusedEdit> {};

TEST_P(ArchiveEditRefuses, AndLeavesTheArchiveAsItWas) {
  const TempDir dir;
  const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
  AddFile(paths, dir.path(), "a.txt", "a");
  AddFile(paths, dir.path(), "b.txt", "b");
  const auto before = ListTree(dir.path());
  const std::string img = ReadBytes(paths.img), directory = ReadBytes(paths.dir);
  try {
    GetParam().edit(paths, dir.path());
    ADD_FAILURE() << "not refused";
  } catch (const ChangeError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().said), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadBytes(paths.img), img);
  EXPECT_EQ(ReadBytes(paths.dir), directory);
  EXPECT_EQ(ListTree(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, ArchiveEditRefuses,
    ::testing::Values(
        RefusedEdit{"RenameOntoAnotherEntry",
                    [](const ArchivePaths& p, const fs::path&) {
                      RenameEntries(ModelFiles(), p, "a.txt", "B.TXT", SameText);
                    },
                    "\"B.TXT\" is already in the archive"},
        RefusedEdit{"AddTheArchiveItself",
                    [](const ArchivePaths& p, const fs::path&) {
                      AddFiles(ModelFiles(), p, {{"a.img", p.img, p.img, "a.img"}}, SameText, {});
                    },
                    "it is a file of the archive itself"},
        RefusedEdit{
            "AddATemporaryFile",
            [](const ArchivePaths& p, const fs::path& folder) {
              const std::string a = Utf8Path(folder / "a.txt");
              AddFiles(ModelFiles(), p, {{"t", a, "t", ".SECTORSIEVE-p1-x.tmp"}}, SameText, {});
            },
            "it is a temporary file of this program"},
        RefusedEdit{"AddTwoOfOneName",
                    [](const ArchivePaths& p, const fs::path& folder) {
                      const std::string a = Utf8Path(folder / "a.txt");
                      AddFiles(ModelFiles(), p,
                               {{"c.txt", a, "one", "c.txt"}, {"C.TXT", a, "two", "C.TXT"}},
                               SameText, {});
                    },
                    "Windows takes its name for that of \"one\""},
        RefusedEdit{"AddAFileThatIsNot",
                    [](const ArchivePaths& p, const fs::path& folder) {
                      const std::string a = Utf8Path(folder / "none");
                      AddFiles(ModelFiles(), p, {{"c.txt", a, "none", "none"}}, SameText, {});
                    },
                    "cannot read \"none\": "},
        // As a data file the user may not write refuses: root may write any, so the system
        // does not refuse it here.
        RefusedEdit{"RemoveFromADataFileThatCannotBeWritten",
                    [](const ArchivePaths& p, const fs::path&) {
                      OneCallHooked locked("CheckWritable", p.img,
                                           [] { throw IoError("Permission denied"); });
                      RemoveEntries(locked, p, {"a.txt"}, SameText);
                    },
                    "\": Permission denied"},
        RefusedEdit{"StoppedAdd",
                    [](const ArchivePaths& p, const fs::path& folder) {
                      const std::string a = Utf8Path(folder / "a.txt");
                      AddFiles(ModelFiles(), p, {{"c.txt", a, "a", "a.txt"}}, SameText,
                               {[] { return false; }});
                    },
                    "stopped; the archive was left as it was"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sectorsieve::testing
