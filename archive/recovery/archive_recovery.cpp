#include "archive_recovery.h"

#include <algorithm>
#include <chrono>

#include "messages.h"

namespace sectorsieve {

namespace {

constexpr std::string_view kSwitchHeader = "sectorsieve switch 1\n";

}  // namespace

SwitchNames SwitchOf(FileSystem& fs, const ArchivePaths& paths) {
  return {fs.Beside(paths.img, ".sectorsieve-switch-", ".tmp"),
          fs.Beside(paths.img, ".sectorsieve-new-", ".tmp"),
          fs.Beside(paths.dir, ".sectorsieve-new-", ".tmp")};
}

namespace {

// The switch to settle: earlier versions named the record after the base path, and one of
// theirs that a crash left is finished as well, when its text says it is this archive's.
SwitchNames FoundSwitch(FileSystem& fs, const ArchivePaths& paths) {
  SwitchNames names = SwitchOf(fs, paths);
  const std::string earlier = fs.Beside(paths.base, ".sectorsieve-switch-", ".tmp");
  if (!fs.Exists(names.record) && fs.Exists(earlier)) names.record = earlier;
  return names;
}

}  // namespace

std::string SwitchText(FileSystem& fs, const ArchivePaths& paths) {
  const auto leaf = [&](const std::string& path) { return path.substr(fs.LeafStart(path)); };
  const SwitchNames names = SwitchOf(fs, paths);
  return std::string(kSwitchHeader) + leaf(names.img) + "\n" + leaf(paths.img) + "\n" +
         leaf(names.dir) + "\n" + leaf(paths.dir) + "\n";
}

namespace {

std::string ReadSmall(FileSystem& fs, const std::string& path) {
  const auto file = fs.OpenRead(path);
  const std::int64_t size = std::min<std::int64_t>(file->Size(), 1 << 16);
  std::string text(static_cast<std::size_t>(size), '\0');
  text.resize(file->ReadAt(0, text.data(), text.size()));
  return text;
}

// Renames what is still to be renamed of a committed switch, then drops its record.
void FinishSwitch(FileSystem& fs, const ArchivePaths& paths, const SwitchNames& names) {
  if (fs.Exists(names.img)) fs.Replace(names.img, paths.img);
  if (fs.Exists(names.dir)) fs.Replace(names.dir, paths.dir);
  fs.Remove(names.record);
}

}  // namespace

namespace {

// What a committed switch has made of the archive so far, for a reader that may not finish it.
ArchivePaths ReadThrough(FileSystem& fs, const ArchivePaths& paths, const SwitchNames& names) {
  ArchivePaths view = paths;
  if (fs.Exists(names.img)) view.img = names.img;
  if (fs.Exists(names.dir)) view.dir = names.dir;
  return view;
}

// SettleArchive, by the holder of the archive's lock.
ArchivePaths SettleHeld(FileSystem& fs, const ArchivePaths& paths) {
  const SwitchNames names = FoundSwitch(fs, paths);
  if (!fs.Exists(names.record)) {
    // New files that no record names were never committed.
    fs.Remove(names.img);
    fs.Remove(names.dir);
    return paths;
  }
  try {
    // A record this program did not write for this archive is left alone.
    if (ReadSmall(fs, names.record) != SwitchText(fs, paths)) return paths;
    FinishSwitch(fs, paths, names);
    return paths;
  } catch (const IoError&) {
    return ReadThrough(fs, paths, names);
  }
}

}  // namespace

ArchivePaths SettleArchive(FileSystem& fs, const ArchivePaths& paths) {
  const SwitchNames names = FoundSwitch(fs, paths);
  const bool committed = fs.Exists(names.record);
  // A change at work that has committed is switching the files, which takes a moment: that is
  // waited for. New files it has not committed are its own. Otherwise the lock is only tried:
  // a change at work holds it throughout.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  std::unique_ptr<ArchiveLock> lock;
  try {
    lock = fs.LockArchive(paths.base,
                          [&] { return committed && std::chrono::steady_clock::now() < deadline; });
  } catch (const IoError&) {
    // No lock to be had: as when the folder cannot be written.
  }
  if (lock) {
    // Only the lock's holder knows that no change is writing its temporary files: a process
    // id alone does not tell, as another PID namespace may have the same.
    fs.RemoveLeftovers(paths.img);
    return SettleHeld(fs, paths);
  }
  if (!committed) return paths;
  try {
    if (ReadSmall(fs, names.record) != SwitchText(fs, paths)) return paths;
  } catch (const IoError&) {
    return paths;
  }
  return ReadThrough(fs, paths, names);
}

ArchivePaths SpelledArchive(FileSystem& fs, const ArchivePaths& typed) {
  ArchivePaths paths{typed.base, fs.Spelled(typed.dir), fs.Spelled(typed.img)};
  if (paths.img == typed.img) return paths;
  // A link may lead to a data file of another extension, a short name to a long one.
  const auto spelled = ArchiveOfTypedDataFile(paths.img, fs.Paths());
  paths.base = spelled ? spelled->base : paths.img;
  return paths;
}

bool SwitchingUnder(FileSystem& fs, const ArchivePaths& paths, const ArchivePaths& view) {
  // The switch's new directory keeps its own name from just before the commit record is
  // written until the second rename.
  const SwitchNames names = SwitchOf(fs, paths);
  return view.dir != names.dir && fs.Exists(names.dir);
}

namespace {

// The archive's lock and its data file's, let go of together.
class BothLocks final : public ArchiveLock {
 public:
  BothLocks(std::unique_ptr<ArchiveLock> archive, std::unique_ptr<ArchiveLock> data)
      : archive_(std::move(archive)), data_(std::move(data)) {}

 private:
  std::unique_ptr<ArchiveLock> archive_;
  std::unique_ptr<ArchiveLock> data_;
};

}  // namespace

std::unique_ptr<ArchiveLock> BeginChange(FileSystem& fs, const ArchivePaths& paths,
                                         const KeepGoing& keepGoing) {
  const auto wait = [&] { return !keepGoing || keepGoing(); };
  std::unique_ptr<ArchiveLock> lock;
  try {
    lock = fs.LockArchive(paths.base, wait);
    if (!lock) throw ChangeInterrupted();
    // Another folder may name the same data file: its archive's changes would append there too.
    auto data = fs.LockFile(paths.img, wait);
    if (!data) throw ChangeInterrupted();
    lock = std::make_unique<BothLocks>(std::move(lock), std::move(data));
  } catch (const IoError& e) {
    throw ChangeError("cannot lock " + Quoted(paths.dir) + ": " + e.what());
  }
  fs.RemoveLeftovers(paths.img);
  const ArchivePaths settled = SettleHeld(fs, paths);
  // A switch that cannot be finished here cannot be changed here either.
  if (settled.img != paths.img || settled.dir != paths.dir)
    throw ChangeError("cannot write " + Quoted(paths.dir) +
                      ": a change that was cut short cannot be finished in its folder");
  return lock;
}

}  // namespace sectorsieve
