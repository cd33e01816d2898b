#include "modArchive.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>

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

}  // namespace

void Catalogue::Add(clsImgFile entry) { items_.push_back(std::move(entry)); }

const clsImgFile* Catalogue::Item(const std::string& key) const {
  // Only the canonical decimal form of an index is a key: no sign, no leading zero.
  if (key.empty() || key.size() > 19 || (key.size() > 1 && key[0] == '0') ||
      key.find_first_not_of("0123456789") != std::string::npos)
    return nullptr;
  const std::size_t index = std::stoull(key);
  return index < items_.size() ? &items_[index] : nullptr;
}

modArchive::modArchive(FileSystem& fs) : fs_(fs) {}

void modArchive::LoadDirectory(const std::string& basePath,
                               const std::function<bool()>& keepGoing) {
  LoadDirectory(ArchivePathsOf(basePath), keepGoing);
}

void modArchive::LoadDirectory(const ArchivePaths& archive,
                               const std::function<bool()>& keepGoing) {
  gEntries = Catalogue();
  gArchiveBase = archive.base;
  paths_ = archive;
  CloseArchive();

  const std::string path = archive.dir;
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
    gEntries.Reserve(static_cast<std::size_t>(records));
    std::vector<char> chunk(RECORDS_PER_READ * DIR_RECORD_SIZE);
    for (std::int64_t first = 0; first < records; first += RECORDS_PER_READ) {
      if (first > 0 && keepGoing && !keepGoing()) {
        gEntries = Catalogue();
        return;
      }
      const auto n =
          static_cast<std::size_t>(std::min<std::int64_t>(RECORDS_PER_READ, records - first));
      const std::size_t bytes = n * DIR_RECORD_SIZE;
      if (dirFile->ReadAt(first * DIR_RECORD_SIZE, chunk.data(), bytes) != bytes)
        throw IoError("the file ended early");
      for (std::size_t i = 0; i < n; ++i) {
        gEntry = DecodeRecord(chunk.data() + i * DIR_RECORD_SIZE);
        clsImgFile entry;
        entry.set_sId(static_cast<std::uint32_t>(first + static_cast<std::int64_t>(i)));
        entry.set_sName(StripNulls(std::string_view(gEntry.sName.data(), ENTRY_NAME_LENGTH)));
        entry.set_lOffset(gEntry.lOffset);
        entry.set_lSize(gEntry.lSize);
        gEntries.Add(std::move(entry));
      }
    }
  } catch (const IoError& e) {
    throw RunError("The directory file " + Quoted(path) + " could not be read: " + e.what());
  } catch (const std::bad_alloc&) {
    gEntries = Catalogue();
    throw RunError("There is not enough memory to read the directory file " + Quoted(path) + ".");
  }
}

std::int64_t modArchive::OpenArchive() {
  if (gImgFile) return imgSize_;
  const std::string path = paths_.img;
  try {
    gImgFile = fs_.OpenRead(path);
    imgSize_ = gImgFile->Size();
  } catch (const IoError& e) {
    gImgFile.reset();
    throw RunError("The archive " + Quoted(path) + " could not be opened: " + e.what());
  }
  return imgSize_;
}

void modArchive::ExtractEntry(const clsImgFile& entry, const std::string& destination) {
  Destination folder = OpenDestination(destination);
  WriteEntry(entry, folder).Finish();
}

Destination modArchive::OpenDestination(const std::string& destination) {
  try {
    return {destination, fs_.OpenFolder(destination)};
  } catch (const IoError& e) {
    throw RunError("The destination folder " + Quoted(destination) +
                   " could not be opened: " + e.what());
  }
}

EntryOutput DecideEntry(const clsImgFile& entry, std::optional<std::int64_t> imgSize,
                        const FileSystem& fs) {
  EntryOutput output;
  // The path ends at the name's first space, the padding's included.
  const std::string field = SpacesToNulls(entry.sName());
  output.sName = field.substr(0, field.find('\0'));
  output.lStart = std::int64_t{entry.lOffset()} * SECTOR_SIZE;
  output.lCount = std::int64_t{entry.lSize()} * SECTOR_SIZE;
  if (entry.lOffset() < 0)
    output.sRefusal = "has a negative offset";
  else if (entry.lSize() < 0)
    output.sRefusal = "has a negative size";
  else if (std::string reason = UnsafeNameReason(output.sName, fs.Ansi()); !reason.empty())
    output.sRefusal = std::move(reason);
  else
    output.sRefusal = fs.NameRefusal(output.sName);
  if (!output.sRefusal.empty() || !imgSize) return output;
  // The final sector may be partial; its missing tail reads as zeros. An empty entry may
  // start right at the end, where a writer puts an empty last file.
  const std::int64_t sectorsEnd = (*imgSize + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE;
  if (output.lCount > sectorsEnd - output.lStart)
    output.sRefusal = "lies beyond the end of the archive";
  return output;
}

WrittenEntry modArchive::WriteEntry(const clsImgFile& entry, Destination& destination,
                                    const std::function<bool()>& keepGoing) {
  gEntry.lOffset = entry.lOffset();
  gEntry.lSize = entry.lSize();
  const std::string fixedName = SpacesToNulls(entry.sName());
  std::copy_n(fixedName.begin(), ENTRY_NAME_LENGTH, gEntry.sName.begin());

  // Everything is decided before the output is touched. Offset, size and name refuse an entry
  // even when the data file cannot be opened.
  const auto fail = [&](const std::string& reason) { throw EntryError(EntryLabel(entry), reason); };
  EntryOutput output = DecideEntry(entry, std::nullopt, fs_);
  if (output.sRefusal.empty()) {
    OpenArchive();
    output = DecideEntry(entry, imgSize_, fs_);
  }
  if (!output.sRefusal.empty()) fail(output.sRefusal);
  const std::string& name = output.sName;
  const std::int64_t start = output.lStart;
  const std::int64_t count = output.lCount;

  std::unique_ptr<OutputFile> outFile;
  try {
    outFile = destination.folder->CreateTemp();
  } catch (const IoError& e) {
    throw RunError("The destination folder " + Quoted(destination.path) +
                   " could not be written: " + e.what());
  }
  WrittenEntry written(destination, std::move(outFile), name, EntryLabel(entry), count);
  try {
    CopyEntry(start, count, written.File(), keepGoing);
  } catch (const IoError& e) {
    fail(std::string("could not be written: ") + e.what());
  }
  return written;
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
      throw RunError("The archive " + Quoted(paths_.img) + " could not be read: " + e.what());
    }
    if (got != n)
      throw RunError("The archive " + Quoted(paths_.img) +
                     " could not be read: it became shorter during the extraction");
    out.Write(gBuffer.data(), n);
    done += static_cast<std::int64_t>(n);
  }
}

void modArchive::AppendZeros(std::int64_t count, OutputFile& out) {
  std::fill(gBuffer.begin(), gBuffer.end(), '\0');
  for (std::int64_t done = 0; done < count;) {
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(gBuffer.size()), count - done));
    out.Write(gBuffer.data(), n);
    done += static_cast<std::int64_t>(n);
  }
}

}  // namespace sectorsieve
