#pragma once

// The core's only door to the file system. The POSIX and Win32 implementations
// live in their own files; tests wrap it to inject faults.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "names.h"

namespace sectorsieve {

// A file operation failed; what() is the system's own message.
class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file opened for reading. While it is open, others may read it but not write it.
class InputFile {
 public:
  virtual ~InputFile() = default;
  virtual std::int64_t Size() = 0;
  // Reads up to count bytes at a 0-based offset; fewer only at the end of the file.
  virtual std::size_t ReadAt(std::int64_t offset, char* data, std::size_t count) = 0;
};

// A new file being written. While it is open, others may read it but not write it.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual const std::string& Path() const = 0;
  virtual void Write(const char* data, std::size_t count) = 0;
  // Appends up to count bytes of source, from offset, without passing them through this
  // process where the system can. Returns how many it appended: fewer, or none, for any
  // reason at all, failures included; the caller writes the rest itself, and meets there
  // whatever went wrong.
  virtual std::int64_t CopyFrom(InputFile& /*source*/, std::int64_t /*offset*/,
                                std::int64_t /*count*/) {
    return 0;
  }
  // Flushes and closes; a failure here means the file is not complete.
  virtual void Close() = 0;
};

// Paths are byte strings in the system's ANSI code page; "\" separates folders on every
// platform, so the same archive extracts to the same tree everywhere.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The code page that paths are in: how to tell a "\" from the second byte of a character.
  virtual const CodePage& Ansi() const = 0;
  virtual std::unique_ptr<InputFile> OpenRead(const std::string& path) = 0;
  // Creates a new, uniquely named file inside folder (which ends in "\"), never an existing one.
  virtual std::unique_ptr<OutputFile> CreateTemp(const std::string& folder) = 0;
  // Replaces to, if it exists, with from in one step.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  virtual void Remove(const std::string& path) noexcept = 0;
  // True for an existing plain file: not a folder, not hidden, not a system file.
  virtual bool IsPlainFile(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
};

// How many threads finish new files (close and rename them) while a run writes the next
// ones: it depends on what closing a file costs on this system.
unsigned DefaultFinishers();

// The real file system of the platform the program runs on, in the system's ANSI code page
// (on Windows the system says which; elsewhere it is 1252).
FileSystem& SystemFileSystem();
#ifndef _WIN32
// The real file system with paths in another code page (Windows has only the system's).
std::unique_ptr<FileSystem> SystemFileSystem(const CodePage& ansi);
#endif

}  // namespace sectorsieve
