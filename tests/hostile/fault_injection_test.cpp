// Failing disks: every file operation of a run fails in turn, at every call it makes, and
// the destination folder or the data file changes under a running extraction. Whatever
// fails, the user is told, the window comes back, and the destination holds only whole files.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>

#include "faulty_file_system.h"
#include "hostile_support.h"
#include "memory_window.h"

namespace sectorsieve::hostile {
namespace {

namespace fs = std::filesystem;
using sectorsieve::testing::PatternBytes;
using sectorsieve::testing::Record;
using sectorsieve::testing::TempDir;
using sectorsieve::testing::WriteBytes;

struct Entry {
  const char* name;
  std::int32_t offset;
  std::int32_t size;
};

// Between them the five entries take every road through a copy: one sector, no bytes at
// all, more than one copy buffer (1 MiB), two sectors, and a last sector that the end of
// the data file cuts short.
constexpr Entry kEntries[] = {{"first.bin", 0, 1},
                              {"empty.txt", 1, 0},
                              {"big.dat", 1, 513},
                              {"notes.txt", 514, 2},
                              {"last.bin", 516, 2}};
constexpr int kEntryCount = 5;
constexpr std::size_t kImgBytes = 516 * kSectorBytes + 3 * kSectorBytes / 2;
const std::string kSuccess = "Extracted! Thanks Sectorsieve!";

// What a fault must look like to the user: the run stops with a box of its own, or the
// entry is listed as failed and the run goes on.
struct Outcome {
  bool stopsRun;
  std::string message;
};

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(root.path() / "arc");
    fs::create_directory(root.path() / "out");
    std::string dir;
    for (const Entry& e : kEntries) dir += Record(e.offset, e.size, e.name);
    WriteBytes(Base() + ".dir", dir);
    WriteBytes(Base() + ".img", img);
  }

  std::string Base() const { return (root.path() / "arc" / "a").string(); }
  // As the run hands it on, after adding the separator the box lacks.
  std::string Destination() const { return (root.path() / "out").string() + "\\"; }

  // Presses Extract as a user would, telling the file system which entry is in hand.
  void Run(ui::MemoryWindow& w, FaultyFileSystem& files) {
    w.form.pendingEvents = [&](int call) {
      files.entryInProgress = call - 1;
      if (meanwhile) meanwhile(call - 1);
    };
    w.lblSource.SetText(Base() + ".img");
    w.lblDestination.SetText((root.path() / "out").string());
    w.frm.cmdExtract_Click();
  }

  // The destination holds the given entries, each whole, and nothing else.
  void ExpectWritten(const std::set<int>& entries) const {
    std::map<std::string, std::string> expected;
    for (int i : entries) {
      const Entry& e = kEntries[i];
      expected[e.name] = Summary(EntryBytes(img, e.offset, e.size));
    }
    EXPECT_EQ(FolderSummary(root.path() / "out"), expected);
  }

  static void ExpectWindowBack(const ui::MemoryWindow& w) {
    EXPECT_TRUE(w.cmdExtract.Enabled());
    EXPECT_TRUE(w.cmdBrowseSource.Enabled());
    EXPECT_TRUE(w.cmdBrowseDestination.Enabled());
    EXPECT_EQ(w.form.pointer, ui::MousePointer::Default);
    EXPECT_FALSE(w.frm.Running());
  }

  // The failure is reported as the one box and the last caption of the run.
  static void ExpectReported(const ui::MemoryWindow& w, const Outcome& outcome, int entry) {
    ASSERT_EQ(w.form.boxes.size(), 1u);
    if (outcome.stopsRun) {
      EXPECT_EQ(w.form.Caption(), "Extraction failed");
      EXPECT_EQ(w.form.boxes[0].title, "Extraction failed");
      EXPECT_EQ(w.form.boxes[0].text, outcome.message);
    } else {
      EXPECT_EQ(w.form.Caption(), "Extracted with 1 error(s)");
      EXPECT_EQ(w.form.boxes[0].title, "Extraction errors");
      EXPECT_EQ(w.form.boxes[0].text, "1 of 5 entries could not be extracted:\r\n\r\n" +
                                          std::string(kEntries[entry].name) + ": " +
                                          outcome.message);
    }
  }

  // After the fault the disk recovers; the same window extracts everything.
  void ExpectSecondRunSucceeds(ui::MemoryWindow& w, FaultyFileSystem& files) {
    files.Disarm();
    meanwhile = nullptr;
    w.form.boxes.clear();
    Run(w, files);
    EXPECT_EQ(w.form.Caption(), kSuccess);
    EXPECT_TRUE(w.form.boxes.empty());
    ExpectWritten({0, 1, 2, 3, 4});
    ExpectWindowBack(w);
  }

  TempDir root;
  const std::string img = PatternBytes(kImgBytes);
  std::function<void(int entry)> meanwhile;
};

// ---- Every call of every operation fails in turn ----

class FailingCall : public FaultTest, public ::testing::WithParamInterface<FileOp> {
 protected:
  Outcome Expected(const FaultyFileSystem& files) const {
    const std::string dirFile = "The directory file \"" + Base() + ".dir\" could not be read: ";
    const std::string imgFile = "The archive \"" + Base() + ".img\" could not be ";
    const bool onDirectory = files.faultedPath.ends_with(".dir");
    const std::string name = files.faultedEntry >= 0 ? kEntries[files.faultedEntry].name : "";
    switch (GetParam()) {
      case FileOp::OpenDirectory:
        return {true, dirFile + kAccessDenied};
      case FileOp::OpenArchive:
        return {true, imgFile + "opened: " + kAccessDenied};
      case FileOp::Size:
        return {true, onDirectory ? dirFile + kIoFailure : imgFile + "opened: " + kIoFailure};
      case FileOp::ReadAt:
        return {true, onDirectory ? dirFile + kIoFailure : imgFile + "read: " + kIoFailure};
      case FileOp::CreateTemp:
        return {true, "The destination folder \"" + Destination() +
                          "\" could not be written: " + kAccessDenied};
      case FileOp::Write:
        return {false, std::string("could not be written: ") + kDiskFull};
      case FileOp::Close:
        return {false, std::string("could not be written: ") + kIoFailure};
      case FileOp::Rename:
        return {false, "could not be saved as \"" + Destination() + name + "\": " + kAccessDenied};
      case FileOp::Update:
      case FileOp::Flush:
      case FileOp::Replace:
      case FileOp::FlushFolder:
        break;
    }
    return {};
  }

  // The entries whose copy makes calls of this operation (-1: the directory stage).
  std::set<int> Reaches() const {
    switch (GetParam()) {
      case FileOp::OpenDirectory:
        return {-1};
      case FileOp::OpenArchive:
        return {-1, 0};
      case FileOp::Size:
        return {-1, 0};
      // The empty entry neither reads nor writes.
      case FileOp::ReadAt:
        return {-1, 0, 2, 3, 4};
      case FileOp::Write:
        return {0, 2, 3, 4};
      default:
        return {0, 1, 2, 3, 4};
    }
  }
};

TEST_P(FailingCall, IsReportedAndLeavesOnlyWholeFiles) {
  const FileOp op = GetParam();
  int calls = 0;
  {
    FaultyFileSystem counting(op, 0);
    ui::MemoryWindow w(counting);
    Run(w, counting);
    ASSERT_EQ(w.form.Caption(), kSuccess);
    calls = counting.Calls(op);
    fs::remove_all(root.path() / "out");
    fs::create_directory(root.path() / "out");
  }
  ASSERT_GT(calls, 0);
  RecordProperty("faultPositions", calls);

  std::set<int> reached;
  for (int nth = 1; nth <= calls; ++nth) {
    SCOPED_TRACE(std::string(FileOpName(op)) + " call " + std::to_string(nth));
    FaultyFileSystem files(op, nth);
    ui::MemoryWindow w(files);
    Run(w, files);
    ASSERT_TRUE(files.fired);
    const int k = files.faultedEntry;
    reached.insert(k);

    const Outcome outcome = Expected(files);
    ExpectReported(w, outcome, k);
    ExpectWindowBack(w);
    std::set<int> written;
    for (int i = 0; i < kEntryCount; ++i)
      if (outcome.stopsRun ? i < k : i != k) written.insert(i);
    ExpectWritten(written);
    EXPECT_EQ(Summary(FolderBytes(root.path() / "arc").at("a.img")), Summary(img));

    ExpectSecondRunSucceeds(w, files);
    fs::remove_all(root.path() / "out");
    fs::create_directory(root.path() / "out");
  }
  // The fault met every entry that makes such calls: the first, the middle and the last.
  EXPECT_EQ(reached, Reaches());
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, FailingCall,
                         ::testing::Values(FileOp::OpenDirectory, FileOp::OpenArchive, FileOp::Size,
                                           FileOp::ReadAt, FileOp::CreateTemp, FileOp::Write,
                                           FileOp::Close, FileOp::Rename),
                         [](const auto& info) { return std::string(FileOpName(info.param)); });

// ---- A file fails to finish on the pool while later entries are being written ----

struct FinishFault {
  FileOp op;
  int file;  // numbered as created, from 1; it holds entry file - 1
};

void PrintTo(const FinishFault& f, std::ostream* os) {
  *os << FileOpName(f.op) << " of file " << f.file;
}

class FinishingFails : public FaultTest, public ::testing::WithParamInterface<FinishFault> {};

TEST_P(FinishingFails, IsReportedWithTheOthersAndTheRestIsWritten) {
  const FinishFault& f = GetParam();
  FaultyFileSystem files(f.op, f.file);
  ui::MemoryWindow w(files);
  // The failing file is held until the next entry's file exists: it fails while later
  // entries are being written.
  std::atomic<bool> overlapped = false;
  files.beforeClose = [&](int file) {
    if (file == f.file) overlapped = files.WaitForCalls(FileOp::CreateTemp, file + 1);
  };
  Run(w, files);

  EXPECT_TRUE(overlapped);
  ASSERT_TRUE(files.fired);
  EXPECT_EQ(files.faultedEntry, f.file - 1);
  const std::string reason = f.op == FileOp::Close
                                 ? std::string("could not be written: ") + kIoFailure
                                 : "could not be saved as \"" + Destination() +
                                       kEntries[f.file - 1].name + "\": " + kAccessDenied;
  ExpectReported(w, {false, reason}, f.file - 1);
  ExpectWindowBack(w);
  std::set<int> written{0, 1, 2, 3, 4};
  written.erase(f.file - 1);
  ExpectWritten(written);
}

INSTANTIATE_TEST_SUITE_P(
    OnThePool, FinishingFails,
    ::testing::Values(FinishFault{FileOp::Close, 1}, FinishFault{FileOp::Close, 3},
                      FinishFault{FileOp::Close, 4}, FinishFault{FileOp::Rename, 1},
                      FinishFault{FileOp::Rename, 2}, FinishFault{FileOp::Rename, 4}),
    [](const auto& info) {
      return std::string(FileOpName(info.param.op)) + "OfFile" + std::to_string(info.param.file);
    });

// ---- The run fails with entries in flight ----

struct InFlightFault {
  FileOp op;
  int nth;
  int entry;  // the entry the fault meets; those before it are in flight
  std::string message;
};

void PrintTo(const InFlightFault& f, std::ostream* os) {
  *os << FileOpName(f.op) << " call " << f.nth;
}

class RunFailsInFlight : public FaultTest, public ::testing::WithParamInterface<InFlightFault> {};

TEST_P(RunFailsInFlight, WaitsForThemAndReportsTheFailure) {
  const InFlightFault& f = GetParam();
  FaultyFileSystem files(f.op, f.nth);
  ui::MemoryWindow w(files);
  // Every file is held open until the fault has struck.
  std::atomic<int> heldUntilFault = 0;
  files.beforeClose = [&](int) {
    if (files.WaitForFault()) ++heldUntilFault;
  };
  Run(w, files);

  ASSERT_TRUE(files.fired);
  EXPECT_EQ(files.faultedEntry, f.entry);
  EXPECT_EQ(heldUntilFault, f.entry);
  const std::string message =
      (f.op == FileOp::CreateTemp ? "The destination folder \"" + Destination() + "\""
                                  : "The archive \"" + Base() + ".img\"") +
      f.message;
  ExpectReported(w, {true, message}, f.entry);
  ExpectWindowBack(w);
  std::set<int> written;
  for (int i = 0; i < f.entry; ++i) written.insert(i);
  ExpectWritten(written);
}

// ReadAt calls: the directory, first.bin, two for big.dat (1 MiB at a time), then notes.txt.
INSTANTIATE_TEST_SUITE_P(
    OnThePool, RunFailsInFlight,
    ::testing::Values(InFlightFault{FileOp::CreateTemp, 3, 2,
                                    std::string(" could not be written: ") + kAccessDenied},
                      InFlightFault{FileOp::CreateTemp, 5, 4,
                                    std::string(" could not be written: ") + kAccessDenied},
                      InFlightFault{FileOp::ReadAt, 5, 3,
                                    std::string(" could not be read: ") + kIoFailure}),
    [](const auto& info) {
      return std::string(FileOpName(info.param.op)) + "AtEntry" + std::to_string(info.param.entry);
    });

// ---- The destination folder disappears before an entry ----

class FolderRemoved : public FaultTest, public ::testing::WithParamInterface<int> {};

#ifdef _WIN32
// The run holds its folder open without letting anyone delete it: no one can remove or rename
// it meanwhile, and the run ends in the folder it began in.
TEST_P(FolderRemoved, CannotBeWhileTheRunHoldsIt) {
  const int k = GetParam();
  FaultyFileSystem files(FileOp::Write, 0);
  ui::MemoryWindow w(files);
  bool moved = true;
  meanwhile = [&](int entry) {
    std::error_code error;
    if (entry == k) fs::rename(root.path() / "out", root.path() / "moved", error);
    if (entry == k) moved = !error;
  };
  Run(w, files);

  EXPECT_FALSE(moved);
  EXPECT_EQ(w.form.Caption(), "Extracted! Thanks Sectorsieve!");
  EXPECT_TRUE(w.form.boxes.empty());
  ExpectWritten({0, 1, 2, 3, 4});
  ExpectWindowBack(w);
}
#else
// Removes folder file by file; one still in flight is finished in a moment, so each file is
// tried again until it is.
void RemoveFolder(const fs::path& folder) {
  for (int attempt = 0;; ++attempt) {
    std::error_code error;
    for (const auto& file : fs::directory_iterator(folder)) fs::remove(file.path(), error);
    if (fs::remove(folder, error)) return;
    if (attempt == 1000) throw fs::filesystem_error("cannot remove the folder", folder, error);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST_P(FolderRemoved, StopsTheRunWithoutRecreatingIt) {
  const int k = GetParam();
  FaultyFileSystem files(FileOp::Write, 0);
  ui::MemoryWindow w(files);
  meanwhile = [&](int entry) {
    if (entry == k) RemoveFolder(root.path() / "out");
  };
  Run(w, files);

  EXPECT_EQ(w.form.Caption(), "Extraction failed");
  ASSERT_EQ(w.form.boxes.size(), 1u);
  EXPECT_EQ(w.form.boxes[0].title, "Extraction failed");
  EXPECT_TRUE(w.form.boxes[0].text.starts_with("The destination folder \"" + Destination() +
                                               "\" could "
                                               "not be written: "))
      << w.form.boxes[0].text;
  // Nothing was written after the fault, so nothing brought the folder back.
  EXPECT_FALSE(fs::exists(root.path() / "out"));
  EXPECT_EQ(files.Calls(FileOp::CreateTemp), k + 1);
  ExpectWindowBack(w);

  fs::create_directory(root.path() / "out");
  ExpectSecondRunSucceeds(w, files);
}
#endif

INSTANTIATE_TEST_SUITE_P(BeforeEachEntry, FolderRemoved, ::testing::Range(0, kEntryCount));

// ---- The data file is cut short before an entry ----

#ifndef _WIN32
// Windows refuses to shorten a file that the run holds open, since it denies writers while it
// reads; elsewhere another program can, and the run must notice.
struct Truncation {
  int beforeEntry;
  std::size_t newLength;
  std::string caption;
  std::set<int> written;
  std::string firstFileBytes;  // what first.bin must hold, when written
  std::vector<std::string> failedEntries;
  bool stopsRun;
};

void PrintTo(const Truncation& t, std::ostream* os) {
  *os << "cut to " << t.newLength << " bytes before entry " << t.beforeEntry;
}

class DataFileShortened : public FaultTest, public ::testing::WithParamInterface<Truncation> {};

TEST_P(DataFileShortened, IsReportedAndLeavesOnlyWholeFiles) {
  const Truncation& t = GetParam();
  FaultyFileSystem files(FileOp::Write, 0);
  ui::MemoryWindow w(files);
  meanwhile = [&](int entry) {
    if (entry == t.beforeEntry) fs::resize_file(Base() + ".img", t.newLength);
  };
  Run(w, files);

  EXPECT_EQ(w.form.Caption(), t.caption);
  ASSERT_EQ(w.form.boxes.size(), 1u);
  if (t.stopsRun) {
    EXPECT_EQ(w.form.boxes[0].title, "Extraction failed");
    EXPECT_EQ(w.form.boxes[0].text, "The archive \"" + Base() +
                                        ".img\" could not be read: it became shorter during "
                                        "the extraction");
  } else {
    EXPECT_EQ(w.form.boxes[0].title, "Extraction errors");
    std::string text =
        std::to_string(t.failedEntries.size()) + " of 5 entries could not be extracted:\r\n";
    for (const std::string& name : t.failedEntries)
      text += "\r\n" + name + ": lies beyond the end of the archive";
    EXPECT_EQ(w.form.boxes[0].text, text);
  }
  ExpectWindowBack(w);

  std::map<std::string, std::string> expected;
  const std::string shortened = img.substr(0, t.newLength);
  for (int i : t.written) {
    const Entry& e = kEntries[i];
    expected[e.name] = Summary(EntryBytes(shortened, e.offset, e.size));
  }
  EXPECT_EQ(FolderSummary(root.path() / "out"), expected);
  if (t.written.contains(0)) {
    EXPECT_EQ(Summary(FolderBytes(root.path() / "out").at("first.bin")), Summary(t.firstFileBytes));
  }
}

const std::string kFirstSector = PatternBytes(kImgBytes).substr(0, kSectorBytes);

INSTANTIATE_TEST_SUITE_P(
    BeforeEachEntry, DataFileShortened,
    ::testing::Values(
        // Before the archive is opened: the run sees the short file and fits entries to it;
        // the empty entry starts right at the end of its sectors, which is allowed.
        Truncation{0,
                   1024,
                   "Extracted with 3 error(s)",
                   {0, 1},
                   kFirstSector.substr(0, 1024) + std::string(1024, '\0'),
                   {"big.dat", "notes.txt", "last.bin"},
                   false},
        // The empty entry reads nothing; the next one finds the bytes gone.
        Truncation{1, 3072, "Extraction failed", {0, 1}, kFirstSector, {}, true},
        Truncation{2, 3072, "Extraction failed", {0, 1}, kFirstSector, {}, true},
        Truncation{
            3, 514 * kSectorBytes + 1024, "Extraction failed", {0, 1, 2}, kFirstSector, {}, true},
        Truncation{4,
                   516 * kSectorBytes + 1024,
                   "Extraction failed",
                   {0, 1, 2, 3},
                   kFirstSector,
                   {},
                   true}),
    [](const auto& info) { return "Entry" + std::to_string(info.param.beforeEntry); });
#endif

// ---- Failures that no disk reports: out of memory, a broken invariant ----

class UnexpectedFailure : public FaultTest {};

TEST_F(UnexpectedFailure, EndsTheRunWithItsBoxAndTheWindowStillCloses) {
  const struct {
    FileOp op;
    int nth;
    std::function<void()> failure;
    std::string message;
    std::set<int> written;
  } cases[] = {
      {FileOp::ReadAt,
       1,
       [] { throw std::bad_alloc(); },
       "There is not enough memory to read the directory file \"" + Base() + ".dir\".",
       {}},
      {FileOp::CreateTemp,
       3,
       [] { throw std::bad_alloc(); },
       "There is not enough memory to go on.",
       {0, 1}},
      // On the run's own thread, so that what is written before the run stops does not hang
      // on the finishing threads' timing.
      {FileOp::CreateTemp,
       2,
       [] { throw std::logic_error("a broken invariant"); },
       "The extraction stopped: a broken invariant",
       {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    FaultyFileSystem files(c.op, c.nth);
    files.failure = c.failure;
    ui::MemoryWindow w(files);
    Run(w, files);
    ASSERT_TRUE(files.fired);
    ExpectReported(w, {true, c.message}, files.faultedEntry);
    ExpectWindowBack(w);
    ExpectWritten(c.written);
    w.frm.mnuQuit_Click();
    EXPECT_TRUE(w.form.unloaded);
    fs::remove_all(root.path() / "out");
    fs::create_directory(root.path() / "out");
  }
}

}  // namespace
}  // namespace sectorsieve::hostile
