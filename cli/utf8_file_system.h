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

// Paths are the platform's own; only the names inside a folder opened for writing are in
// names' code page, and reach the inner seam in UTF-8.
class Utf8FileSystem final : public ForwardingFileSystem {
 public:
  Utf8FileSystem(std::unique_ptr<FileSystem> inner, const NameCodec& names);

  const CodePage& Ansi() const override { return names_.Ansi(); }
  std::string Shown(std::string_view name) const override;
  std::string NameRefusal(std::string_view name) const override;
  std::optional<std::string> ToUtf8(std::string_view name) const override {
    return names_.ToUtf8(name);
  }
  std::unique_ptr<OutputFolder> OpenFolder(const std::string& path) override;

 private:
  std::unique_ptr<FileSystem> own_;
  const NameCodec& names_;
};

}  // namespace sectorsieve::cli
