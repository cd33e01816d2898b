#pragma once

// A file system that behaves like the real one except that the nth call of one chosen
// operation fails, the way a failing disk or a full one would. Files are closed and renamed
// on the run's finishing threads, in whatever order they get there: for Close and Rename the
// nth call is that of the nth file created, as it is when files are finished in series.

#include <array>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

#include "file_io.h"

namespace sectorsieve::hostile {

// CreateTemp counts new files beside an archive too; Update is a write, copy or resize of an
// archive's file, Flush its flush, Replace a rename over an archive's file, and FlushFolder
// the flush of the folder once that rename is made.
enum class FileOp {
  OpenDirectory,
  OpenArchive,
  Size,
  ReadAt,
  CreateTemp,
  Write,
  Close,
  Rename,
  Update,
  Flush,
  Replace,
  FlushFolder
};
inline constexpr int kFileOpCount = 12;

const char* FileOpName(FileOp op);
inline void PrintTo(FileOp op, std::ostream* os) { *os << FileOpName(op); }

// The system messages the injected faults carry.
inline constexpr const char* kAccessDenied = "Access is denied";
inline constexpr const char* kDiskFull = "No space left on device";
inline constexpr const char* kIoFailure = "Input/output error";

class FaultyFileSystem final : public ForwardingFileSystem {
 public:
  // nth counts from 1; 0 never fails and only counts.
  FaultyFileSystem(FileOp op, int nth);

  std::unique_ptr<InputFile> OpenRead(const std::string& path) override;
  std::unique_ptr<OutputFolder> OpenFolder(const std::string& path) override;
  bool IsPlainFile(const std::string& path) override;
  std::unique_ptr<UpdateFile> OpenUpdate(const std::string& path) override;
  std::unique_ptr<UpdateFile> CreateBeside(const std::string& like) override;
  void Replace(const std::string& from, const std::string& to) override;

  int Calls(FileOp op) const;
  // Lets every further call through, as a disk does once it has room again.
  void Disarm();

  // Wait until op has been called count times, or until the fault has fired; false when that
  // does not happen within a long while (the run did not go on meanwhile).
  bool WaitForCalls(FileOp op, int count);
  bool WaitForFault();

  // The test sets this to the index of the entry in hand, on the run's thread; a file
  // created meanwhile belongs to that entry, and so do faults of its Close and Rename.
  int entryInProgress = -1;
  // Runs on the thread that closes a file, before it closes, with the file's number (1 for
  // the first created): lets a test hold a file in flight.
  std::function<void(int file)> beforeClose;

  // Read once the run is over.
  bool fired = false;
  int faultedEntry = -1;
  std::string faultedPath;  // the file the failing call was about
  // When set, the chosen call runs this instead of failing as a disk would (to throw what no
  // disk throws: std::bad_alloc, a logic error).
  std::function<void()> failure;

  // Counts a call of op and throws IoError(message) when it is the chosen one. nth is the
  // call's number, or 0 to take the next number.
  void Count(FileOp op, const std::string& path, const char* message, int entry, int nth = 0);
  // True (and recorded) when this call of op is the one to fail; the caller then fails it.
  bool Strikes(FileOp op, const std::string& path, int entry, int nth = 0);

  // A folder's calls, counted here: files are numbered across every folder.
  std::unique_ptr<OutputFile> CreateTemp(OutputFolder& real, const std::string& folder);
  void Rename(OutputFolder& real, const std::string& temp, const std::string& name);
  // A closed file's temporary name, which may come only when it is closed.
  void Named(const std::string& temp, int number, int entry);

 private:
  struct Created {
    int number;
    int entry;
  };

  bool WaitFor(const std::function<bool()>& ready);

  FileSystem& real_ = inner_;
  FileOp op_;
  int nth_;
  mutable std::mutex mutex_;
  std::condition_variable called_;
  std::array<int, kFileOpCount> calls_{};
  int files_ = 0;
  std::map<std::string, Created> created_;  // by temporary name, once closed
};

}  // namespace sectorsieve::hostile
