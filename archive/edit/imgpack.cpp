#include "imgpack.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <vector>

#include "format.h"
#include "names.h"
#include "picking.h"

namespace sectorsieve::imgpack {

namespace {

namespace fs = std::filesystem;

// Files are copied into the data file this much at a time.
constexpr std::size_t CHUNK_BYTES = 1 << 20;

std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

std::int64_t SectorsFor(std::int64_t bytes) { return (bytes + SECTOR_SIZE - 1) / SECTOR_SIZE; }

std::ofstream Create(const fs::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw PackError("cannot create " + Quoted(path));
  return out;
}

}  // namespace

ArchiveWriter::ArchiveWriter(const fs::path& basePath)
    : ArchiveWriter(fs::path(basePath) += kDataExtension,
                    fs::path(basePath) += kDirectoryExtension) {}

ArchiveWriter::ArchiveWriter(const fs::path& imgPath, const fs::path& dirPath)
    : imgPath_(imgPath), dirPath_(dirPath), img_(Create(imgPath_)), dir_(Create(dirPath_)) {}

std::int32_t ArchiveWriter::CheckedSector(std::int64_t sector, std::string_view name) const {
  if (sector > std::numeric_limits<std::int32_t>::max())
    throw PackError("the archive is full: \"" + std::string(name) +
                    "\" would end beyond the last sector a record can address");
  return static_cast<std::int32_t>(sector);
}

void ArchiveWriter::WriteRecord(std::string_view name, std::int32_t lOffset, std::int32_t lSize) {
  if (name.size() > ENTRY_NAME_LENGTH)
    throw PackError("the name \"" + std::string(name) + "\" is longer than 24 bytes");
  DirEntry entry{lOffset, lSize, {}};
  std::copy(name.begin(), name.end(), entry.sName.begin());
  std::array<char, DIR_RECORD_SIZE> record{};
  EncodeRecord(entry, record.data());
  dir_.write(record.data(), record.size());
}

void ArchiveWriter::PadToSector() {
  const std::int64_t end = img_.tellp();
  const std::int64_t padded = SectorsFor(end) * SECTOR_SIZE;
  static constexpr std::array<char, SECTOR_SIZE> zeros{};
  img_.write(zeros.data(), padded - end);
  nextSector_ = std::max(nextSector_, padded / SECTOR_SIZE);
}

void ArchiveWriter::Append(std::string_view name, std::string_view bytes) {
  const std::int64_t sectors = SectorsFor(static_cast<std::int64_t>(bytes.size()));
  const std::int32_t lOffset = CheckedSector(nextSector_, name);
  CheckedSector(nextSector_ + sectors, name);
  WriteRecord(name, lOffset, static_cast<std::int32_t>(sectors));
  img_.seekp(std::int64_t{lOffset} * SECTOR_SIZE);
  img_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  PadToSector();
}

void ArchiveWriter::AppendFile(std::string_view name, const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PackError("cannot open " + Quoted(file));
  const auto size = static_cast<std::int64_t>(fs::file_size(file));
  const std::int32_t lOffset = CheckedSector(nextSector_, name);
  CheckedSector(nextSector_ + SectorsFor(size), name);
  WriteRecord(name, lOffset, static_cast<std::int32_t>(SectorsFor(size)));
  img_.seekp(std::int64_t{lOffset} * SECTOR_SIZE);
  std::vector<char> chunk(CHUNK_BYTES);
  for (std::int64_t done = 0; done < size;) {
    const auto want = static_cast<std::streamsize>(
        std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), size - done));
    if (!in.read(chunk.data(), want)) throw PackError("cannot read " + Quoted(file));
    img_.write(chunk.data(), want);
    done += want;
  }
  PadToSector();
}

void ArchiveWriter::Put(std::string_view name, std::int32_t lOffset, std::int32_t lSize,
                        std::string_view bytes) {
  WriteRecord(name, lOffset, lSize);
  if (bytes.empty()) return;
  if (lOffset < 0) throw PackError("bytes cannot be written before the start of the data file");
  const std::int64_t start = std::int64_t{lOffset} * SECTOR_SIZE;
  img_.seekp(0, std::ios::end);
  // Seeking past the end does not extend the file, so a gap is written out as zeros.
  const std::vector<char> gap(
      static_cast<std::size_t>(std::max<std::int64_t>(0, start - img_.tellp())));
  img_.write(gap.data(), static_cast<std::streamsize>(gap.size()));
  img_.seekp(start);
  img_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  img_.seekp(0, std::ios::end);
  PadToSector();
}

void ArchiveWriter::Close() {
  img_.close();
  dir_.close();
  if (img_.fail()) throw PackError("cannot write " + Quoted(imgPath_));
  if (dir_.fail()) throw PackError("cannot write " + Quoted(dirPath_));
}

namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// path of name in folder, spelled as paths are.
std::string Inside(const std::string& folder, const std::string& name) {
  return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// Why an item of the folder cannot be packed, or empty.
std::string KindRefusal(ItemKind kind) {
  switch (kind) {
    case ItemKind::File:
    case ItemKind::LinkInside:
      return {};
    case ItemKind::Folder:
      return "it is a folder, and only plain files can be packed";
    case ItemKind::Link:
      return "it is a link to a file outside the folder";
    case ItemKind::Other:
      break;
  }
  return "it is not a plain file";
}

}  // namespace

std::size_t PackFolder(FileSystem& fs, const std::string& folder, const ArchivePaths& typed,
                       const EntryNamer& entryName, const KeepGoing& keepGoing) {
  if (!fs.IsFolder(folder)) throw PackError(Quoted(folder) + " is not a folder");
  const ArchivePaths paths = SpelledArchive(fs, typed);
  const auto lock = BeginChange(fs, paths, keepGoing);
  std::vector<FolderItem> items;
  try {
    items = fs.ListFolder(folder);
  } catch (const IoError& e) {
    throw PackError("cannot read " + Quoted(folder) + ": " + e.what());
  }
  // Entry name and the file it comes from, sorted by entry name.
  std::vector<std::pair<std::string, std::string>> entries;
  std::map<std::u32string, std::string> windowsNames;
  for (const FolderItem& item : items) {
    const std::string path = Inside(folder, item.name);
    // The archive being written over and this program's own files are no part of what it holds.
    if (IsTemporaryName(item.name) || fs.SameFile(path, paths.img) || fs.SameFile(path, paths.dir))
      continue;
    const auto refuse = [&](const std::string& reason) {
      return PackError("cannot pack " + Quoted(path) + ": " + reason);
    };
    if (const std::string reason = KindRefusal(item.kind); !reason.empty()) throw refuse(reason);
    const std::optional<std::string> name = entryName(item.name);
    if (!name)
      throw refuse("its name has characters that code page " + std::to_string(fs.Ansi().Id()) +
                   " cannot hold exactly");
    if (const std::string reason = RefusedNameReason(*name, fs.Ansi()); !reason.empty())
      throw refuse(reason);
    const auto [other, fresh] = windowsNames.emplace(
        NameKey(item.name, fs.Ansi(),
                [](std::string_view text) { return std::optional<std::string>(text); }),
        path);
    if (!fresh)
      throw refuse("Windows takes its name for that of " + Quoted(other->second) +
                   ", and would extract only one of them");
    entries.emplace_back(*name, path);
  }
  std::sort(entries.begin(), entries.end());

  ArchiveChange change(fs, paths, ArchiveChange::Mode::Whole);
  std::vector<DirEntry> records;
  for (const auto& [name, file] : entries) {
    if (keepGoing && !keepGoing()) throw ChangeInterrupted();
    records.push_back(change.AppendFile(name, file, file, keepGoing));
  }
  change.Commit(records);
  return entries.size();
}

}  // namespace sectorsieve::imgpack
