// What each entry costs in calls to the seam and, on Windows, to the system's file functions:
// a call added for every entry (one more lookup of a name, say) fails here rather than in a
// benchmark. A run of 2n entries is set against one of n, so that only what each entry costs
// remains.

#include <gtest/gtest.h>

#include "extraction_run.h"
#include "hooked_file_system.h"
#include "system_calls.h"
#include "test_support.h"

namespace sectorsieve {
namespace {

namespace fs = std::filesystem;
using Counts = std::map<std::string, int>;

struct PerEntry {
  const char* label;
  const char* folder;  // the entries' files are in, made before the run; "" for none
  bool taken;          // a file has each entry's name before the run
  Counts system;       // on Windows; a call not named is made for no entry
};
void PrintTo(const PerEntry& c, std::ostream* os) { *os << c.label; }

// A new name costs one create and two marks: for the system to remove the file, and not to. A
// name taken costs the failed create, the temporary file, the question whether the file there
// is the archive's, and the rename.
const PerEntry kCases[] = {
    {"NewNames", "", false, {{"CreateFileW", 1}, {"SetFileInformationByHandle", 2}}},
    {"NewNamesInAFolder", "sub", false, {{"CreateFileW", 1}, {"SetFileInformationByHandle", 2}}},
    {"NamesTaken",
     "",
     true,
     {{"CreateFileW", 3}, {"GetFileInformationByHandle", 1}, {"MoveFileExW", 1}}},
};

class CallsPerEntry : public ::testing::TestWithParam<PerEntry> {
 protected:
  // The calls that a run of n entries makes, from loading the directory to the last file
  // named: the seam's, the new files' closes among them, and the system's.
  std::pair<Counts, Counts> RunOf(int n) {
    const PerEntry& c = GetParam();
    const fs::path out = root.path() / ("out" + std::to_string(n));
    fs::create_directories(out / c.folder);
    std::vector<testing::Entry> entries;
    for (int i = 0; i < n; ++i) {
      const std::string name = "e" + std::to_string(i) + ".bin";
      entries.push_back({*c.folder ? std::string(c.folder) + "\\" + name : name, i, 1});
      if (c.taken) testing::WriteBytes(out / c.folder / name, "old");
    }
    const std::string base = root / ("arc" + std::to_string(n));
    testing::WriteArchive(base, entries, static_cast<std::size_t>(n));
    testing::HookedFileSystem files;
    modArchive archive(files);
    const Counts before = testing::SystemFileCalls();
    const RunOutcome outcome =
        ExtractionRun(archive).Extract(ArchivePathsOf(base), {}, [&](const Archive&) {
          return RunTarget{out.string() + "\\", std::nullopt, {}};
        });
    Counts system = testing::SystemFileCalls();
    for (auto& [call, count] : system) count -= before.at(call);
    EXPECT_EQ(outcome.written.entries, static_cast<std::size_t>(n)) << outcome.failure;
    files.calls["Close"] = static_cast<int>(files.closers.size());
    return {files.calls, system};
  }

  // What each of n more entries added, call by call, leaving out the calls none added; a call
  // that the entries did not add alike shows as minus what they added.
  static Counts Each(const Counts& of2n, const Counts& ofN, int n) {
    Counts each;
    for (const auto& [call, count] : of2n)
      if (const int more = count - (ofN.contains(call) ? ofN.at(call) : 0); more != 0)
        each[call] = more % n == 0 ? more / n : -more;
    return each;
  }

  testing::TempDir root;
};

TEST_P(CallsPerEntry, AreTheFewestTheNameNeeds) {
  const auto [seamN, systemN] = RunOf(20);
  const auto [seam2N, system2N] = RunOf(40);

  EXPECT_EQ(Each(seam2N, seamN, 20), (Counts{{"Create", 1}, {"Close", 1}, {"Rename", 1}}));
#ifdef _WIN32
  EXPECT_EQ(Each(system2N, systemN, 20), GetParam().system);
#endif
}

INSTANTIATE_TEST_SUITE_P(Names, CallsPerEntry, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sectorsieve
