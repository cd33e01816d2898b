#include "utf8_file_system.h"

namespace sectorsieve::cli {

Utf8FileSystem::Utf8FileSystem(FileSystem& inner, const NameCodec& names, std::string folder)
    : inner_(inner), names_(names), folder_(std::move(folder)) {}

std::string Utf8Name(std::string_view name, const NameCodec& names) {
  // Split where the code page has separators, so that a trail byte 0x5C stays in its
  // character; UTF-8 has no such bytes, and the inner seam may look for "\" byte by byte.
  std::string utf8;
  for (std::size_t start = 0;;) {
    const std::size_t end = FindSeparator(name, start, names.Ansi());
    const auto part = names.ToUtf8(name.substr(start, end - start));
    if (!part)
      throw IoError("its name does not convert from code page " +
                    std::to_string(names.Ansi().Id()) + " to UTF-8");
    utf8 += *part;
    if (end == std::string_view::npos) return utf8;
    utf8 += '/';
    start = end + 1;
  }
}

// The path the platform knows path by.
std::string Utf8FileSystem::Native(const std::string& path) const {
  if (!path.starts_with(folder_)) return path;
  return folder_ + Utf8Name(std::string_view(path).substr(folder_.size()), names_);
}

std::unique_ptr<InputFile> Utf8FileSystem::OpenRead(const std::string& path) {
  return inner_.OpenRead(path);
}

std::unique_ptr<OutputFile> Utf8FileSystem::CreateTemp(const std::string& folder) {
  return inner_.CreateTemp(Native(folder));
}

void Utf8FileSystem::Rename(const std::string& from, const std::string& to) {
  inner_.Rename(Native(from), Native(to));
}

void Utf8FileSystem::Remove(const std::string& path) noexcept {
  try {
    inner_.Remove(Native(path));
  } catch (const IoError&) {
    // A name that does not convert names no file that could be there.
  }
}

bool Utf8FileSystem::IsPlainFile(const std::string& path) { return inner_.IsPlainFile(path); }

bool Utf8FileSystem::IsFolder(const std::string& path) { return inner_.IsFolder(path); }

}  // namespace sectorsieve::cli
