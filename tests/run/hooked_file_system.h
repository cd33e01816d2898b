#pragma once

// The real file system with a test's hand on every new file: what closing or renaming it
// costs or throws, which threads close files, how many are open at once, and how many times
// each name is looked up, a file made or renamed.

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "file_io.h"

namespace sectorsieve::testing {

class HookedFileSystem final : public ForwardingFileSystem {
 public:
  // Runs before each close on the closing thread, with the file's number (1 for the first
  // created); may throw.
  std::function<void(int file)> beforeClose;
  // Runs before each file is created, with the number it would have; may throw.
  std::function<void(int file)> beforeCreate;
  // The name a file is renamed to instead of the one asked for; may throw.
  std::function<std::string(const std::string& to)> renameTo;
  // The most bytes of an entry the system may copy by itself; the run writes the rest.
  std::int64_t copyAtMost = std::numeric_limits<std::int64_t>::max();

  HookedFileSystem() : ForwardingFileSystem(SystemFileSystem()) {}

  std::unique_ptr<OutputFolder> OpenFolder(const std::string& path) override {
    return Count("OpenFolder"), std::make_unique<Folder>(inner_.OpenFolder(path), *this);
  }
  std::unique_ptr<InputFile> OpenRead(const std::string& p) override {
    return Count("OpenRead"), inner_.OpenRead(p);
  }
  bool IsPlainFile(const std::string& p) override {
    return Count("IsPlainFile"), inner_.IsPlainFile(p);
  }
  bool IsFolder(const std::string& p) override { return Count("IsFolder"), inner_.IsFolder(p); }
  std::optional<FileId> Id(const std::string& p) override { return Count("Id"), inner_.Id(p); }
  bool Exists(const std::string& p) override { return Count("Exists"), inner_.Exists(p); }
  bool SameFile(const std::string& a, const std::string& b) override {
    return Count("SameFile"), inner_.SameFile(a, b);
  }
  std::string Spelled(const std::string& p) override { return Count("Spelled"), inner_.Spelled(p); }

  // Read once the run is over: the most files open at one time, who closed each file, and the
  // calls above, Create, CreateTemp and Rename, by name.
  int peakOpen = 0;
  std::vector<std::thread::id> closers;
  std::map<std::string, int> calls;

 private:
  class Folder final : public OutputFolder {
   public:
    Folder(std::unique_ptr<OutputFolder> real, HookedFileSystem& fs)
        : real_(std::move(real)), fs_(fs) {}
    std::unique_ptr<OutputFile> CreateTemp() override {
      return fs_.Count("CreateTemp"), Hooked([&] { return real_->CreateTemp(); });
    }
    // Under the name the file is to be renamed to; where that rename is to fail, under a
    // temporary name, as the real folder makes files whose names it cannot take.
    std::unique_ptr<OutputFile> Create(const std::string& name) override {
      fs_.Count("Create");
      return Hooked([&] {
        std::optional<std::string> to = name;
        try {
          if (fs_.renameTo) to = fs_.renameTo(name);
        } catch (const IoError&) {
          to.reset();
        }
        return to ? real_->Create(*to) : real_->CreateTemp();
      });
    }
    void Rename(const std::string& temp, const std::string& name) override {
      fs_.Count("Rename");
      real_->Rename(temp, fs_.renameTo ? fs_.renameTo(name) : name);
    }
    void Remove(const std::string& temp) noexcept override { real_->Remove(temp); }
    bool Holds(const std::string& name) override { return real_->Holds(name); }
    void Keep(std::vector<FileId> files) override { real_->Keep(std::move(files)); }
    std::string Shown(std::string_view name) const override { return real_->Shown(name); }

   private:
    std::unique_ptr<OutputFile> Hooked(const std::function<std::unique_ptr<OutputFile>()>& create) {
      if (fs_.beforeCreate) fs_.beforeCreate(fs_.created_ + 1);
      auto real = create();
      std::lock_guard lock(fs_.mutex_);
      fs_.peakOpen = std::max(fs_.peakOpen, ++fs_.open_);
      return std::make_unique<File>(std::move(real), fs_, ++fs_.created_);
    }

    std::unique_ptr<OutputFolder> real_;
    HookedFileSystem& fs_;
  };

  class File final : public OutputFile {
   public:
    File(std::unique_ptr<OutputFile> real, HookedFileSystem& fs, int number)
        : real_(std::move(real)), fs_(fs), number_(number) {}
    ~File() override {
      std::lock_guard lock(fs_.mutex_);
      --fs_.open_;
    }
    const std::string& Name() const override { return real_->Name(); }
    void Write(const char* data, std::size_t count) override { real_->Write(data, count); }
    std::int64_t CopyFrom(InputFile& source, std::int64_t offset, std::int64_t count) override {
      return real_->CopyFrom(source, offset, std::min(count, fs_.copyAtMost));
    }
    void Close() override {
      {
        std::lock_guard lock(fs_.mutex_);
        fs_.closers.push_back(std::this_thread::get_id());
      }
      if (fs_.beforeClose) fs_.beforeClose(number_);
      real_->Close();
    }

   private:
    std::unique_ptr<OutputFile> real_;
    HookedFileSystem& fs_;
    int number_;
  };

  void Count(const char* call) {
    std::lock_guard lock(mutex_);
    ++calls[call];
  }

  std::mutex mutex_;
  int open_ = 0;
  int created_ = 0;
};

}  // namespace sectorsieve::testing
