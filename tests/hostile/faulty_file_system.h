#pragma once

// A file system that behaves like the real one except that the nth call of one chosen
// operation fails, the way a failing disk or a full one would.

#include <array>
#include <functional>
#include <ostream>
#include <string>

#include "file_io.h"

namespace sectorsieve::hostile {

enum class FileOp { OpenDirectory, OpenArchive, Size, ReadAt, CreateTemp, Write, Close, Rename };
inline constexpr int kFileOpCount = 8;

const char* FileOpName(FileOp op);
inline void PrintTo(FileOp op, std::ostream* os) { *os << FileOpName(op); }

// The system messages the injected faults carry.
inline constexpr const char* kAccessDenied = "Access is denied";
inline constexpr const char* kDiskFull = "No space left on device";
inline constexpr const char* kIoFailure = "Input/output error";

class FaultyFileSystem final : public FileSystem {
 public:
  // nth counts from 1; 0 never fails and only counts.
  FaultyFileSystem(FileOp op, int nth);

  const CodePage& Ansi() const override { return real_.Ansi(); }

  std::unique_ptr<InputFile> OpenRead(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateTemp(const std::string& folder) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) noexcept override;
  bool IsPlainFile(const std::string& path) override;
  bool IsFolder(const std::string& path) override { return real_.IsFolder(path); }

  int Calls(FileOp op) const { return calls_[static_cast<int>(op)]; }
  // Lets every further call through, as a disk does once it has room again.
  void Disarm() { nth_ = 0; }

  // The test sets this to the index of the entry in hand; a fault records it.
  int entryInProgress = -1;
  bool fired = false;
  int faultedEntry = -1;
  std::string faultedPath;  // the file the failing call was about
  // When set, the chosen call runs this instead of failing as a disk would (to throw what no
  // disk throws: std::bad_alloc, a logic error).
  std::function<void()> failure;

  // Counts a call of op on path and throws IoError(message) when it is the chosen one.
  void Count(FileOp op, const std::string& path, const char* message);
  // True (and recorded) when this call of op is the one to fail; the caller then fails it.
  bool Strikes(FileOp op, const std::string& path);

 private:
  FileSystem& real_;
  FileOp op_;
  int nth_;
  std::array<int, kFileOpCount> calls_{};
};

}  // namespace sectorsieve::hostile
