#include "modArchive.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sectorsieve {

namespace {

// Large enough to keep the disk busy, small enough that memory never grows with an entry.
constexpr std::size_t COPY_BUFFER_SIZE = 1 << 20;
// Directory records are read this many at a time rather than one read per record.
constexpr std::size_t RECORDS_PER_READ = 2048;

std::int32_t ReadInt32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
      static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
}

DirEntry DecodeRecord(const char* record) {
  DirEntry e;
  e.lOffset = ReadInt32(record + RECORD_OFFSET_FIELD);
  e.lSize = ReadInt32(record + RECORD_SIZE_FIELD);
  std::memcpy(e.sName.data(), record + RECORD_NAME_FIELD, ENTRY_NAME_LENGTH);
  return e;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string Upper(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsReservedDeviceName(std::string_view component) {
  // Windows maps these names to devices in every folder, whatever the extension.
  const std::string base = Upper(component.substr(0, component.find('.')));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* d : kDevices)
    if (base == d) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

void Catalogue::Add(clsImgFile entry) {
  index_.emplace(entry.sId(), items_.size());
  items_.push_back(std::move(entry));
}

const clsImgFile* Catalogue::Item(const std::string& key) const {
  const auto it = index_.find(key);
  return it == index_.end() ? nullptr : &items_[it->second];
}

std::string StripNulls(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text)
    if (c != '\0' && c != '\x10') result += c;
  return result;
}

std::string SpacesToNulls(std::string_view text) {
  std::string result(text);
  std::replace(result.begin(), result.end(), ' ', '\0');
  return result;
}

std::string EntryLabel(const clsImgFile& entry) {
  std::string name = Trim(StripNulls(entry.sName()));
  return name.empty() ? "entry " + entry.sId() : name;
}

std::string UnsafeNameReason(std::string_view name) {
  if (name.empty()) return "has no name";
  if (name.front() == '\\' || name.front() == '/')
    return "has a name that leaves the destination folder";
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || std::strchr("<>\"|?*:", c) != nullptr)
      return "has a name with characters that file names cannot hold";
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = name.find_first_of("\\/", start);
    const std::string_view part = name.substr(start, end - start);
    if (end == std::string_view::npos && part.empty()) return "has a name that ends in a folder";
    // ".." climbs out; Windows trims longer runs of dots to the same thing.
    if (part.size() >= 2 && part.find_first_not_of('.') == std::string_view::npos)
      return "has a name that leaves the destination folder";
    if (IsReservedDeviceName(part)) return "has a name reserved for a device";
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

modArchive::modArchive(FileSystem& fs) : fs_(fs) {}

void modArchive::LoadDirectory(const std::string& basePath) {
  gEntries = Catalogue();
  gArchiveBase = basePath;
  CloseArchive();

  const std::string path = basePath + ".dir";
  try {
    const auto gDirFile = fs_.OpenRead(path);
    // A trailing fragment shorter than a record is not an entry.
    const std::int64_t records = gDirFile->Size() / DIR_RECORD_SIZE;
    std::vector<char> chunk(RECORDS_PER_READ * DIR_RECORD_SIZE);
    for (std::int64_t first = 0; first < records; first += RECORDS_PER_READ) {
      const auto n =
          static_cast<std::size_t>(std::min<std::int64_t>(RECORDS_PER_READ, records - first));
      const std::size_t bytes = n * DIR_RECORD_SIZE;
      if (gDirFile->ReadAt(first * DIR_RECORD_SIZE, chunk.data(), bytes) != bytes)
        throw IoError("the file ended early");
      for (std::size_t i = 0; i < n; ++i) {
        gEntry = DecodeRecord(chunk.data() + i * DIR_RECORD_SIZE);
        clsImgFile entry;
        entry.set_sId(std::to_string(first + static_cast<std::int64_t>(i)));
        entry.set_sName(StripNulls(std::string_view(gEntry.sName.data(), ENTRY_NAME_LENGTH)));
        entry.set_lOffset(gEntry.lOffset);
        entry.set_lSize(gEntry.lSize);
        gEntries.Add(std::move(entry));
      }
    }
  } catch (const IoError& e) {
    throw RunError("The directory file " + Quoted(path) + " could not be read: " + e.what());
  }
}

void modArchive::OpenArchive() {
  const std::string path = gArchiveBase + ".img";
  try {
    gImgFile = fs_.OpenRead(path);
    imgSize_ = gImgFile->Size();
  } catch (const IoError& e) {
    gImgFile.reset();
    throw RunError("The archive " + Quoted(path) + " could not be opened: " + e.what());
  }
}

void modArchive::ExtractEntry(const clsImgFile& entry, const std::string& destination) {
  WriteEntry(entry, destination).Finish();
}

WrittenEntry modArchive::WriteEntry(const clsImgFile& entry, const std::string& destination) {
  gEntry.lOffset = entry.lOffset();
  gEntry.lSize = entry.lSize();
  const std::string fixedName = SpacesToNulls(entry.sName());
  std::copy_n(fixedName.begin(), ENTRY_NAME_LENGTH, gEntry.sName.begin());
  const std::string name(gEntry.sName.data(),
                         std::find(gEntry.sName.begin(), gEntry.sName.end(), '\0'));

  // Everything is checked before the output is touched.
  const auto fail = [&](const std::string& reason) { throw EntryError(EntryLabel(entry), reason); };
  if (gEntry.lOffset < 0) fail("has a negative offset");
  if (gEntry.lSize < 0) fail("has a negative size");
  if (const std::string reason = UnsafeNameReason(name); !reason.empty()) fail(reason);

  if (!gImgFile) OpenArchive();
  const std::int64_t start = std::int64_t{gEntry.lOffset} * SECTOR_SIZE;
  const std::int64_t count = std::int64_t{gEntry.lSize} * SECTOR_SIZE;
  // The final sector may be partial; its missing tail reads as zeros. An empty entry may
  // start right at the end, where a writer puts an empty last file.
  const std::int64_t sectorsEnd = (imgSize_ + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE;
  if (count > sectorsEnd - start) fail("lies beyond the end of the archive");

  std::unique_ptr<OutputFile> gOutFile;
  try {
    gOutFile = fs_.CreateTemp(destination);
  } catch (const IoError& e) {
    throw RunError("The destination folder " + Quoted(destination) +
                   " could not be written: " + e.what());
  }
  WrittenEntry written(fs_, std::move(gOutFile), destination + name, EntryLabel(entry));
  try {
    CopyEntry(start, count, written.File());
  } catch (const IoError& e) {
    fail(std::string("could not be written: ") + e.what());
  }
  return written;
}

void modArchive::CopyEntry(std::int64_t start, std::int64_t count, OutputFile& out) {
  gBuffer.resize(COPY_BUFFER_SIZE);
  const std::int64_t stored = std::clamp<std::int64_t>(imgSize_ - start, 0, count);
  for (std::int64_t done = 0; done < stored;) {
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(gBuffer.size()), stored - done));
    std::size_t got = 0;
    try {
      got = gImgFile->ReadAt(start + done, gBuffer.data(), n);
    } catch (const IoError& e) {
      throw RunError("The archive " + Quoted(gArchiveBase + ".img") +
                     " could not be read: " + e.what());
    }
    if (got != n)
      throw RunError("The archive " + Quoted(gArchiveBase + ".img") +
                     " could not be read: it became shorter during the extraction");
    out.Write(gBuffer.data(), n);
    done += static_cast<std::int64_t>(n);
  }
  if (stored < count) {
    std::fill(gBuffer.begin(), gBuffer.end(), '\0');
    out.Write(gBuffer.data(), static_cast<std::size_t>(count - stored));
  }
}

}  // namespace sectorsieve
