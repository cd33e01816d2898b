#include "archive_reader.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>
#include <unordered_map>
#include <utility>

#include "archive_recovery.h"
#include "messages.h"

namespace sectorsieve {

namespace {

// Directory records are read this many at a time rather than one read per record.
constexpr std::size_t RECORDS_PER_READ = 2048;

std::string_view WithoutEnd(std::string_view text, char padding) {
  return text.substr(0, text.find_last_not_of(padding) + 1);
}

}  // namespace

bool LiesWithin(std::int64_t start, std::int64_t count, std::int64_t size) {
  const std::int64_t sectorsEnd = (size + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE;
  return count <= sectorsEnd - start;
}

const std::string& Archive::Refusal(const Entry& entry) const {
  static const std::string none;
  return entry.refusal_ == 0 ? none : reasons_[entry.refusal_ - 1];
}

std::string Archive::StoredName(const Entry& entry) const {
  const auto odd =
      std::lower_bound(oddFields_.begin(), oddFields_.end(), entry.Index(),
                       [](const auto& field, std::size_t index) { return field.first < index; });
  if (odd != oddFields_.end() && odd->first == entry.Index())
    return std::string(WithoutEnd({odd->second.data(), odd->second.size()}, '\0'));
  return std::string(WithoutEnd(entry.Record().NameField(), ' '));
}

ArchiveReader::ArchiveReader(FileSystem& fs) : fs_(fs) {}

Archive ArchiveReader::LoadDirectory(const std::string& basePath,
                                     const std::function<bool()>& keepGoing) {
  return LoadDirectory(ArchivePathsOf(basePath), keepGoing);
}

Archive ArchiveReader::LoadDirectory(const ArchivePaths& typed,
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

Archive ArchiveReader::ReadArchive(const ArchivePaths& view,
                                   const std::function<bool()>& keepGoing) {
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
  std::unique_ptr<InputFile> dirFile;
  try {
    dirFile = fs_.OpenRead(path);
    // A trailing fragment shorter than a record is not an entry.
    const std::int64_t records = dirFile->Size() / DIR_RECORD_SIZE;
    archive.trailingBytes_ = dirFile->Size() % DIR_RECORD_SIZE;
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
        const std::string_view field(record.sName.data(), ENTRY_NAME_LENGTH);
        entry.record_.set_sName(StripNulls(field));
        if (WithoutEnd(field, '\0') != WithoutEnd(entry.record_.NameField(), ' '))
          archive.oddFields_.emplace_back(entry.record_.Index(), record.sName);
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
    // Not opened: said as what the user named, the .img, where neither file is there or the
    // .img is a folder.
    if (!dirFile && fs_.IsFolder(archive.paths_.img))
      throw RunError(Quoted(archive.paths_.img) + " is a folder, not an archive's .img file");
    if (!dirFile && !fs_.Exists(archive.paths_.img) && !fs_.Exists(path))
      throw RunError("There is no archive " + Quoted(archive.paths_.img) + ": neither it nor " +
                     Quoted(path) + " exists");
    throw RunError("The directory file " + Quoted(path) + " could not be read: " + e.what());
  } catch (const std::bad_alloc&) {
    throw RunError("There is not enough memory to read the directory file " + Quoted(path) + ".");
  }
  return archive;
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

}  // namespace sectorsieve
