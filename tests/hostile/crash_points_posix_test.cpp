// A change of an archive stopped dead at every create, write, flush and rename, as a crash or a
// power cut would stop it: afterwards the archive reads as before or as after, never a mix, and
// the next command on it leaves no temporary file.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "archive_writer.h"
#include "edit_model.h"
#include "faulty_file_system.h"
#include "imgpack.h"

namespace sectorsieve::hostile {
namespace {

using namespace sectorsieve::testing;

constexpr int kCrashed = 42;

struct Scene {
  fs::path root;
  fs::path Base() const { return root / "a"; }
  ArchivePaths Paths() const { return ArchivePathsOf(Base().string()); }
  fs::path In() const { return root / "in"; }
};

struct CrashCase {
  const char* label;
  std::function<void(FileSystem&, const Scene&)> change;
};

// An archive with a gap where a removed entry was, beside a folder of files to pack or add.
void Stage(const Scene& s) {
  fs::remove_all(s.root);
  fs::create_directories(s.In());
  imgpack::ArchiveWriter writer(s.Base());
  writer.Append("keep.bin", PatternBytes(3000, 1));
  writer.Put("gone.bin", 0, 0);
  writer.Put("swap.txt", 5, 1, PatternBytes(100, 2));
  writer.Close();
  WriteBytes(s.In() / "swap.txt", PatternBytes(5000, 3));
  WriteBytes(s.In() / "new.bin", PatternBytes(2048, 4));
}

std::map<std::string, std::string> Read(const Scene& s) {
  return ExtractAll(ModelFiles(), s.Base(), s.root / "out");
}

class CrashPoints : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashPoints, LeaveTheArchiveAsBeforeOrAsAfterAndNothingOfTheirOwn) {
  const TempDir dir;
  const Scene scene{dir.path() / "scene"};
  Stage(scene);
  const auto before = Read(scene);
  Stage(scene);
  GetParam().change(ModelFiles(), scene);
  const auto after = Read(scene);
  ASSERT_NE(before, after);
  int crashes = 0;
  for (const FileOp op : {FileOp::CreateTemp, FileOp::Update, FileOp::Flush, FileOp::Replace}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(std::string(FileOpName(op)) + " " + std::to_string(n));
      Stage(scene);
      const pid_t child = ::fork();
      if (child == 0) {
        FaultyFileSystem files(op, n);
        files.failure = [] { ::_exit(kCrashed); };
        try {
          GetParam().change(files, scene);
        } catch (...) {
          ::_exit(1);
        }
        ::_exit(0);
      }
      int status = 0;
      ::waitpid(child, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      if (WEXITSTATUS(status) == 0) break;
      ASSERT_EQ(WEXITSTATUS(status), kCrashed);
      ++crashes;
      const auto now = Read(scene);
      EXPECT_TRUE(now == before || now == after);
      for (const std::string& name : ListTree(scene.root))
        EXPECT_FALSE(name.find(".sectorsieve") != std::string::npos) << name;
    }
  }
  // At least a create, a flush and the rename that publishes the change.
  EXPECT_GE(crashes, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, CrashPoints,
    ::testing::Values(CrashCase{"Pack",
                                [](FileSystem& files, const Scene& s) {
                                  imgpack::PackFolder(files, s.In().string(), s.Paths(),
                                                      [](const std::string& name) { return name; });
                                }},
                      CrashCase{"Add",
                                [](FileSystem& files, const Scene& s) {
                                  std::vector<AddedFile> added;
                                  for (const std::string name : {"swap.txt", "new.bin"}) {
                                    const std::string path = (s.In() / name).string();
                                    added.push_back({name, path, path, name});
                                  }
                                  AddFiles(files, s.Paths(), added, SameText, {});
                                }},
                      CrashCase{"Remove",
                                [](FileSystem& files, const Scene& s) {
                                  RemoveEntries(files, s.Paths(), {"swap.txt"}, SameText);
                                }},
                      CrashCase{"Compact",
                                [](FileSystem& files, const Scene& s) {
                                  RemoveEntries(ModelFiles(), s.Paths(), {"keep.bin"}, SameText);
                                  CompactArchive(files, s.Paths(), {});
                                }}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sectorsieve::hostile
