#include "utf8_file_system.h"

#include <algorithm>

namespace sectorsieve::cli {

namespace {

class Utf8Folder final : public OutputFolder {
 public:
  Utf8Folder(std::unique_ptr<OutputFolder> inner, const NameCodec& names)
      : inner_(std::move(inner)), names_(names) {}
  std::unique_ptr<OutputFile> CreateTemp() override { return inner_->CreateTemp(); }
  void Rename(const std::string& temp, const std::string& name) override {
    try {
      inner_->Rename(temp, Utf8Name(name, names_));
    } catch (const LinkInTheWay& e) {
      throw LinkInTheWay(InArchive(name, e.link()));
    } catch (const NoSuchFolder& e) {
      throw NoSuchFolder(InArchive(name, e.folder()));
    }
  }
  void Remove(const std::string& temp) noexcept override { inner_->Remove(temp); }
  bool Holds(const std::string& name) override {
    try {
      return inner_->Holds(Utf8Name(name, names_));
    } catch (const IoError&) {
      return false;  // no file has a name that does not convert
    }
  }
  void Keep(std::vector<FileId> files) override { inner_->Keep(std::move(files)); }
  // Spelled as the folder's path is, with "/" alone between folders.
  std::string Shown(std::string_view name) const override {
    return names_.Shown(WithSeparator(std::string(name), '/', names_.Ansi()));
  }

 private:
  // The folder part utf8 of name, named as the archive names it: as many folder parts.
  std::string InArchive(const std::string& name, const std::string& utf8) const {
    const auto parts = std::count(utf8.begin(), utf8.end(), '/');
    std::size_t end = FindSeparator(name, 0, names_.Ansi());
    for (long i = 0; i < parts; ++i) end = FindSeparator(name, end + 1, names_.Ansi());
    return name.substr(0, end);
  }

  std::unique_ptr<OutputFolder> inner_;
  const NameCodec& names_;
};

}  // namespace

Utf8FileSystem::Utf8FileSystem(std::unique_ptr<FileSystem> inner, const NameCodec& names)
    : ForwardingFileSystem(*inner), own_(std::move(inner)), names_(names) {}

std::string Utf8Name(std::string_view name, const NameCodec& names) {
  // Split where the code page has separators, so that a trail byte 0x5C stays in its
  // character; UTF-8 has no such bytes, and the inner seam may look for "\" byte by byte.
  std::string utf8;
  for (std::size_t start = 0;;) {
    const std::size_t end = FindSeparator(name, start, names.Ansi());
    const std::string_view source = name.substr(start, end - start);
    const auto part = names.ToUtf8(source);
    if (!part)
      throw IoError("its name does not convert from code page " +
                    std::to_string(names.Ansi().Id()) + " to UTF-8");
    // Checked in the code page, and so again here, where the file system reads it.
    if (part->find('/') != std::string::npos ||
        ((*part == "." || *part == "..") && *part != source))
      throw IoError("its name leaves the destination folder once in UTF-8");
    utf8 += *part;
    if (end == std::string_view::npos) return utf8;
    utf8 += '/';
    start = end + 1;
  }
}

std::unique_ptr<OutputFolder> Utf8FileSystem::OpenFolder(const std::string& path) {
  return std::make_unique<Utf8Folder>(inner_.OpenFolder(path), names_);
}

std::string Utf8FileSystem::Shown(std::string_view name) const { return names_.Shown(name); }

std::string Utf8FileSystem::NameRefusal(std::string_view name) const {
  try {
    Utf8Name(name, names_);
  } catch (const IoError& e) {
    return AsRefusal(e.what());
  }
  return {};
}

}  // namespace sectorsieve::cli
