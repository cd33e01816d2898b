#pragma once

// The file seam for Linux, whose file names are UTF-8: entry names reach the file system in
// UTF-8 while the core checks them, byte by byte, in the archive's code page.

#include <memory>
#include <string>

#include "file_io.h"
#include "native_names.h"

namespace sectorsieve::cli {

// name (in names' code page, "\" or "/" between folders) as a UTF-8 relative path; throws
// IoError when it does not convert, whose what() reads as why.
std::string Utf8Name(std::string_view name, const NameCodec& names);

class Utf8FileSystem final : public FileSystem {
 public:
  // What is written inside folder (as the core is given it, ending in a separator) has
  // folder's own bytes followed by a name in names' code page. Everything else, the archive
  // that is read included, has the platform's own path, even when it lies inside folder.
  Utf8FileSystem(FileSystem& inner, const NameCodec& names, std::string folder);

  const CodePage& Ansi() const override { return names_.Ansi(); }
  std::unique_ptr<InputFile> OpenRead(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateTemp(const std::string& folder) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) noexcept override;
  bool IsPlainFile(const std::string& path) override;
  bool IsFolder(const std::string& path) override;

 private:
  std::string Native(const std::string& path) const;

  FileSystem& inner_;
  const NameCodec& names_;
  std::string folder_;
};

}  // namespace sectorsieve::cli
