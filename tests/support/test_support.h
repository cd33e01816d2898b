#pragma once

// Helpers shared by the tests: private temporary folders, archives built from annotated
// records, and a listing of everything below a folder.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace sectorsieve::testing {

namespace fs = std::filesystem;

// A fresh, empty folder removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("sectorsieve-test-" + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  // The folder as the program holds it: a byte string ending in the folder separator.
  std::string Folder() const { return path_.string() + "\\"; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// A path spelled as the program spells paths on Windows (and Linux spells them too): UTF-8.
// An entry name as UTF-8 where it is ASCII, which every ANSI code page reads as it is; nothing
// for any other byte, as a converter without a table for it answers.
inline std::optional<std::string> AsciiOnly(std::string_view name) {
  for (const char c : name)
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
  return std::string(name);
}

inline std::string Utf8Path(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}
inline fs::path PathFromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string Int32LE(std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  return {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8 & 0xFF),
          static_cast<char>(u >> 16 & 0xFF), static_cast<char>(u >> 24 & 0xFF)};
}

// One 32-byte directory record: offset and size in sectors, then the name field.
inline std::string Record(std::int32_t offset, std::int32_t size, const std::string& name) {
  std::string field = name.substr(0, 24);
  field.resize(24, '\0');
  return Int32LE(offset) + Int32LE(size) + field;
}

// bytes padded with zeros to a whole number of sectors, as extraction gives a file back.
inline std::string Sectors(std::string bytes) {
  bytes.resize((bytes.size() + 2047) / 2048 * 2048, '\0');
  return bytes;
}

// Sectors whose bytes tell where they stand, so a wrong offset shows in the output.
inline std::string PatternBytes(std::size_t count, unsigned seed = 1) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<char>((i * 131 + i / 2048 * 7 + seed) & 0xFF);
  return bytes;
}

// One directory record of an archive a test writes.
struct Entry {
  std::string name;
  std::int32_t offset, size;
};

// Writes base.dir with entries and base.img of `sectors` sectors of pattern bytes; returns
// the data file's bytes.
inline std::string WriteArchive(const fs::path& base, const std::vector<Entry>& entries,
                                std::size_t sectors) {
  std::string dir;
  for (const Entry& e : entries) dir += Record(e.offset, e.size, e.name);
  WriteBytes(fs::path(base) += ".dir", dir);
  std::string img = PatternBytes(sectors * 2048);
  WriteBytes(fs::path(base) += ".img", img);
  return img;
}
// What e's whole sectors hold in img, the data file's bytes.
inline std::string EntryBytes(const std::string& img, const Entry& e) {
  return img.substr(static_cast<std::size_t>(e.offset) * 2048,
                    static_cast<std::size_t>(e.size) * 2048);
}

// Writes a data file of `sectors` sectors that holds a pattern sector at every `every`-th
// sector and at the last, and nothing between them: holes, where the file system has them.
inline void WriteSparseData(const fs::path& img, std::size_t sectors, std::size_t every) {
  std::ofstream out(img, std::ios::binary | std::ios::trunc);
  const auto put = [&](std::size_t s) {
    out.seekp(static_cast<std::streamoff>(s * 2048));
    out.write(PatternBytes(2048, static_cast<unsigned>(s)).data(), 2048);
  };
  for (std::size_t s = 0; s < sectors; s += every) put(s);
  put(sectors - 1);
}
// The bytes such a data file reads as.
inline std::string SparseBytes(std::size_t sectors, std::size_t every) {
  std::string bytes(sectors * 2048, '\0');
  for (std::size_t s = 0; s < sectors; s += every)
    bytes.replace(s * 2048, 2048, PatternBytes(2048, static_cast<unsigned>(s)));
  bytes.replace((sectors - 1) * 2048, 2048, PatternBytes(2048, static_cast<unsigned>(sectors - 1)));
  return bytes;
}

// Every file and folder below root, as paths relative to it ("sub/x"), folders ending in "/".
inline std::set<std::string> ListTree(const fs::path& root) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).generic_string();
    names.insert(e.is_directory() ? rel + "/" : rel);
  }
  return names;
}

}  // namespace sectorsieve::testing
