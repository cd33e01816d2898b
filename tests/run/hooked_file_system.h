#pragma once

// The real file system with a test's hand on every new file: what creating, closing or
// renaming it costs or throws, and how many are open at once.

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "file_io.h"

namespace sectorsieve::testing {

class HookedFileSystem final : public FileSystem {
 public:
  // Each runs on the thread making the call, with the file's number (1 for the first created),
  // before the real call; each may throw.
  std::function<void(int file)> beforeCreate;
  std::function<void(int file)> beforeClose;
  // The name a file is renamed to instead of the one asked for.
  std::function<std::string(const std::string& to)> renameTo;

  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    return real_.OpenRead(path);
  }
  std::unique_ptr<OutputFile> CreateTemp(const std::string& folder) override {
    const int number = ++created_;
    if (beforeCreate) beforeCreate(number);
    auto file = std::make_unique<File>(real_.CreateTemp(folder), *this, number);
    const int open = ++open_;
    int peak = peakOpen_;
    while (open > peak && !peakOpen_.compare_exchange_weak(peak, open)) {
    }
    return file;
  }
  void Rename(const std::string& from, const std::string& to) override {
    real_.Rename(from, renameTo ? renameTo(to) : to);
  }
  void Remove(const std::string& path) noexcept override { real_.Remove(path); }
  bool IsPlainFile(const std::string& path) override { return real_.IsPlainFile(path); }
  bool IsFolder(const std::string& path) override { return real_.IsFolder(path); }
  const CodePage& Ansi() const override { return real_.Ansi(); }

  // The most files written and not yet closed at any one time.
  int PeakOpen() const { return peakOpen_; }
  // The threads that closed files, one entry per close.
  std::vector<std::thread::id> Closers() const {
    std::lock_guard lock(mutex_);
    return closers_;
  }

 private:
  class File final : public OutputFile {
   public:
    File(std::unique_ptr<OutputFile> real, HookedFileSystem& fs, int number)
        : real_(std::move(real)), fs_(fs), number_(number) {}
    ~File() override {
      if (!closed_) --fs_.open_;
    }
    const std::string& Path() const override { return real_->Path(); }
    void Write(const char* data, std::size_t count) override { real_->Write(data, count); }
    void Close() override {
      {
        std::lock_guard lock(fs_.mutex_);
        fs_.closers_.push_back(std::this_thread::get_id());
      }
      if (fs_.beforeClose) fs_.beforeClose(number_);
      real_->Close();
      closed_ = true;
      --fs_.open_;
    }

   private:
    std::unique_ptr<OutputFile> real_;
    HookedFileSystem& fs_;
    int number_;
    bool closed_ = false;
  };

  FileSystem& real_ = SystemFileSystem();
  std::atomic<int> created_{0};
  std::atomic<int> open_{0};
  std::atomic<int> peakOpen_{0};
  mutable std::mutex mutex_;
  std::vector<std::thread::id> closers_;
};

}  // namespace sectorsieve::testing
