// How a change reaches the disk, and what a crash leaves.
//
// (1) Files. A settled archive is its two files, <name>.img and <name>.dir, and nothing else of
//     its own in their folder. A change at work may add, beside them: temporary files under this
//     process's names (".sectorsieve-<kind><pid>-<tag>-<n>.tmp", FileSystem::CreateBeside); for a
//     switch of both files, the new pair under the switch's names (".sectorsieve-new-<leaf>.tmp",
//     SwitchOf) and its commit record (".sectorsieve-switch-<leaf of the .img>.tmp", whose text is
//     SwitchText); and, in place, bytes past the old end of <name>.img that no record names.
//
// (2) Lock. Every change holds the archive's lock (FileSystem::LockArchive) from BeginChange to
//     its end: AddFiles, RemoveEntries, RenameEntries and CompactArchive through Load, PackFolder
//     itself; and the lock of the data file itself (FileSystem::LockFile), which archives that
//     share it through hard links share. BeginChange removes the temporary files of ended
//     processes and settles (7) first. A reader tries the lock, without waiting unless a switch
//     is committed, and removes them only while it holds it: a process id alone does not tell
//     an ended process from one in another PID namespace.
//
// (3) Writing. ArchiveChange's constructor creates the new directory under a temporary name, and,
//     for a switch (Mode::Whole), the new data file too. In place (Mode::InPlace), the data file is
//     opened on the first AppendFile or Copy (OpenData), and new bytes start at the sector after
//     its end: past every record, and past bytes that an earlier change left there. AppendFile,
//     Copy and EndAt write only where no record of the old directory points. Until Commit, the
//     destructor undoes it all: it removes the temporary files, and cuts an in-place data file
//     back to its old size.
//
// (4) Commit in place (add to an existing archive, remove, rename; Publish):
//     a. the data file is flushed, if anything was appended;
//     b. the records are written into the new directory, which is flushed;
//     c. the new directory is renamed over <name>.dir, and the folder is flushed (Replace). This
//        rename is the commit: from here on the archive reads as changed. If only the folder's
//        flush fails, ChangedButNotSafe says so, and nothing is undone.
//
// (5) Commit of a switch of both files (add to a new archive, compact, pack; CommitSwitch):
//     a. the new data file is flushed; the records are written into the new directory, flushed;
//     b. both are renamed to the switch's names, each rename with its folder flushed;
//     c. the commit record is created under a temporary name, its text written and flushed;
//     d. it is renamed to the record's name: the commit. A failure before this point removes
//        the record and the new files, and the archive reads as before;
//     e. the new data file is renamed over <name>.img, then the new directory over <name>.dir;
//     f. the record is removed. A rename of (e) that fails leaves the record, and
//        ChangedButNotSafe says that the next command on the archive finishes the change.
//
// (6) Crashes. In place: before (4c), the archive reads as before; the temporary directory goes
//     with the next settling (RemoveLeftovers), and the bytes appended stay past the end,
//     reached by no record, until compact drops them. After (4c), the new directory names only
//     bytes flushed at (4a). A switch: before (5d), the archive reads as before, and the next
//     settling removes the temporary files and the new pair that no record names; from (5d) on,
//     the record names the switch, and the next settling finishes it.
//
// (7) Recovery (SettleArchive for a reader, BeginChange for a change, in archive_recovery.cpp):
//     with the lock, a record whose text is this archive's SwitchText has the new files that are
//     still under the switch's names renamed over the archive's (5e), then is removed (5f); new
//     files that no record names are removed. A record named after the base path, as earlier
//     versions named it, is finished alike. A record that is not this archive's is left alone.
//     Where a committed switch cannot be finished (another change keeps the lock past a reader's
//     2 s wait, or a rename fails), a reader reads through it, the new files where they still
//     are, and BeginChange refuses the change.

#include "archive_change.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>

#include "messages.h"

namespace sectorsieve {

namespace {

// Bytes are copied this much at a time, and a stop is asked for between pieces.
constexpr std::int64_t CHUNK_BYTES = 1 << 20;

// The records of an archive's directory, in order; bytes after the last whole one only when
// force drops them. Throws ChangeError.
std::vector<DirEntry> ReadRecords(FileSystem& fs, const std::string& dirPath, bool force) {
  try {
    const auto file = fs.OpenRead(dirPath);
    const std::int64_t whole = file->Size() / DIR_RECORD_SIZE * DIR_RECORD_SIZE;
    if (whole != file->Size() && !force)
      throw ChangeError(
          "cannot change the archive: " + PartialRecord(dirPath, file->Size() - whole) +
          ", which a change would drop; --force drops them");
    const std::int64_t size = whole;
    std::vector<char> bytes(static_cast<std::size_t>(size));
    if (file->ReadAt(0, bytes.data(), bytes.size()) != bytes.size())
      throw IoError("the file ended early");
    std::vector<DirEntry> records;
    records.reserve(bytes.size() / DIR_RECORD_SIZE);
    for (std::size_t at = 0; at < bytes.size(); at += DIR_RECORD_SIZE)
      records.push_back(DecodeRecord(bytes.data() + at));
    return records;
  } catch (const IoError& e) {
    throw ChangeError(CannotRead(dirPath, e.what()));
  }
}

// A record with name (up to 24 bytes in the archive's code page) at offset and size.
DirEntry MakeRecord(std::string_view name, std::int64_t offset, std::int64_t size) {
  if (offset + size > std::numeric_limits<std::int32_t>::max())
    throw ChangeError("the archive is full: \"" + std::string(name) +
                      "\" would end beyond the last sector a record can address");
  DirEntry record{static_cast<std::int32_t>(offset), static_cast<std::int32_t>(size), {}};
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), ENTRY_NAME_LENGTH),
              record.sName.begin());
  return record;
}

// The name a record's file is written under: its name field up to the first space or NUL.
std::string RecordName(const DirEntry& record) {
  return EntryFileName(std::string_view(record.sName.data(), ENTRY_NAME_LENGTH));
}

}  // namespace

ArchiveChange::ArchiveChange(FileSystem& fs, const ArchivePaths& paths, Mode mode)
    : fs_(fs), paths_(paths), mode_(mode) {
  try {
    if (mode == Mode::Whole) data_ = fs.CreateBeside(paths.img);
  } catch (const IoError& e) {
    Fail(paths.img, e);
  }
  // Before any byte is written: a directory that cannot be replaced stops the change here.
  try {
    directory_ = fs.CreateBeside(paths.dir);
  } catch (const IoError& e) {
    // No destructor runs for an object that was never made.
    if (data_) fs.Remove(Closed(data_));
    Fail(paths.dir, e);
  }
}

ArchiveChange::~ArchiveChange() {
  if (committed_) return;
  if (directory_) fs_.Remove(Closed(directory_));
  if (mode_ == Mode::Whole && data_) {
    fs_.Remove(Closed(data_));
  } else if (data_) {
    try {
      data_->Resize(oldSize_);
    } catch (const IoError&) {
      // Bytes past every record only: the next change writes over them.
    }
  }
}

std::string ArchiveChange::Closed(std::unique_ptr<UpdateFile>& file) {
  std::string path = file->Path();
  file.reset();
  return path;
}

void ArchiveChange::Fail(const std::string& path, const IoError& e) const {
  throw ChangeError(CannotWrite(path, e.what()));
}

void ArchiveChange::OpenData() {
  if (data_) return;
  try {
    data_ = fs_.OpenUpdate(paths_.img);
    oldSize_ = data_->Size();
    // Bytes past every record may be an entry that a reader of the directory before a remove
    // is still copying: new ones go after them.
    nextSector_ = SectorsFor(oldSize_);
  } catch (const IoError& e) {
    data_.reset();
    Fail(paths_.img, e);
  }
}

void ArchiveChange::Write(std::int64_t at, const char* data, std::size_t count) {
  try {
    data_->WriteAt(at, data, count);
  } catch (const IoError& e) {
    Fail(paths_.img, e);
  }
}

DirEntry ArchiveChange::AppendFile(std::string_view name, const std::string& source,
                                   const std::string& shown, const KeepGoing& keepGoing) {
  OpenData();
  const auto cannotRead = [&](const std::string& reason) {
    return ChangeError(CannotRead(shown, reason));
  };
  std::unique_ptr<InputFile> in;
  FileStamp before;
  try {
    in = fs_.OpenSource(source);
    before = in->Stamp();
  } catch (const IoError& e) {
    throw cannotRead(e.what());
  }
  const DirEntry record = MakeRecord(name, nextSector_, SectorsFor(before.size));
  const std::int64_t start = nextSector_ * SECTOR_SIZE;
  try {
    Copy(*in, 0, before.size, start, keepGoing);
    if (in->Stamp() != before) throw IoError("file changed as we read it");
  } catch (const IoError& e) {
    throw cannotRead(e.what());
  }
  // The last sector's tail may hold bytes of a change that never finished.
  static constexpr std::array<char, SECTOR_SIZE> zeros{};
  const std::int64_t end = (nextSector_ + record.lSize) * SECTOR_SIZE;
  Write(start + before.size, zeros.data(), static_cast<std::size_t>(end - start - before.size));
  nextSector_ += record.lSize;
  return record;
}

void ArchiveChange::Copy(InputFile& from, std::int64_t fromOffset, std::int64_t count,
                         std::int64_t at, const KeepGoing& keepGoing) {
  OpenData();
  std::vector<char> buffer;
  for (std::int64_t done = 0; done < count;) {
    if (keepGoing && !keepGoing()) throw ChangeInterrupted();
    const std::int64_t want = std::min(CHUNK_BYTES, count - done);
    std::int64_t copied = 0;
    try {
      copied = data_->CopyAt(from, fromOffset + done, want, at + done);
    } catch (const IoError& e) {
      Fail(paths_.img, e);
    }
    if (copied < want) {
      const auto rest = static_cast<std::size_t>(want - copied);
      buffer.resize(rest);
      // The source's failures are the caller's to name: an IoError from here is the source's.
      if (from.ReadAt(fromOffset + done + copied, buffer.data(), rest) != rest)
        throw IoError("file changed as we read it");
      Write(at + done + copied, buffer.data(), rest);
    }
    done += want;
  }
}

void ArchiveChange::EndAt(std::int64_t bytes) {
  try {
    data_->Resize(bytes);
  } catch (const IoError& e) {
    Fail(paths_.img, e);
  }
}

void ArchiveChange::Commit(const std::vector<DirEntry>& records) {
  std::vector<char> bytes(records.size() * DIR_RECORD_SIZE);
  for (std::size_t i = 0; i < records.size(); ++i)
    EncodeRecord(records[i], bytes.data() + i * DIR_RECORD_SIZE);
  try {
    if (data_) data_->Flush();
  } catch (const IoError& e) {
    Fail(paths_.img, e);
  }
  try {
    directory_->WriteAt(0, bytes.data(), bytes.size());
    directory_->Flush();
  } catch (const IoError& e) {
    Fail(paths_.dir, e);
  }
  // Windows renames no file that is open.
  if (mode_ == Mode::InPlace)
    Publish(Closed(directory_), paths_.dir);
  else
    CommitSwitch();
}

// Both files are new: in place under names of the switch, then the record that commits it,
// then over the archive's own (steps 5b to 5f).
void ArchiveChange::CommitSwitch() {
  const SwitchNames names = SwitchOf(fs_, paths_);
  const std::string dataTemp = Closed(data_);
  const std::string dirTemp = Closed(directory_);
  std::string record;
  // Until the record is in, each of them goes when the change fails.
  const auto dropAll = [&] {
    for (const std::string& path : {record, dataTemp, dirTemp, names.img, names.dir})
      if (!path.empty()) fs_.Remove(path);
  };
  try {
    fs_.Replace(dataTemp, names.img);
    fs_.Replace(dirTemp, names.dir);
    auto file = fs_.CreateBeside(names.record);
    record = file->Path();
    const std::string text = SwitchText(fs_, paths_);
    file->WriteAt(0, text.data(), text.size());
    file->Flush();
  } catch (const IoError& e) {
    dropAll();
    Fail(paths_.img, e);
  }
  std::string unsafe;
  try {
    fs_.Replace(record, names.record);
  } catch (const NotYetOnDisk& e) {
    unsafe = e.what();
  } catch (const IoError& e) {
    dropAll();
    Fail(paths_.img, e);
  }
  committed_ = true;
  // Not only what is left: a file missing here was taken by someone else.
  const std::pair<std::string, std::string> renames[] = {{names.img, paths_.img},
                                                         {names.dir, paths_.dir}};
  for (const auto& [from, to] : renames) {
    try {
      fs_.Replace(from, to);
    } catch (const NotYetOnDisk& e) {
      unsafe = e.what();
    } catch (const IoError& e) {
      throw ChangedButNotSafe("changed " + Quoted(paths_.img) + ", but cannot put " + Quoted(to) +
                              " in place yet: " + e.what() +
                              "; the next command on the archive finishes the change");
    }
  }
  fs_.Remove(names.record);
  if (!unsafe.empty()) throw NotSafe(unsafe);
}

void ArchiveChange::Publish(const std::string& temp, const std::string& to) {
  try {
    fs_.Replace(temp, to);
  } catch (const NotYetOnDisk& e) {
    committed_ = true;
    throw NotSafe(e.what());
  } catch (const IoError& e) {
    fs_.Remove(temp);
    Fail(to, e);
  }
  committed_ = true;
}

ChangedButNotSafe ArchiveChange::NotSafe(const std::string& reason) const {
  return ChangedButNotSafe("changed " + Quoted(paths_.img) +
                           ", but the change is not yet safely on disk: " + reason);
}

namespace {

// The archive's records after settling, with its lock held until the change is done; none when
// neither file exists and missingIsEmpty.
struct Current {
  std::unique_ptr<ArchiveLock> lock;
  ArchivePaths paths;
  std::vector<DirEntry> records;
  std::int64_t dataSize = 0;
  bool exists = true;
};

Current Load(FileSystem& fs, const ArchivePaths& given, bool missingIsEmpty,
             const ChangeOptions& options) {
  const ArchivePaths paths = SpelledArchive(fs, given);
  Current current{BeginChange(fs, paths, options.keepGoing), paths, {}};
  if (missingIsEmpty && !fs.Exists(current.paths.img) && !fs.Exists(current.paths.dir)) {
    current.exists = false;
    return current;
  }
  // Opening says why a data file cannot be read: missing, a folder, a device. A hidden or
  // system file is an archive like any other.
  try {
    current.dataSize = fs.OpenRead(current.paths.img)->Size();
  } catch (const IoError& e) {
    throw ChangeError(CannotRead(current.paths.img, e.what()));
  }
  current.records = ReadRecords(fs, current.paths.dir, options.force);
  // Every change may write the data file; one the user may not write is left as it is, even by
  // a change of the directory alone.
  try {
    fs.CheckWritable(current.paths.img);
  } catch (const IoError& e) {
    throw ChangeError(CannotWrite(current.paths.img, e.what()));
  }
  return current;
}

// name (bytes in the code page) as Windows compares it.
std::u32string KeyOf(FileSystem& fs, std::string_view name, const NameText& decode) {
  return NameKey(name, fs.Ansi(), decode);
}

// Whether extraction refuses record, from a data file of dataSize bytes.
bool Refused(FileSystem& fs, const DirEntry& record, std::int64_t dataSize) {
  clsImgFile entry;
  entry.set_sName(StripNulls(std::string_view(record.sName.data(), ENTRY_NAME_LENGTH)));
  entry.set_lOffset(record.lOffset);
  entry.set_lSize(record.lSize);
  const EntryOutput output = DecideEntry(entry, dataSize, fs.Ansi());
  return !output.sRefusal.empty() || !fs.NameRefusal(output.sName).empty();
}

// Of the records whose name is key, the one whose file extraction keeps, as picking says: the
// last one not refused, or else the last.
std::optional<std::size_t> KeptOf(FileSystem& fs, const std::vector<DirEntry>& records,
                                  const std::u32string& key, std::int64_t dataSize,
                                  const NameText& decode) {
  std::optional<std::size_t> last;
  for (std::size_t i = records.size(); i-- > 0;) {
    if (KeyOf(fs, RecordName(records[i]), decode) != key) continue;
    if (!Refused(fs, records[i], dataSize)) return i;
    if (!last) last = i;
  }
  return last;
}

// The directory alone changes: no byte of the data file is written.
void ReplaceDirectory(FileSystem& fs, const Current& current,
                      const std::vector<DirEntry>& records) {
  ArchiveChange change(fs, current.paths, ArchiveChange::Mode::InPlace);
  change.Commit(records);
}

}  // namespace

std::size_t AddFiles(FileSystem& fs, const ArchivePaths& paths, const std::vector<AddedFile>& files,
                     const NameText& decode, const ChangeOptions& options) {
  Current current = Load(fs, paths, true, options);
  const SwitchNames own = SwitchOf(fs, current.paths);
  std::map<std::u32string, std::string> keys;
  for (const AddedFile& file : files) {
    const auto cannot = [&](const std::string& reason) {
      return ChangeError("cannot add " + Quoted(file.shown) + ": " + reason);
    };
    if (IsTemporaryName(file.leaf)) throw cannot("it is a temporary file of this program");
    for (const std::string& ownFile : {current.paths.img, current.paths.dir, own.record})
      if (fs.SameFile(file.source, ownFile)) throw cannot("it is a file of the archive itself");
    const auto [other, fresh] = keys.emplace(KeyOf(fs, file.name, decode), file.shown);
    if (!fresh)
      throw cannot("Windows takes its name for that of " + Quoted(other->second) +
                   ", and would keep only one of them");
  }
  ArchiveChange change(fs, current.paths,
                       current.exists ? ArchiveChange::Mode::InPlace : ArchiveChange::Mode::Whole);
  std::vector<DirEntry> records = current.records;
  std::vector<bool> kept(records.size(), true);
  std::size_t replaced = 0;
  for (const AddedFile& file : files) {
    const DirEntry record =
        change.AppendFile(file.name, file.source, file.shown, options.keepGoing);
    const std::u32string key = KeyOf(fs, file.name, decode);
    const auto same = KeptOf(fs, records, key, current.dataSize, decode);
    if (!same) {
      records.push_back(record);
    } else {
      records[*same] = record;
      if (*same < kept.size()) kept[*same] = false;
      ++replaced;
    }
  }
  // A record that lies beyond the end of the data file is refused; the bytes added would make
  // it an entry of bytes that are not its own.
  const std::int64_t oldEnd = SectorsFor(current.dataSize);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const DirEntry& r = records[i];
    if (kept[i] && r.lOffset >= 0 && r.lSize > 0 && std::int64_t{r.lOffset} + r.lSize > oldEnd &&
        std::int64_t{r.lOffset} + r.lSize <= change.EndSector())
      throw ChangeError("cannot add to " + Quoted(current.paths.img) + ": the entry " +
                        Quoted(decode(RecordName(r)).value_or(RecordName(r))) +
                        " lies beyond the end of the data file, and the bytes added would "
                        "become its own; remove it first");
  }
  change.Commit(records);
  return replaced;
}

RemoveOutcome RemoveEntries(FileSystem& fs, const ArchivePaths& paths,
                            const std::vector<std::string>& patterns, const NameText& decode,
                            const ChangeOptions& options) {
  const Current current = Load(fs, paths, false, options);
  std::vector<NamePattern> wanted;
  for (const std::string& p : patterns) wanted.emplace_back(p);
  std::vector<bool> matched(patterns.size(), false);
  std::vector<DirEntry> records;
  std::vector<std::string> names;
  for (const DirEntry& record : current.records) {
    bool drop = false;
    for (std::size_t i = 0; i < wanted.size(); ++i)
      if (wanted[i].Matches(KeyOf(fs, RecordName(record), decode))) drop = matched[i] = true;
    if (drop)
      names.push_back(RecordName(record));
    else
      records.push_back(record);
  }
  const std::size_t removed = current.records.size() - records.size();
  if (removed > 0) ReplaceDirectory(fs, current, records);
  return {removed, matched, std::move(names)};
}

std::size_t RenameEntries(FileSystem& fs, const ArchivePaths& paths, const std::string& pattern,
                          const std::string& newName, const NameText& decode,
                          const ChangeOptions& options) {
  const Current current = Load(fs, paths, false, options);
  const NamePattern wanted(pattern);
  const std::u32string newKey = KeyOf(fs, newName, decode);
  std::vector<DirEntry> records = current.records;
  std::optional<std::u32string> oldKey;
  std::size_t renamed = 0;
  for (DirEntry& record : records) {
    const std::u32string key = KeyOf(fs, RecordName(record), decode);
    if (!wanted.Matches(key)) continue;
    if (oldKey && key != oldKey)
      throw ChangeError("\"" + pattern + "\" matches entries of more than one name");
    oldKey = key;
    record = MakeRecord(newName, record.lOffset, record.lSize);
    ++renamed;
  }
  if (renamed == 0) return 0;
  // Another entry of the new name would leave extraction two files for one.
  for (const DirEntry& record : current.records)
    if (KeyOf(fs, RecordName(record), decode) == newKey && newKey != oldKey)
      throw ChangeError("\"" + decode(newName).value_or(newName) + "\" is already in the archive");
  ReplaceDirectory(fs, current, records);
  return renamed;
}

std::int64_t CompactArchive(FileSystem& fs, const ArchivePaths& paths,
                            const ChangeOptions& options) {
  const Current current = Load(fs, paths, false, options);
  std::unique_ptr<InputFile> img;
  std::int64_t imgSize = 0;
  try {
    img = fs.OpenRead(current.paths.img);
    imgSize = img->Size();
  } catch (const IoError& e) {
    throw ChangeError(CannotRead(current.paths.img, e.what()));
  }
  const std::int64_t imgSectors = SectorsFor(imgSize);
  // Only records that lie within the data file move; the others, which extraction refuses,
  // are kept exactly as they are, and still lie beyond the end of the shorter file.
  const auto within = [&](const DirEntry& r) {
    return r.lOffset >= 0 && r.lSize >= 0 && std::int64_t{r.lOffset} + r.lSize <= imgSectors;
  };
  std::vector<SectorRun> reached;
  for (const DirEntry& r : current.records)
    if (within(r) && r.lSize > 0) reached.push_back({r.lOffset, std::int64_t{r.lOffset} + r.lSize});
  const std::vector<SectorRun> runs = MergedRuns(std::move(reached));
  std::int64_t kept = 0;
  // Unused sectors before each run.
  std::vector<std::int64_t> before;
  for (const auto& run : runs) {
    before.push_back(run.first - kept);
    kept += run.end - run.first;
  }
  if (kept == imgSectors) return 0;
  // A sector moves down by the unused sectors before it; one past the data by all of them.
  const auto moved = [&](std::int64_t sector) {
    const auto next =
        std::upper_bound(runs.begin(), runs.end(), sector,
                         [](std::int64_t s, const auto& run) { return s < run.first; });
    if (next == runs.begin()) return sector - std::min(sector, imgSectors);
    const auto i = static_cast<std::size_t>(next - runs.begin() - 1);
    const std::int64_t gap = std::max<std::int64_t>(0, std::min(sector, imgSectors) - runs[i].end);
    return sector - before[i] - gap;
  };
  ArchiveChange change(fs, current.paths, ArchiveChange::Mode::Whole);
  std::int64_t at = 0;
  std::int64_t forgotten = 0;
  for (const auto& run : runs) {
    const std::int64_t from = run.first * SECTOR_SIZE;
    const std::int64_t count = std::min(run.end * SECTOR_SIZE, imgSize) - from;
    try {
      change.Copy(*img, from, count, at, options.keepGoing);
    } catch (const IoError& e) {
      throw ChangeError(CannotRead(current.paths.img, e.what()));
    }
    at += (run.end - run.first) * SECTOR_SIZE;
    // The old data file goes when the new one is in: its cache would only crowd out the new
    // file's, and where memory comes back to the system slowly, fresh pages cost more than
    // the copy itself.
    img->Forget(forgotten, run.end * SECTOR_SIZE - forgotten);
    forgotten = run.end * SECTOR_SIZE;
  }
  // The data file's last sector may be partial; so is the new one's, when it is kept.
  const std::int64_t newSize =
      runs.empty() ? 0 : at - std::max<std::int64_t>(0, runs.back().end * SECTOR_SIZE - imgSize);
  change.EndAt(newSize);
  // Windows replaces no file that is open.
  img.reset();
  std::vector<DirEntry> records = current.records;
  for (DirEntry& r : records)
    if (within(r)) r.lOffset = static_cast<std::int32_t>(moved(r.lOffset));
  change.Commit(records);
  return imgSize - newSize;
}

}  // namespace sectorsieve
