#include "modArchive.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>
#include <unordered_map>
#include <utility>

#include "archive_change.h"

namespace sectorsieve {

namespace {

// Large enough to keep the disk busy, small enough that memory never grows with an entry.
constexpr std::size_t COPY_BUFFER_SIZE = 1 << 20;
// A stop is looked for between pieces of an entry this large: a fraction of a second even
// on a slow disk, yet few enough pieces to cost nothing.
constexpr std::int64_t PIECE_SIZE = 16 << 20;
// Directory records are read this many at a time rather than one read per record.
constexpr std::size_t RECORDS_PER_READ = 2048;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

constexpr const char* kBeyondTheEnd = "lies beyond the end of the archive";

// Whether count bytes at start lie within a data file of size bytes. The final sector may be
// partial; its missing tail reads as zeros. An empty entry may start right at the end, where a
// writer puts an empty last file.
bool LiesWithin(std::int64_t start, std::int64_t count, std::int64_t size) {
  const std::int64_t sectorsEnd = (size + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE;
  return count <= sectorsEnd - start;
}

}  // namespace

const std::string& Archive::Refusal(const Entry& entry) const {
  static const std::string none;
  return entry.refusal_ == 0 ? none : reasons_[entry.refusal_ - 1];
}

modArchive::modArchive(FileSystem& fs) : fs_(fs) {}

Archive modArchive::LoadDirectory(const std::string& basePath,
                                  const std::function<bool()>& keepGoing) {
  return LoadDirectory(ArchivePathsOf(basePath), keepGoing);
}

Archive modArchive::LoadDirectory(const ArchivePaths& typed,
                                  const std::function<bool()>& keepGoing) {
  const ArchivePaths paths = SpelledArchive(fs_, typed);
  // A change that switches both files while they are read could pair its new data file with
  // the old directory. Reading again finds the switch finished, or waits for it; a foreign
  // file under the switch's name would leave it in doubt forever, so the attempts end.
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    // A switch of both files that a crash interrupted is finished first, or read as finished.
    const ArchivePaths view = SettleArchive(fs_, paths);
    const auto identities = [&] { return std::pair(fs_.Id(view.img), fs_.Id(view.dir)); };
    const auto before = identities();
    try {
      Archive archive = ReadArchive(view, keepGoing);
      const bool mixed = SwitchingUnder(fs_, paths, view);
      archive.dataId_ = before.first;
      if ((!mixed && identities() == before) || attempt == kAttempts) return archive;
    } catch (const RunError&) {
      if (attempt == kAttempts || identities() == before) throw;
    }
  }
}

Archive modArchive::ReadArchive(const ArchivePaths& view, const std::function<bool()>& keepGoing) {
  Archive archive;
  archive.paths_ = view;
  // Whether an entry lies within the data file is decided against its size now; without it,
  // every entry that needs its bytes will fail the run when it comes.
  std::optional<std::int64_t> dataSize;
  try {
    dataSize = fs_.OpenRead(archive.paths_.img)->Size();
    archive.dataSize_ = *dataSize;
  } catch (const IoError& e) {
    archive.dataFailure_ =
        "The archive " + Quoted(archive.paths_.img) + " could not be opened: " + e.what();
  }

  const std::string& path = archive.paths_.dir;
  try {
    const auto dirFile = fs_.OpenRead(path);
    // A trailing fragment shorter than a record is not an entry.
    const std::int64_t records = dirFile->Size() / DIR_RECORD_SIZE;
    // More records than this machine can address, or than an entry's index can count, cannot
    // be held, whatever memory is free.
    if (records > std::numeric_limits<std::ptrdiff_t>::max() / DIR_RECORD_SIZE ||
        records > std::int64_t{std::numeric_limits<std::uint32_t>::max()} + 1)
      throw std::bad_alloc();
    // Growing by doubling would need half as much again at its peak.
    archive.entries_.reserve(static_cast<std::size_t>(records));
    std::unordered_map<std::string, std::uint32_t> reasonNumbers;
    std::vector<char> chunk(RECORDS_PER_READ * DIR_RECORD_SIZE);
    for (std::int64_t first = 0; first < records; first += RECORDS_PER_READ) {
      if (first > 0 && keepGoing && !keepGoing()) {
        archive.entries_ = {};
        return archive;
      }
      const auto n =
          static_cast<std::size_t>(std::min<std::int64_t>(RECORDS_PER_READ, records - first));
      const std::size_t bytes = n * DIR_RECORD_SIZE;
      if (dirFile->ReadAt(first * DIR_RECORD_SIZE, chunk.data(), bytes) != bytes)
        throw IoError("the file ended early");
      for (std::size_t i = 0; i < n; ++i) {
        const DirEntry record = DecodeRecord(chunk.data() + i * DIR_RECORD_SIZE);
        Archive::Entry& entry = archive.entries_.emplace_back();
        entry.record_.set_sId(static_cast<std::uint32_t>(first + static_cast<std::int64_t>(i)));
        entry.record_.set_sName(
            StripNulls(std::string_view(record.sName.data(), ENTRY_NAME_LENGTH)));
        entry.record_.set_lOffset(record.lOffset);
        entry.record_.set_lSize(record.lSize);
        EntryOutput output = DecideEntry(entry.record_, dataSize, fs_.Ansi());
        if (output.sRefusal.empty()) output.sRefusal = fs_.NameRefusal(output.sName);
        if (output.sRefusal.empty()) continue;
        const auto [known, fresh] = reasonNumbers.emplace(
            output.sRefusal, static_cast<std::uint32_t>(archive.reasons_.size() + 1));
        if (fresh) archive.reasons_.push_back(std::move(output.sRefusal));
        entry.refusal_ = known->second;
      }
    }
  } catch (const IoError& e) {
    throw RunError("The directory file " + Quoted(path) + " could not be read: " + e.what());
  } catch (const std::bad_alloc&) {
    throw RunError("There is not enough memory to read the directory file " + Quoted(path) + ".");
  }
  return archive;
}

void modArchive::OpenArchive(const Archive& archive) {
  const std::string& path = archive.Paths().img;
  try {
    gImgFile = fs_.OpenRead(path);
    imgPath_ = path;
    imgSize_ = gImgFile->Size();
  } catch (const IoError& e) {
    gImgFile.reset();
    throw RunError("The archive " + Quoted(path) + " could not be opened: " + e.what());
  }
  // Another file's bytes at the directory's offsets would pass for the entries'.
  if (archive.dataId_ && fs_.Id(path) != archive.dataId_) {
    gImgFile.reset();
    throw RunError("The archive " + Quoted(path) +
                   " was replaced after its directory was read: open it again.");
  }
}

Destination modArchive::OpenDestination(const Archive& archive, const std::string& destination) {
  try {
    Destination opened{destination, fs_.OpenFolder(destination)};
    // The data file is read until the run ends, and the directory file is what the next run
    // reads: no entry replaces either.
    std::vector<FileId> kept;
    for (const std::string& path : {archive.Paths().img, archive.Paths().dir})
      if (const auto id = fs_.Id(path)) kept.push_back(*id);
    opened.folder->Keep(std::move(kept));
    return opened;
  } catch (const IoError& e) {
    throw RunError("The destination folder " + Quoted(destination) +
                   " could not be opened: " + e.what());
  }
}

EntryOutput DecideEntry(const clsImgFile& entry, std::optional<std::int64_t> imgSize,
                        const CodePage& cp) {
  EntryOutput output;
  output.sName = FileNameOf(entry.NameField());
  output.lStart = std::int64_t{entry.lOffset()} * SECTOR_SIZE;
  output.lCount = std::int64_t{entry.lSize()} * SECTOR_SIZE;
  if (entry.lOffset() < 0)
    output.sRefusal = "has a negative offset";
  else if (entry.lSize() < 0)
    output.sRefusal = "has a negative size";
  else if (std::string reason = UnsafeNameReason(output.sName, cp); !reason.empty())
    output.sRefusal = std::move(reason);
  if (output.sRefusal.empty() && imgSize && !LiesWithin(output.lStart, output.lCount, *imgSize))
    output.sRefusal = kBeyondTheEnd;
  return output;
}

void modArchive::Prepare(const Archive& archive, const Archive::Entry& entry) {
  // Everything is decided before the output is touched.
  if (entry.Refused()) throw EntryError(EntryLabel(entry.Record()), archive.Refusal(entry));
  // The data file that could not be opened for the directory gave no bounds to trust.
  if (!archive.DataFailure().empty()) throw RunError(archive.DataFailure());
  if (!gImgFile || imgPath_ != archive.Paths().img) OpenArchive(archive);
  // The data file may have become shorter since the directory was read.
  if (!LiesWithin(entry.Start(), entry.Bytes(), imgSize_))
    throw EntryError(EntryLabel(entry.Record()), kBeyondTheEnd);
}

WrittenEntry modArchive::WriteEntry(const Archive& archive, const Archive::Entry& entry,
                                    Destination& destination,
                                    const std::function<bool()>& keepGoing) {
  Prepare(archive, entry);
  std::unique_ptr<OutputFile> outFile;
  try {
    outFile = destination.folder->CreateTemp();
  } catch (const IoError& e) {
    throw RunError("The destination folder " + Quoted(destination.path) +
                   " could not be written: " + e.what());
  }
  WrittenEntry written(destination, std::move(outFile), std::string(entry.FileName()),
                       EntryLabel(entry.Record()), entry.Bytes());
  try {
    CopyEntry(entry.Start(), entry.Bytes(), written.File(), keepGoing);
  } catch (const IoError& e) {
    throw EntryError(EntryLabel(entry.Record()), std::string("could not be written: ") + e.what());
  }
  return written;
}

void modArchive::CopyEntryTo(const Archive& archive, const Archive::Entry& entry, OutputFile& out) {
  Prepare(archive, entry);
  try {
    CopyEntry(entry.Start(), entry.Bytes(), out);
  } catch (const IoError& e) {
    throw EntryError(EntryLabel(entry.Record()), std::string("could not be written: ") + e.what());
  }
}

void modArchive::CopyEntry(std::int64_t start, std::int64_t count, OutputFile& out,
                           const std::function<bool()>& keepGoing) {
  gBuffer.resize(COPY_BUFFER_SIZE);
  const std::int64_t end = start + std::clamp<std::int64_t>(imgSize_ - start, 0, count);
  for (std::int64_t at = start; at < end;) {
    if (at > start && keepGoing && !keepGoing()) throw EntryStopped();
    // Holes in the data file stay holes, so that a huge sparse entry costs little.
    const auto [first, storedEnd] = gImgFile->StoredFrom(at);
    if (first > at) {
      const std::int64_t hole = std::min(first, end) - at;
      if (out.AppendHole(hole)) {
        at += hole;
        continue;
      }
      // An output without holes takes the zeros piece by piece, as stored bytes.
      const std::int64_t n = std::min(hole, PIECE_SIZE);
      AppendZeros(n, out);
      at += n;
      continue;
    }
    const std::int64_t n = std::min({end - at, storedEnd - at, PIECE_SIZE});
    CopyStored(at, n, out);
    at += n;
  }
  // The final sector may be partial; its missing tail reads as zeros.
  AppendZeros(start + count - end, out);
}

void modArchive::CopyStored(std::int64_t at, std::int64_t count, OutputFile& out) {
  // What the system does not copy by itself goes through the buffer, where a failure is told
  // apart as the archive's or the output's.
  for (std::int64_t done = out.CopyFrom(*gImgFile, at, count); done < count;) {
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(gBuffer.size()), count - done));
    std::size_t got = 0;
    try {
      got = gImgFile->ReadAt(at + done, gBuffer.data(), n);
    } catch (const IoError& e) {
      throw RunError("The archive " + Quoted(imgPath_) + " could not be read: " + e.what());
    }
    if (got != n)
      throw RunError("The archive " + Quoted(imgPath_) +
                     " could not be read: it became shorter during the extraction");
    out.Write(gBuffer.data(), n);
    done += static_cast<std::int64_t>(n);
  }
}

void modArchive::AppendZeros(std::int64_t count, OutputFile& out) {
  // Called for every entry: clearing the whole buffer for no zeros cost more than the copy.
  if (count <= 0) return;
  std::fill(gBuffer.begin(), gBuffer.end(), '\0');
  for (std::int64_t done = 0; done < count;) {
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(gBuffer.size()), count - done));
    out.Write(gBuffer.data(), n);
    done += static_cast<std::int64_t>(n);
  }
}

}  // namespace sectorsieve
