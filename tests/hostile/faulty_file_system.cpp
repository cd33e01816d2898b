#include "faulty_file_system.h"

namespace sectorsieve::hostile {

namespace {

class FaultyInputFile final : public InputFile {
 public:
  FaultyInputFile(std::unique_ptr<InputFile> real, std::string path, FaultyFileSystem& fs)
      : real_(std::move(real)), path_(std::move(path)), fs_(fs) {}
  std::int64_t Size() override {
    fs_.Count(FileOp::Size, path_, kIoFailure);
    return real_->Size();
  }
  std::size_t ReadAt(std::int64_t offset, char* data, std::size_t count) override {
    fs_.Count(FileOp::ReadAt, path_, kIoFailure);
    return real_->ReadAt(offset, data, count);
  }

 private:
  std::unique_ptr<InputFile> real_;
  std::string path_;
  FaultyFileSystem& fs_;
};

class FaultyOutputFile final : public OutputFile {
 public:
  FaultyOutputFile(std::unique_ptr<OutputFile> real, FaultyFileSystem& fs)
      : real_(std::move(real)), fs_(fs) {}
  const std::string& Path() const override { return real_->Path(); }
  void Write(const char* data, std::size_t count) override {
    if (fs_.Strikes(FileOp::Write, Path())) {
      // A full disk takes part of the data before it refuses the rest.
      real_->Write(data, count / 2);
      throw IoError(kDiskFull);
    }
    real_->Write(data, count);
  }
  void Close() override {
    const bool strikes = fs_.Strikes(FileOp::Close, Path());
    // The handle is gone either way; only the data's fate is in doubt.
    real_->Close();
    if (strikes) throw IoError(kIoFailure);
  }

 private:
  std::unique_ptr<OutputFile> real_;
  FaultyFileSystem& fs_;
};

}  // namespace

const char* FileOpName(FileOp op) {
  static const char* const kNames[kFileOpCount] = {
      "OpenDirectory", "OpenArchive", "Size", "ReadAt", "CreateTemp", "Write", "Close", "Rename"};
  return kNames[static_cast<int>(op)];
}

FaultyFileSystem::FaultyFileSystem(FileOp op, int nth)
    : real_(SystemFileSystem()), op_(op), nth_(nth) {}

bool FaultyFileSystem::Strikes(FileOp op, const std::string& path) {
  const int call = ++calls_[static_cast<int>(op)];
  if (op != op_ || call != nth_) return false;
  fired = true;
  faultedEntry = entryInProgress;
  faultedPath = path;
  return true;
}

void FaultyFileSystem::Count(FileOp op, const std::string& path, const char* message) {
  if (!Strikes(op, path)) return;
  if (failure) failure();
  throw IoError(message);
}

std::unique_ptr<InputFile> FaultyFileSystem::OpenRead(const std::string& path) {
  Count(path.ends_with(".dir") ? FileOp::OpenDirectory : FileOp::OpenArchive, path, kAccessDenied);
  return std::make_unique<FaultyInputFile>(real_.OpenRead(path), path, *this);
}

std::unique_ptr<OutputFile> FaultyFileSystem::CreateTemp(const std::string& folder) {
  Count(FileOp::CreateTemp, folder, kAccessDenied);
  return std::make_unique<FaultyOutputFile>(real_.CreateTemp(folder), *this);
}

void FaultyFileSystem::Rename(const std::string& from, const std::string& to) {
  Count(FileOp::Rename, to, kAccessDenied);
  real_.Rename(from, to);
}

void FaultyFileSystem::Remove(const std::string& path) noexcept { real_.Remove(path); }

bool FaultyFileSystem::IsPlainFile(const std::string& path) { return real_.IsPlainFile(path); }

}  // namespace sectorsieve::hostile
