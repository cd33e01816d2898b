// Edits on Windows beside other programs: readers that hold the archive's files open while it
// changes, and archives whose files the user made hidden or system files.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "edit_model.h"
#include "imgpack.h"
#include "win_handles.h"

namespace sectorsieve::testing {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// path opened as another program opens it, sharing it as share says.
unique_hfile Hold(const std::string& path, DWORD access, DWORD share) {
  unique_hfile h(::CreateFileW(PathFromUtf8(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(h) << path << ": error " << ::GetLastError();
  return h;
}

// The file system with a hand on renames: the first time one replaces to, act runs first.
class ReplaceHooked final : public ForwardingFileSystem {
 public:
  ReplaceHooked(std::string to, std::function<void()> act)
      : ForwardingFileSystem(ModelFiles()), to_(std::move(to)), act_(std::move(act)) {}
  void Replace(const std::string& from, const std::string& to) override {
    if (to == to_ && act_) std::exchange(act_, nullptr)();
    inner_.Replace(from, to);
  }

 private:
  std::string to_;
  std::function<void()> act_;
};

// The names of files, for a message: their bytes are a sector each.
std::string Names(const std::map<std::string, std::string>& files) {
  std::string names;
  for (const auto& [name, bytes] : files) names += name + " ";
  return names;
}

// An archive "a" of b.txt one sector in, after a removed a.txt, so that compact frees a
// sector; and a folder "in" of one file for pack. Each change gives the archive it names.
struct Scene {
  Scene() {
    AddFile(paths, dir.path(), "a.txt", "a");
    AddFile(paths, dir.path(), "b.txt", "b");
    RemoveEntries(ModelFiles(), paths, {"a.txt"}, SameText);
    fs::create_directory(dir.path() / "in");
    WriteBytes(dir.path() / "in" / "p.txt", "packed");
  }

  // The archive's two files, either of which a reader may hold.
  std::vector<std::string> Files() const { return {paths.img, paths.dir}; }

  // What the archive gives, with no temporary file left beside it.
  void ExpectArchive(const std::map<std::string, std::string>& files) const {
    const auto extracted = ExtractAll(ModelFiles(), paths, dir.path() / "out");
    EXPECT_TRUE(extracted == files) << Names(extracted) << " for " << Names(files);
    for (const auto& item : fs::directory_iterator(dir.path()))
      EXPECT_FALSE(item.path().filename().string().starts_with(".sectorsieve"))
          << item.path().filename();
  }

  TempDir dir;
  ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
};

struct Change {
  const char* name;
  std::function<void(FileSystem&, Scene&)> run;
  std::map<std::string, std::string> after;
};

// The changes that switch both files.
const std::vector<Change> kSwitches = {
    {"compact",
     [](FileSystem& fs, Scene& s) { CompactArchive(fs, s.paths, {}); },
     {{"b.txt", Sectors("b")}}},
    {"pack",
     [](FileSystem& fs, Scene& s) {
       imgpack::PackFolder(fs, Utf8Path(s.dir.path() / "in"), s.paths,
                           [](const std::string& file) { return std::optional<std::string>(file); },
                           {});
     },
     {{"p.txt", Sectors("packed")}}}};

// How another program holds one of the archive's files while a switch renames over it: the
// system renames over no open file, however it is shared.
struct Holder {
  const char* change;
  bool dir;
  DWORD share;
};

// A reader that lets go a moment after the rename is first tried: the rename is tried again,
// and the change is finished before it answers.
TEST(SwitchBesideReader, ASwitchWaitsForAReaderThatLetsGoInAMoment) {
  for (const Change& change : kSwitches)
    for (const bool dirHeld : {false, true})
      for (const DWORD share : {DWORD{FILE_SHARE_READ}, kShareAll}) {
        Scene scene;
        const std::string file = scene.Files()[dirHeld];
        SCOPED_TRACE(std::string(change.name) + " " + file + " " + std::to_string(share));
        unique_hfile reader = Hold(file, GENERIC_READ, share);
        std::thread letGo;
        ReplaceHooked hooked(file, [&] {
          letGo = std::thread([&] {
            ::Sleep(200);
            reader.reset();
          });
        });
        EXPECT_NO_THROW(change.run(hooked, scene));
        letGo.join();
        scene.ExpectArchive(change.after);
      }
}

// A reader that never lets go: the change is made, the answer names the file the system
// refused, and the next command on the archive finishes it.
TEST(SwitchBesideReader, ASwitchHeldForGoodNamesTheRefusedFileAndIsFinishedNextTime) {
  const Holder holders[] = {{"compact", false, FILE_SHARE_READ},
                            {"compact", true, kShareAll},
                            {"pack", false, kShareAll},
                            {"pack", true, FILE_SHARE_READ}};
  for (const Holder& holder : holders) {
    const Change& change = *std::find_if(kSwitches.begin(), kSwitches.end(), [&](const Change& c) {
      return std::string(c.name) == holder.change;
    });
    Scene scene;
    const std::string file = scene.Files()[holder.dir];
    SCOPED_TRACE(std::string(change.name) + " " + file + " " + std::to_string(holder.share));
    unique_hfile reader = Hold(file, GENERIC_READ, holder.share);
    std::string said;
    try {
      change.run(ModelFiles(), scene);
    } catch (const ChangedButNotSafe& e) {
      said = e.what();
    }
    EXPECT_EQ(said.rfind("changed \"" + scene.paths.img + "\", but cannot put \"" + file +
                             "\" in place yet: ",
                         0),
              0u)
        << said;
    EXPECT_TRUE(said.ends_with("; the next command on the archive finishes the change")) << said;
    reader.reset();
    scene.ExpectArchive(change.after);
  }
}

// While an add appends, every reader reads the archive as it was; a reader open first leaves
// the add its room, and reads on.
TEST(ArchiveEditsBesideReaders, AnAddAndAReaderOfTheDataFileShareIt) {
  const TempDir dir;
  const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
  AddFile(paths, dir.path(), "a.txt", "a");
  const std::map<std::string, std::string> before = {{"a.txt", Sectors("a")}};
  const auto reader = ModelFiles().OpenRead(paths.img);

  // The data file is open to append to once the added file is opened.
  struct DuringAdd final : ForwardingFileSystem {
    DuringAdd(std::function<void()> act) : ForwardingFileSystem(ModelFiles()), act(act) {}
    std::unique_ptr<InputFile> OpenSource(const std::string& path) override {
      act();
      return inner_.OpenSource(path);
    }
    std::function<void()> act;
  };
  std::map<std::string, std::string> readDuringAdd;
  DuringAdd files([&] { readDuringAdd = ExtractAll(ModelFiles(), paths, dir.path() / "out"); });
  WriteBytes(dir.path() / "b.txt", "b");
  const std::string source = Utf8Path(dir.path() / "b.txt");
  EXPECT_NO_THROW(AddFiles(files, paths, {{"b.txt", source, source, "b.txt"}}, SameText, {}));

  EXPECT_TRUE(readDuringAdd == before) << Names(readDuringAdd);
  std::string first(2048, '\0');
  EXPECT_EQ(reader->ReadAt(0, first.data(), first.size()), first.size());
  EXPECT_EQ(first, Sectors("a"));
  EXPECT_TRUE(
      ExtractAll(ModelFiles(), paths, dir.path() / "out") ==
      (std::map<std::string, std::string>{{"a.txt", Sectors("a")}, {"b.txt", Sectors("b")}}));
}

// A file being written elsewhere is not added: its bytes would not be one file's.
TEST(ArchiveEditsBesideReaders, AFileOpenForWritingElsewhereIsNotAdded) {
  const TempDir dir;
  const ArchivePaths paths = ArchivePathsOf(Utf8Path(dir.path() / "a"));
  AddFile(paths, dir.path(), "a.txt", "a");
  const std::string source = Utf8Path(dir.path() / "b.txt");
  WriteBytes(PathFromUtf8(source), "b");
  const unique_hfile writer = Hold(source, GENERIC_WRITE, kShareAll);

  try {
    AddFiles(ModelFiles(), paths, {{"b.txt", source, source, "b.txt"}}, SameText, {});
    ADD_FAILURE() << "added";
  } catch (const ChangeError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("cannot read \"" + source + "\": ", 0), 0u) << e.what();
  }
  EXPECT_TRUE(ExtractAll(ModelFiles(), paths, dir.path() / "out") ==
              (std::map<std::string, std::string>{{"a.txt", Sectors("a")}}));
}

// The user's hidden or system archive stays so through every change, and is changed like any
// other.
TEST(ArchiveEditsOfHiddenFiles, HiddenAndSystemArchivesStaySoThroughEveryChange) {
  std::vector<Change> changes = kSwitches;
  changes.push_back({"add",
                     [](FileSystem&, Scene& s) { AddFile(s.paths, s.dir.path(), "c.txt", "c"); },
                     {{"b.txt", Sectors("b")}, {"c.txt", Sectors("c")}}});
  changes.push_back(
      {"remove",
       [](FileSystem& fs, Scene& s) { RemoveEntries(fs, s.paths, {"b.txt"}, SameText); },
       {}});
  changes.push_back(
      {"rename",
       [](FileSystem& fs, Scene& s) { RenameEntries(fs, s.paths, "b.txt", "d.txt", SameText); },
       {{"d.txt", Sectors("b")}}});
  for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM})
    for (const Change& change : changes) {
      SCOPED_TRACE(std::string(change.name) + " " + std::to_string(attribute));
      Scene scene;
      for (const std::string& file : scene.Files())
        ASSERT_TRUE(::SetFileAttributesW(PathFromUtf8(file).c_str(), attribute));
      EXPECT_NO_THROW(change.run(ModelFiles(), scene));
      for (const std::string& file : scene.Files()) {
        const DWORD attributes = ::GetFileAttributesW(PathFromUtf8(file).c_str());
        EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << file;
        EXPECT_TRUE(attributes & attribute) << file << ": " << attributes;
      }
      scene.ExpectArchive(change.after);
    }
}

// Two archives in two folders whose data files are one file through a hard link: a change to
// one waits for a change to the other.
TEST(ArchiveEditsOfHardLinks, TwoArchivesSharingADataFileChangeItOneAfterAnother) {
  const TempDir dir;
  fs::create_directories(dir.path() / "one");
  fs::create_directories(dir.path() / "two");
  const ArchivePaths one = ArchivePathsOf(Utf8Path(dir.path() / "one" / "a"));
  const ArchivePaths two = ArchivePathsOf(Utf8Path(dir.path() / "two" / "a"));
  AddFile(one, dir.path(), "a.txt", "a");
  ASSERT_TRUE(
      ::CreateHardLinkW(PathFromUtf8(two.img).c_str(), PathFromUtf8(one.img).c_str(), nullptr));
  fs::copy_file(PathFromUtf8(one.dir), PathFromUtf8(two.dir));

  auto held = BeginChange(ModelFiles(), one, {});
  int asked = 0;
  EXPECT_THROW(BeginChange(ModelFiles(), two, [&] { return ++asked < 3; }), ChangeInterrupted);
  EXPECT_EQ(asked, 3);
  held.reset();
  EXPECT_NO_THROW(BeginChange(ModelFiles(), two, {}));
}

}  // namespace
}  // namespace sectorsieve::testing
