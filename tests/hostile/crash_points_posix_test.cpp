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
  std::function<void(const Scene&)> prepare = {};  // after staging, before the change
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

// The same and the length of the data file, which compact changes.
std::map<std::string, std::string> ReadWithSize(const Scene& s) {
  auto state = Read(s);
  state["#img"] = std::to_string(fs::file_size(s.Paths().img));
  return state;
}

// No temporary file of the program's is left in folder.
void ExpectNoTemporaries(const fs::path& folder) {
  for (const std::string& name : ListTree(folder))
    EXPECT_EQ(name.find(".sectorsieve"), std::string::npos) << (folder / name);
}

class CrashPoints : public ::testing::TestWithParam<CrashCase> {
 protected:
  static void Prepare(const Scene& s) {
    Stage(s);
    if (GetParam().prepare) GetParam().prepare(s);
  }
  // The change and what comes before it, as a crash may stop either.
  static void Whole(FileSystem& files, const Scene& s) {
    if (GetParam().prepare) GetParam().prepare(s);
    GetParam().change(files, s);
  }
};

TEST_P(CrashPoints, LeaveTheArchiveAsBeforeOrAsAfterAndNothingOfTheirOwn) {
  const TempDir dir;
  const Scene scene{dir.path() / "scene"};
  Stage(scene);
  const auto before = Read(scene);
  Stage(scene);
  Whole(ModelFiles(), scene);
  const auto after = Read(scene);
  ASSERT_NE(before, after);
  int crashes = 0;
  for (const FileOp op :
       {FileOp::CreateTemp, FileOp::Update, FileOp::Flush, FileOp::Replace, FileOp::FlushFolder}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(std::string(FileOpName(op)) + " " + std::to_string(n));
      Stage(scene);
      const pid_t child = ::fork();
      if (child == 0) {
        FaultyFileSystem files(op, n);
        files.failure = [] { ::_exit(kCrashed); };
        try {
          Whole(files, scene);
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
      ExpectNoTemporaries(scene.root);
    }
  }
  // At least a create, a flush and the rename that publishes the change.
  EXPECT_GE(crashes, 3);
}

// A rename over an archive's file that fails, or a folder that cannot be flushed after one
// that was made, at every step: the change says whether it was made, and the archive reads as
// it says, with no entry's bytes lost either way.
TEST_P(CrashPoints, FailuresAfterAStepSayWhetherTheChangeWasMade) {
  const TempDir dir;
  const Scene scene{dir.path() / "scene"};
  Prepare(scene);
  const auto before = ReadWithSize(scene);
  Prepare(scene);
  GetParam().change(ModelFiles(), scene);
  const auto after = ReadWithSize(scene);
  int made = 0;
  for (const FileOp op : {FileOp::Replace, FileOp::FlushFolder}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(std::string(FileOpName(op)) + " " + std::to_string(n));
      Prepare(scene);
      FaultyFileSystem files(op, n);
      bool changed = true;
      try {
        GetParam().change(files, scene);
      } catch (const ChangedButNotSafe& e) {
        EXPECT_NE(std::string(e.what()).find("changed \"" + scene.Paths().img + "\""),
                  std::string::npos)
            << e.what();
        ++made;
      } catch (const std::runtime_error& e) {
        changed = false;
      }
      if (!files.fired) break;
      EXPECT_TRUE(ReadWithSize(scene) == (changed ? after : before))
          << (changed ? "changed" : "refused");
      ExpectNoTemporaries(scene.root);
    }
  }
  // The folder's flush after the rename that publishes the change, at least.
  EXPECT_GE(made, 1);
}

// A temporary file beside the archive whose process id runs nothing may still be a change's:
// one in another PID namespace. Only the holder of the archive's lock removes it.
TEST(ArchiveLeftovers, AreRemovedByReadersOnlyWhileNoChangeHoldsTheLock) {
  const TempDir dir;
  const Scene scene{dir.path() / "scene"};
  Stage(scene);
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const fs::path leftover =
      scene.root / (".sectorsieve-p" + std::to_string(ended) + "-0123456789abcdef-0.tmp");

  auto held = BeginChange(ModelFiles(), scene.Paths(), {});
  WriteBytes(leftover, "a change's");
  EXPECT_EQ(Read(scene).size(), 3u);
  EXPECT_TRUE(fs::exists(leftover));
  held.reset();
  EXPECT_EQ(Read(scene).size(), 3u);
  EXPECT_FALSE(fs::exists(leftover));
}

// Two archives in two folders whose data files are one file: a change to one waits for a
// change to the other, and both additions keep their own bytes.
TEST(ArchiveLocks, TwoArchivesSharingADataFileChangeItOneAfterAnother) {
  const TempDir dir;
  const Scene one{dir.path() / "one"};
  Stage(one);
  fs::create_directories(dir.path() / "two");
  const ArchivePaths two = ArchivePathsOf((dir.path() / "two" / "a").string());
  fs::create_hard_link(one.Paths().img, two.img);
  fs::copy_file(one.Paths().dir, two.dir);

  auto held = BeginChange(ModelFiles(), one.Paths(), {});
  int asked = 0;
  EXPECT_THROW(BeginChange(ModelFiles(), two, [&] { return ++asked < 3; }), ChangeInterrupted);
  EXPECT_EQ(asked, 3);
  held.reset();

  const std::string path = (one.In() / "new.bin").string();
  AddFiles(ModelFiles(), one.Paths(), {{"one.bin", path, path, "new.bin"}}, SameText, {});
  WriteBytes(one.In() / "new.bin", PatternBytes(2048, 9));
  AddFiles(ModelFiles(), two, {{"two.bin", path, path, "new.bin"}}, SameText, {});
  EXPECT_EQ(Read(one)["one.bin"], PatternBytes(2048, 4));
  EXPECT_EQ(ExtractAll(ModelFiles(), two, dir.path() / "out")["two.bin"], PatternBytes(2048, 9));
}

// An archive whose files are symbolic links to files in another folder: every change replaces
// the files the links lead to, and the links stay links.
TEST_P(CrashPoints, ChangeTheFilesSymbolicLinksLeadTo) {
  const TempDir dir;
  const Scene scene{dir.path() / "scene"};
  Prepare(scene);
  GetParam().change(ModelFiles(), scene);
  const auto after = Read(scene);

  Prepare(scene);
  const fs::path kept = dir.path() / "kept";
  fs::create_directory(kept);
  for (const std::string& path : {scene.Paths().img, scene.Paths().dir}) {
    const fs::path target = kept / fs::path(path).filename();
    fs::rename(path, target);
    fs::create_symlink(target, path);
  }
  GetParam().change(ModelFiles(), scene);
  EXPECT_TRUE(Read(scene) == after);
  for (const std::string& path : {scene.Paths().img, scene.Paths().dir})
    EXPECT_TRUE(fs::is_symlink(path)) << path;
  ExpectNoTemporaries(scene.root);
  ExpectNoTemporaries(kept);
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
                                  CompactArchive(files, s.Paths(), {});
                                },
                                [](const Scene& s) {
                                  RemoveEntries(ModelFiles(), s.Paths(), {"keep.bin"}, SameText);
                                }}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace sectorsieve::hostile
