// What each entry costs in calls to the file system, through the seam and, on Windows, to the
// system itself: a call added for every entry (one more lookup of a name, say) fails here
// rather than in a benchmark. A run of 2n entries is set against one of n, so that what a
// run costs once falls away and only what each entry costs remains.

#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "extraction_run.h"
#include "system_calls.h"
#include "test_support.h"

namespace sectorsieve {
namespace {

namespace fs = std::filesystem;
using testing::Entry;
using testing::TempDir;
using Counts = std::map<std::string, int>;

// The real file system, counting every call made to it, its folders' and the new files'
// Close.
class CountingFileSystem final : public ForwardingFileSystem {
 public:
  CountingFileSystem() : ForwardingFileSystem(SystemFileSystem()) {}

  Counts Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void Count(const char* call) {
    std::lock_guard lock(mutex_);
    ++calls_[call];
  }

  std::unique_ptr<InputFile> OpenRead(const std::string& p) override {
    return Count("OpenRead"), inner_.OpenRead(p);
  }
  std::unique_ptr<InputFile> OpenSource(const std::string& p) override {
    return Count("OpenSource"), inner_.OpenSource(p);
  }
  std::unique_ptr<OutputFolder> OpenFolder(const std::string& p) override {
    Count("OpenFolder");
    return std::make_unique<Folder>(inner_.OpenFolder(p), *this);
  }
  bool IsPlainFile(const std::string& p) override {
    return Count("IsPlainFile"), inner_.IsPlainFile(p);
  }
  bool IsFolder(const std::string& p) override { return Count("IsFolder"), inner_.IsFolder(p); }
  std::optional<FileId> Id(const std::string& p) override { return Count("Id"), inner_.Id(p); }
  std::unique_ptr<UpdateFile> OpenUpdate(const std::string& p) override {
    return Count("OpenUpdate"), inner_.OpenUpdate(p);
  }
  void CheckWritable(const std::string& p) override {
    Count("CheckWritable");
    inner_.CheckWritable(p);
  }
  std::unique_ptr<UpdateFile> CreateBeside(const std::string& p) override {
    return Count("CreateBeside"), inner_.CreateBeside(p);
  }
  void Replace(const std::string& from, const std::string& to) override {
    Count("Replace");
    inner_.Replace(from, to);
  }
  void Remove(const std::string& p) noexcept override {
    Count("Remove");
    inner_.Remove(p);
  }
  bool Exists(const std::string& p) override { return Count("Exists"), inner_.Exists(p); }
  std::vector<FolderItem> ListFolder(const std::string& p) override {
    return Count("ListFolder"), inner_.ListFolder(p);
  }
  bool SameFile(const std::string& a, const std::string& b) override {
    return Count("SameFile"), inner_.SameFile(a, b);
  }
  void RemoveLeftovers(const std::string& p) noexcept override {
    Count("RemoveLeftovers");
    inner_.RemoveLeftovers(p);
  }
  std::unique_ptr<ArchiveLock> LockArchive(const std::string& b,
                                           const std::function<bool()>& wait) override {
    return Count("LockArchive"), inner_.LockArchive(b, wait);
  }
  std::unique_ptr<ArchiveLock> LockFile(const std::string& p,
                                        const std::function<bool()>& wait) override {
    return Count("LockFile"), inner_.LockFile(p, wait);
  }
  std::string Spelled(const std::string& p) override { return Count("Spelled"), inner_.Spelled(p); }

 private:
  class File final : public OutputFile {
   public:
    File(std::unique_ptr<OutputFile> real, CountingFileSystem& fs)
        : real_(std::move(real)), fs_(fs) {}
    const std::string& Name() const override { return real_->Name(); }
    void Write(const char* data, std::size_t count) override { real_->Write(data, count); }
    std::int64_t CopyFrom(InputFile& source, std::int64_t offset, std::int64_t count) override {
      return real_->CopyFrom(source, offset, count);
    }
    bool AppendHole(std::int64_t count) override { return real_->AppendHole(count); }
    void Close() override {
      fs_.Count("Close");
      real_->Close();
    }

   private:
    std::unique_ptr<OutputFile> real_;
    CountingFileSystem& fs_;
  };

  class Folder final : public OutputFolder {
   public:
    Folder(std::unique_ptr<OutputFolder> real, CountingFileSystem& fs)
        : real_(std::move(real)), fs_(fs) {}
    std::unique_ptr<OutputFile> CreateTemp() override {
      fs_.Count("CreateTemp");
      return std::make_unique<File>(real_->CreateTemp(), fs_);
    }
    std::unique_ptr<OutputFile> Create(const std::string& name) override {
      fs_.Count("Create");
      return std::make_unique<File>(real_->Create(name), fs_);
    }
    void Rename(const std::string& temp, const std::string& name) override {
      fs_.Count("Rename");
      real_->Rename(temp, name);
    }
    void Remove(const std::string& temp) noexcept override {
      fs_.Count("Folder::Remove");
      real_->Remove(temp);
    }
    void Keep(std::vector<FileId> files) override { real_->Keep(std::move(files)); }
    std::string Shown(std::string_view name) const override { return real_->Shown(name); }

   private:
    std::unique_ptr<OutputFolder> real_;
    CountingFileSystem& fs_;
  };

  std::mutex mutex_;
  Counts calls_;
};

struct PerEntry {
  const char* label;
  const char* folder;  // that the entries' files are in, made before the run; "" for none
  bool replacing;      // a file has each entry's name before the run
  Counts seam;
  Counts system;  // on Windows; the calls not named are expected to be none
};
void PrintTo(const PerEntry& c, std::ostream* os) { *os << c.label; }

// A new name costs one create and two marks: for the removal should the run end before the
// file is whole, and its end. A name taken costs the failed create, the temporary file, the
// question whether the file there is the archive's, and the rename.
const PerEntry kCases[] = {
    {"NewNames",
     "",
     false,
     {{"Create", 1}, {"Close", 1}, {"Rename", 1}},
     {{"CreateFileW", 1}, {"SetFileInformationByHandle", 2}}},
    {"NewNamesInAFolder",
     "sub",
     false,
     {{"Create", 1}, {"Close", 1}, {"Rename", 1}},
     {{"CreateFileW", 1}, {"SetFileInformationByHandle", 2}}},
    {"NamesTaken",
     "",
     true,
     {{"Create", 1}, {"Close", 1}, {"Rename", 1}},
     {{"CreateFileW", 3}, {"GetFileInformationByHandle", 1}, {"MoveFileExW", 1}}},
};

class CallsPerEntry : public ::testing::TestWithParam<PerEntry> {
 protected:
  // Calls made by a run of n entries, from loading the directory to the last file named: those
  // of the seam, then those of the system.
  std::pair<Counts, Counts> RunOf(int n) {
    const PerEntry& c = GetParam();
    const fs::path out = root.path() / ("out" + std::to_string(n));
    fs::create_directories(out / c.folder);
    std::vector<Entry> entries;
    for (int i = 0; i < n; ++i) {
      const std::string name =
          std::string(c.folder) + (*c.folder ? "\\" : "") + "e" + std::to_string(i) + ".bin";
      entries.push_back({name, i, 1});
      if (c.replacing)
        testing::WriteBytes(out / c.folder / ("e" + std::to_string(i) + ".bin"), "old");
    }
    testing::WriteArchive(root.path() / ("arc" + std::to_string(n)), entries,
                          static_cast<std::size_t>(n));
    CountingFileSystem files;
    modArchive archive(files);
    ExtractionRun run(archive);
    const Counts before = testing::SystemFileCalls();
    const RunOutcome outcome =
        run.Extract(ArchivePathsOf(root / ("arc" + std::to_string(n))), {}, [&](const Archive&) {
          return RunTarget{out.string() + "\\", std::nullopt, {}};
        });
    const Counts after = testing::SystemFileCalls();
    EXPECT_TRUE(outcome.failure.empty()) << outcome.failure;
    EXPECT_TRUE(outcome.failures.empty());
    EXPECT_EQ(outcome.written.entries, static_cast<std::size_t>(n));
    Counts system;
    for (const auto& [call, count] : after) system[call] = count - before.at(call);
    return {files.Calls(), system};
  }

  // What each of n more entries added, call by call; calls that none added are left out.
  static Counts PerEntryOf(const Counts& of2n, const Counts& ofN, int n) {
    Counts each;
    for (const auto& [call, count] : of2n) {
      const auto once = ofN.find(call);
      const int more = count - (once == ofN.end() ? 0 : once->second);
      if (more != 0) each[call] = more % n == 0 ? more / n : -more;  // negative: not per entry
    }
    return each;
  }

  TempDir root;
};

TEST_P(CallsPerEntry, AreTheFewestTheNameNeeds) {
  constexpr int kEntries = 20;
  const auto [seamN, systemN] = RunOf(kEntries);
  const auto [seam2N, system2N] = RunOf(2 * kEntries);

  EXPECT_EQ(PerEntryOf(seam2N, seamN, kEntries), GetParam().seam);
#ifdef _WIN32
  EXPECT_EQ(PerEntryOf(system2N, systemN, kEntries), GetParam().system);
#endif
}

INSTANTIATE_TEST_SUITE_P(Names, CallsPerEntry, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sectorsieve
