// The run object on its own, with each number of finishers: files are closed and renamed off
// the writing thread, yet the destination ends as if every entry had been finished in turn.

#include <gtest/gtest.h>

#include <chrono>

#include "extraction_run.h"
#include "hooked_file_system.h"
#include "test_support.h"

namespace sectorsieve {
namespace {

namespace fs = std::filesystem;
using testing::EntryBytes;
using testing::HookedFileSystem;
using testing::ListTree;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::Record;
using testing::TempDir;
using testing::WriteBytes;

using testing::Entry;

// A close that takes a while, varying from file to file, so that finishers overtake each other.
void UnevenClose(int file) {
  std::this_thread::sleep_for(std::chrono::microseconds(file * 37 % 900));
}

class FinishingTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override { fs::create_directory(root.path() / "out"); }

  void Archive(const std::vector<Entry>& entries, std::size_t sectors) {
    img = testing::WriteArchive(root.path() / "arc", entries, sectors);
    loaded = archive.LoadDirectory(root / "arc");
  }

  RunTarget Out() const { return {(root.path() / "out").string() + "\\", std::nullopt, {}}; }
  RunFailures Run() { return run.Run(loaded, Out()); }

  // The destination holds exactly these entries, each whole, and no temporary file.
  void ExpectWritten(const std::vector<Entry>& entries) const {
    std::set<std::string> names;
    for (const Entry& e : entries) {
      names.insert(e.name);
      EXPECT_EQ(ReadBytes(root.path() / "out" / e.name), EntryBytes(img, e)) << e.name;
    }
    EXPECT_EQ(ListTree(root.path() / "out"), names);
  }

  static std::vector<std::string> Reported(const RunFailures& failures) {
    std::vector<std::string> lines;
    for (const EntryError& e : failures) lines.push_back(e.entry() + ": " + e.reason());
    return lines;
  }

  TempDir root;
  std::string img;
  HookedFileSystem files;
  modArchive archive{files};
  sectorsieve::Archive loaded;
  ExtractionRun run{archive, GetParam()};
};

TEST_P(FinishingTest, FailuresOfWritingAndOfFinishingAreReportedInDirectoryOrder) {
  std::vector<Entry> entries;
  for (int i = 0; i < 40; ++i) entries.push_back({"f" + std::to_string(i) + ".bin", i, 1 + i % 3});
  entries[3].offset = -1;
  entries[17].name = "..\\up.bin";
  entries[31].offset = 500;
  Archive(entries, 42);
  // Files are numbered as created; entries 3 and 17 create none.
  files.beforeClose = [](int file) {
    UnevenClose(file);
    if (file == 6 || file == 28) throw IoError("Input/output error");
  };
  files.renameTo = [&](const std::string& to) {
    if (to.ends_with("f10.bin")) throw IoError("Access is denied");
    return to;
  };

  const auto failures = Run();

  const std::string out = (root.path() / "out").string() + "\\";
  EXPECT_EQ(Reported(failures),
            (std::vector<std::string>{
                "f3.bin: has a negative offset",
                "f6.bin: could not be written: Input/output error",
                "f10.bin: could not be saved as \"" + out + "f10.bin\": Access is denied",
                "..\\up.bin: has a name that leaves the destination folder",
                "f29.bin: could not be written: Input/output error",
                "f31.bin: lies beyond the end of the archive",
            }));
  std::vector<Entry> written;
  for (int i = 0; i < 40; ++i)
    if (i != 3 && i != 6 && i != 10 && i != 17 && i != 29 && i != 31) written.push_back(entries[i]);
  ExpectWritten(written);
}

TEST_P(FinishingTest, ARunThatCannotGoOnFinishesWhatIsInFlightAndCountsIt) {
  std::vector<Entry> entries;
  for (int i = 0; i < 12; ++i) entries.push_back({"f" + std::to_string(i) + ".bin", i, 1});
  entries[0].name = "..\\up.bin";
  Archive(entries, 12);
  files.beforeClose = [](int file) {
    if (file == 2) throw IoError("Input/output error");
  };
  files.beforeCreate = [](int file) {
    if (file == 5) throw IoError("Access is denied");
  };

  try {
    Run();
    FAIL() << "the run went on";
  } catch (const RunError& e) {
    EXPECT_EQ(std::string(e.what()), "The destination folder \"" + (root.path() / "out").string() +
                                         "\\\" could not be written: Access is denied");
    EXPECT_EQ(Reported(e.failures()),
              (std::vector<std::string>{"..\\up.bin: has a name that leaves the destination folder",
                                        "f2.bin: could not be written: Input/output error"}));
  }
  ExpectWritten({entries[1], entries[3], entries[4]});
}

TEST_P(FinishingTest, LaterEntryOfTheSameNameWinsWhateverTheFinishersDo) {
  // Windows takes these for one file; here the renames are made to land on one name as they
  // would there.
  const char* const names[] = {"same.bin", "SAME.BIN", "Same.Bin.", "same.BIN.."};
  std::vector<Entry> entries;
  for (int i = 0; i < 60; ++i) entries.push_back({names[i % 4], i, 1});
  entries.push_back({"other.bin", 60, 1});
  Archive(entries, 61);
  // The last entry's file closes at once, the others slowly: finishers left alone would
  // rename it before those still in flight.
  files.beforeClose = [](int file) {
    if (file != 60) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  files.renameTo = [](std::string to) {
    const std::size_t name = to.find_last_of('\\') + 1;
    while (to.back() == '.' || to.back() == ' ') to.pop_back();
    for (std::size_t i = name; i < to.size(); ++i)
      to[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(to[i])));
    return to;
  };

  EXPECT_TRUE(Run().empty());

  EXPECT_EQ(ListTree(root.path() / "out"), (std::set<std::string>{"same.bin", "other.bin"}));
  EXPECT_EQ(ReadBytes(root.path() / "out" / "same.bin"), EntryBytes(img, entries[59]));
}

TEST_P(FinishingTest, LaterOfTwoSpellingsOfOneNameWinsOnTheRealFileSystem) {
  // Code page 1252: "café" and "CAFÉ", which Windows takes for one name.
  if (files.Ansi().Id() != 1252) GTEST_SKIP() << "the names are spelled in code page 1252";
  constexpr int kPairs = 300;
  std::vector<Entry> entries;
  for (int i = 0; i < kPairs; ++i) {
    const std::string n = std::to_string(1000 + i).substr(1);
    entries.push_back({"caf\xE9" + n + ".bin", 2 * i, 1});
    entries.push_back({"CAF\xC9" + n + ".BIN", 2 * i + 1, 1});
  }
  Archive(entries, 2 * kPairs);
  files.beforeClose = UnevenClose;
  // Whether the file system takes two spellings for one name, it says itself.
  const std::string out = (root.path() / "out").string() + "\\";
  WriteBytes(root.path() / "out" / "probe", "");
  const bool oneName = files.IsPlainFile(out + "PROBE");
  fs::remove(root.path() / "out" / "probe");

  EXPECT_TRUE(Run().empty());

  // Every entry's bytes under its own spelling, except where a later spelling took its place.
  for (std::size_t i = oneName ? 1 : 0; i < entries.size(); i += oneName ? 2 : 1) {
    const auto file = files.OpenRead(out + files.Shown(entries[i].name));
    std::string bytes(static_cast<std::size_t>(file->Size()), '\0');
    file->ReadAt(0, bytes.data(), bytes.size());
    EXPECT_EQ(bytes, EntryBytes(img, entries[i])) << i;
  }
  EXPECT_EQ(ListTree(root.path() / "out").size(), static_cast<std::size_t>(kPairs << !oneName));
}

TEST_P(FinishingTest, UnexpectedFailureOfAFinisherStopsTheRunAndIsRethrown) {
  std::vector<Entry> entries;
  for (int i = 0; i < 200; ++i) entries.push_back({"f" + std::to_string(i) + ".bin", i % 4, 1});
  Archive(entries, 4);
  files.beforeClose = [](int file) {
    if (file == 5) throw std::length_error("out of room");
  };

  EXPECT_THROW(Run(), std::length_error);

  // Entries stop soon after the failure: at most those the queue held then.
  EXPECT_LE(ListTree(root.path() / "out").size(), 5 + ExtractionRun::kMaxEntriesInFlight + 1);
  for (const std::string& name : ListTree(root.path() / "out"))
    EXPECT_TRUE(name.starts_with("f") && name.ends_with(".bin")) << name;
  EXPECT_FALSE(fs::exists(root.path() / "out" / "f4.bin"));
}

TEST_P(FinishingTest, FilesAreFinishedOnTheFinishersAndOpenFilesStayBounded) {
  std::vector<Entry> entries;
  for (int i = 0; i < 150; ++i) entries.push_back({"f" + std::to_string(i) + ".bin", i % 8, 1});
  Archive(entries, 8);
  files.beforeClose = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };

  EXPECT_TRUE(Run().empty());

  ASSERT_EQ(files.closers.size(), entries.size());
  const auto onCaller =
      std::count(files.closers.begin(), files.closers.end(), std::this_thread::get_id());
  EXPECT_EQ(onCaller, GetParam() == 0 ? 150 : 0);
  // One file being written beside those queued or being finished.
  EXPECT_LE(files.peakOpen, static_cast<int>(ExtractionRun::kMaxEntriesInFlight) + 1);
  EXPECT_EQ(ListTree(root.path() / "out").size(), entries.size());
}

TEST_P(FinishingTest, EntriesAreExactHoweverMuchTheSystemCopiesByItself) {
  std::vector<Entry> entries;
  for (int i = 0; i < 12; ++i) entries.push_back({"f" + std::to_string(i) + ".bin", i, i % 3 + 1});
  Archive(entries, 14);
  // None, one byte, a sector and a bit, or all of each entry.
  for (const std::int64_t most : {std::int64_t{0}, std::int64_t{1}, std::int64_t{2053},
                                  std::numeric_limits<std::int64_t>::max()}) {
    SCOPED_TRACE(most);
    files.copyAtMost = most;
    fs::remove_all(root.path() / "out");
    fs::create_directory(root.path() / "out");
    EXPECT_TRUE(ExtractionRun(archive, GetParam()).Run(loaded, Out()).empty());
    ExpectWritten(entries);
  }
}

// The test's files make no holes: the holes of a sparse data file are written as zeros.
TEST_P(FinishingTest, HolesBecomeZerosInAnOutputThatHasNone) {
  WriteBytes(root.path() / "arc.dir", Record(0, 20000, "sparse.bin"));
  testing::WriteSparseData(root.path() / "arc.img", 20000, 4096);
  loaded = archive.LoadDirectory(root / "arc");
  EXPECT_TRUE(Run().empty());
  EXPECT_TRUE(ReadBytes(root.path() / "out" / "sparse.bin") == testing::SparseBytes(20000, 4096));
}

INSTANTIATE_TEST_SUITE_P(Finishers, FinishingTest, ::testing::Values(0u, 1u, 4u, 8u),
                         [](const auto& info) { return "Pool" + std::to_string(info.param); });

}  // namespace
}  // namespace sectorsieve
