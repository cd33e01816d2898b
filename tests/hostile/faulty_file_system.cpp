#include "faulty_file_system.h"

#include <chrono>

namespace sectorsieve::hostile {

namespace {

// Far longer than any run here takes; only a run that stopped going on reaches it.
constexpr auto kPatience = std::chrono::seconds(30);

class FaultyInputFile final : public InputFile {
 public:
  FaultyInputFile(std::unique_ptr<InputFile> real, std::string path, FaultyFileSystem& fs)
      : real_(std::move(real)), path_(std::move(path)), fs_(fs) {}
  std::int64_t Size() override {
    fs_.Count(FileOp::Size, path_, kIoFailure, fs_.entryInProgress);
    return real_->Size();
  }
  std::size_t ReadAt(std::int64_t offset, char* data, std::size_t count) override {
    fs_.Count(FileOp::ReadAt, path_, kIoFailure, fs_.entryInProgress);
    return real_->ReadAt(offset, data, count);
  }

 private:
  std::unique_ptr<InputFile> real_;
  std::string path_;
  FaultyFileSystem& fs_;
};

class FaultyOutputFile final : public OutputFile {
 public:
  FaultyOutputFile(std::unique_ptr<OutputFile> real, FaultyFileSystem& fs, int number, int entry)
      : real_(std::move(real)), fs_(fs), number_(number), entry_(entry) {}
  const std::string& Name() const override { return real_->Name(); }
  void Write(const char* data, std::size_t count) override {
    if (fs_.Strikes(FileOp::Write, Name(), entry_)) {
      // A full disk takes part of the data before it refuses the rest.
      real_->Write(data, count / 2);
      throw IoError(kDiskFull);
    }
    real_->Write(data, count);
  }
  void Close() override {
    if (fs_.beforeClose) fs_.beforeClose(number_);
    const bool strikes = fs_.Strikes(FileOp::Close, Name(), entry_, number_);
    // The handle is gone either way; only the data's fate is in doubt.
    real_->Close();
    fs_.Named(real_->Name(), number_, entry_);
    if (strikes) throw IoError(kIoFailure);
  }

 private:
  std::unique_ptr<OutputFile> real_;
  FaultyFileSystem& fs_;
  int number_;
  int entry_;
};

// A failing write of an archive's file takes part of the data first, as a full disk does. It
// copies nothing by itself: every byte goes through WriteAt, where it can fail.
class FaultyUpdateFile final : public UpdateFile {
 public:
  FaultyUpdateFile(std::unique_ptr<UpdateFile> real, FaultyFileSystem& fs)
      : real_(std::move(real)), fs_(fs) {}
  const std::string& Path() const override { return real_->Path(); }
  std::int64_t Size() override { return real_->Size(); }
  void WriteAt(std::int64_t offset, const char* data, std::size_t count) override {
    if (fs_.Strikes(FileOp::Update, Path(), -1)) {
      real_->WriteAt(offset, data, count / 2);
      if (fs_.failure) fs_.failure();
      throw IoError(kDiskFull);
    }
    real_->WriteAt(offset, data, count);
  }
  void Resize(std::int64_t size) override {
    fs_.Count(FileOp::Update, Path(), kDiskFull, -1);
    real_->Resize(size);
  }
  void Flush() override {
    fs_.Count(FileOp::Flush, Path(), kIoFailure, -1);
    real_->Flush();
  }

 private:
  std::unique_ptr<UpdateFile> real_;
  FaultyFileSystem& fs_;
};

}  // namespace

const char* FileOpName(FileOp op) {
  static const char* const kNames[kFileOpCount] = {
      "OpenDirectory", "OpenArchive", "Size",   "ReadAt", "CreateTemp", "Write",
      "Close",         "Rename",      "Update", "Flush",  "Replace",    "FlushFolder"};
  return kNames[static_cast<int>(op)];
}

FaultyFileSystem::FaultyFileSystem(FileOp op, int nth)
    : ForwardingFileSystem(SystemFileSystem()), op_(op), nth_(nth) {}

int FaultyFileSystem::Calls(FileOp op) const {
  std::lock_guard lock(mutex_);
  return calls_[static_cast<int>(op)];
}

void FaultyFileSystem::Disarm() {
  std::lock_guard lock(mutex_);
  nth_ = 0;
}

bool FaultyFileSystem::WaitFor(const std::function<bool()>& ready) {
  std::unique_lock lock(mutex_);
  return called_.wait_for(lock, kPatience, [&] { return ready(); });
}

bool FaultyFileSystem::WaitForCalls(FileOp op, int count) {
  return WaitFor([&] { return calls_[static_cast<int>(op)] >= count; });
}

bool FaultyFileSystem::WaitForFault() {
  return WaitFor([&] { return fired; });
}

bool FaultyFileSystem::Strikes(FileOp op, const std::string& path, int entry, int nth) {
  bool strikes = false;
  {
    std::lock_guard lock(mutex_);
    const int call = ++calls_[static_cast<int>(op)];
    strikes = op == op_ && (nth ? nth : call) == nth_;
    if (strikes) {
      fired = true;
      faultedEntry = entry;
      faultedPath = path;
    }
  }
  called_.notify_all();
  return strikes;
}

void FaultyFileSystem::Count(FileOp op, const std::string& path, const char* message, int entry,
                             int nth) {
  if (!Strikes(op, path, entry, nth)) return;
  if (failure) failure();
  throw IoError(message);
}

std::unique_ptr<InputFile> FaultyFileSystem::OpenRead(const std::string& path) {
  Count(path.ends_with(".dir") ? FileOp::OpenDirectory : FileOp::OpenArchive, path, kAccessDenied,
        entryInProgress);
  return std::make_unique<FaultyInputFile>(real_.OpenRead(path), path, *this);
}

class FaultyFolder final : public OutputFolder {
 public:
  FaultyFolder(std::unique_ptr<OutputFolder> real, std::string path, FaultyFileSystem& fs)
      : real_(std::move(real)), path_(std::move(path)), fs_(fs) {}
  // Every file under a temporary name, whose rename may fail; one made under its entry's name
  // has none.
  std::unique_ptr<OutputFile> CreateTemp() override { return fs_.CreateTemp(*real_, path_); }
  void Rename(const std::string& temp, const std::string& name) override {
    fs_.Rename(*real_, temp, name);
  }
  void Remove(const std::string& temp) noexcept override { real_->Remove(temp); }
  bool Holds(const std::string& name) override { return real_->Holds(name); }
  void Keep(std::vector<FileId> files) override { real_->Keep(std::move(files)); }
  std::string Shown(std::string_view name) const override { return real_->Shown(name); }

 private:
  std::unique_ptr<OutputFolder> real_;
  std::string path_;
  FaultyFileSystem& fs_;
};

std::unique_ptr<OutputFolder> FaultyFileSystem::OpenFolder(const std::string& path) {
  return std::make_unique<FaultyFolder>(real_.OpenFolder(path), path, *this);
}

std::unique_ptr<OutputFile> FaultyFileSystem::CreateTemp(OutputFolder& real,
                                                         const std::string& folder) {
  Count(FileOp::CreateTemp, folder, kAccessDenied, entryInProgress);
  auto file = real.CreateTemp();
  std::lock_guard lock(mutex_);
  return std::make_unique<FaultyOutputFile>(std::move(file), *this, ++files_, entryInProgress);
}

void FaultyFileSystem::Named(const std::string& temp, int number, int entry) {
  std::lock_guard lock(mutex_);
  created_[temp] = {number, entry};
}

void FaultyFileSystem::Rename(OutputFolder& real, const std::string& temp,
                              const std::string& name) {
  Created created{};
  {
    std::lock_guard lock(mutex_);
    created = created_.at(temp);
  }
  Count(FileOp::Rename, name, kAccessDenied, created.entry, created.number);
  real.Rename(temp, name);
}

bool FaultyFileSystem::IsPlainFile(const std::string& path) { return real_.IsPlainFile(path); }

std::unique_ptr<UpdateFile> FaultyFileSystem::OpenUpdate(const std::string& path) {
  return std::make_unique<FaultyUpdateFile>(real_.OpenUpdate(path), *this);
}

std::unique_ptr<UpdateFile> FaultyFileSystem::CreateBeside(const std::string& like) {
  Count(FileOp::CreateTemp, like, kAccessDenied, -1);
  return std::make_unique<FaultyUpdateFile>(real_.CreateBeside(like), *this);
}

void FaultyFileSystem::Replace(const std::string& from, const std::string& to) {
  Count(FileOp::Replace, to, kAccessDenied, -1);
  real_.Replace(from, to);
  if (!Strikes(FileOp::FlushFolder, to, -1)) return;
  if (failure) failure();
  throw NotYetOnDisk(kIoFailure);
}

}  // namespace sectorsieve::hostile
