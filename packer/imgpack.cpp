#include "imgpack.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <random>
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

void ArchiveWriter::AppendFile(std::string_view name, const fs::path& file,
                               const KeepGoing& keepGoing) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PackError("cannot open " + Quoted(file));
  const auto size = static_cast<std::int64_t>(fs::file_size(file));
  const PackError changed("cannot pack " + Quoted(file) + ": it changed while it was packed");
  const std::int32_t lOffset = CheckedSector(nextSector_, name);
  CheckedSector(nextSector_ + SectorsFor(size), name);
  WriteRecord(name, lOffset, static_cast<std::int32_t>(SectorsFor(size)));
  img_.seekp(std::int64_t{lOffset} * SECTOR_SIZE);
  std::vector<char> chunk(CHUNK_BYTES);
  for (std::int64_t done = 0; done < size;) {
    const auto want = static_cast<std::streamsize>(
        std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), size - done));
    if (keepGoing && !keepGoing()) throw PackInterrupted();
    if (!in.read(chunk.data(), want)) throw changed;
    img_.write(chunk.data(), want);
    done += want;
  }
  // Bytes beyond the size it had when it was measured: it grew meanwhile.
  if (in.peek() != std::ifstream::traits_type::eof()) throw changed;
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

std::string RefusedNameReason(std::string_view name, const CodePage& cp) {
  if (name.size() > ENTRY_NAME_LENGTH) return "its name is longer than 24 bytes";
  if (FileNameOf(name) != name) return "its name holds a space";
  // Extraction reads "\\" as a folder separator.
  if (FindSeparator(name, 0, cp) != std::string_view::npos) return "its name holds a \"\\\"";
  if (const std::string reason = UnsafeNameReason(name, cp); !reason.empty())
    return "it would not be extracted: it " + reason;
  return {};
}

namespace {

// A name of a file in the archive's folder that nothing else uses.
fs::path Unused(const fs::path& basePath, std::string_view extension) {
  std::random_device random;
  const auto tag = (std::uint64_t{random()} << 32) | random();
  return fs::path(basePath) +=
         std::string(extension) + ".sectorsieve-" + std::to_string(tag) + ".tmp";
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

}  // namespace

std::size_t PackFolder(const fs::path& folder, const fs::path& basePath, const CodePage& cp,
                       const EntryNamer& entryName, const KeepGoing& keepGoing) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) throw PackError(Quoted(folder) + " is not a folder");
  const fs::path imgPath = fs::path(basePath) += kDataExtension;
  const fs::path dirPath = fs::path(basePath) += kDirectoryExtension;
  const fs::path inside = fs::canonical(folder, ec);
  // Entry name and the file it comes from, sorted by entry name.
  std::vector<std::pair<std::string, fs::path>> entries;
  std::map<std::u32string, fs::path> windowsNames;
  for (const fs::directory_entry& item : fs::directory_iterator(folder)) {
    // The archive being written over is no part of what it holds.
    if (SameFile(item.path(), imgPath) || SameFile(item.path(), dirPath)) continue;
    if (item.is_directory())
      throw PackError("cannot pack " + Quoted(item.path()) +
                      ": it is a folder, and only plain files can be packed");
    if (!item.is_regular_file())
      throw PackError("cannot pack " + Quoted(item.path()) + ": it is not a plain file");
    if (item.is_symlink()) {
      const fs::path target = fs::canonical(item.path(), ec);
      if (ec || target.parent_path() != inside)
        throw PackError("cannot pack " + Quoted(item.path()) +
                        ": it is a link to a file outside the folder");
    }
    const std::optional<std::string> name = entryName(item.path().filename());
    if (!name)
      throw PackError("cannot pack " + Quoted(item.path()) +
                      ": its name has characters that code page " + std::to_string(cp.Id()) +
                      " cannot hold");
    if (const std::string reason = RefusedNameReason(*name, cp); !reason.empty())
      throw PackError("cannot pack " + Quoted(item.path()) + ": " + reason);
    const auto [other, fresh] =
        windowsNames.emplace(NameKey(item.path().filename().u32string()), item.path());
    if (!fresh)
      throw PackError("cannot pack " + Quoted(item.path()) +
                      ": Windows takes its name for that of " + Quoted(other->second) +
                      ", and would extract only one of them");
    entries.emplace_back(*name, item.path());
  }
  std::sort(entries.begin(), entries.end());

  const fs::path newImg = Unused(basePath, kDataExtension);
  const fs::path newDir = Unused(basePath, kDirectoryExtension);
  try {
    ArchiveWriter writer(newImg, newDir);
    for (const auto& [name, file] : entries) {
      if (keepGoing && !keepGoing()) throw PackInterrupted();
      writer.AppendFile(name, file, keepGoing);
    }
    writer.Close();
    // A crash between these two renames leaves a mixed pair; the README says so.
    fs::rename(newImg, imgPath);
    fs::rename(newDir, dirPath);
  } catch (const fs::filesystem_error& e) {
    fs::remove(newImg, ec);
    fs::remove(newDir, ec);
    throw PackError("cannot write " + Quoted(imgPath) + ": " + e.code().message());
  } catch (...) {
    fs::remove(newImg, ec);
    fs::remove(newDir, ec);
    throw;
  }
  return entries.size();
}

}  // namespace sectorsieve::imgpack
