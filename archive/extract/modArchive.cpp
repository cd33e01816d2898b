#include "modArchive.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

#include "messages.h"
#include "picking.h"

namespace sectorsieve {

namespace {

// Large enough to keep the disk busy, small enough that memory never grows with an entry.
constexpr std::size_t COPY_BUFFER_SIZE = 1 << 20;
// A stop is looked for between pieces of an entry this large: a fraction of a second even
// on a slow disk, yet few enough pieces to cost nothing.
constexpr std::int64_t PIECE_SIZE = 16 << 20;

}  // namespace

modArchive::modArchive(FileSystem& fs) : ArchiveReader(fs) {}

std::vector<std::size_t> modArchive::Replaced(const Archive& archive,
                                              const std::vector<std::size_t>& indices,
                                              const KeepGoing& keepGoing) const {
  return ReplacedByLater(
      archive, indices, fs_.Ansi(), [this](std::string_view name) { return fs_.ToUtf8(name); },
      keepGoing);
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
  if (archive.DataId() && fs_.Id(path) != archive.DataId()) {
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
    outFile = destination.folder->Create(std::string(entry.FileName()));
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
