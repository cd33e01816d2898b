// The file-system seam on Windows. Paths go through the ANSI file functions, so a name's
// bytes become the same file name that any ANSI program would create.

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <thread>

#include "file_io.h"
#include "win_handles.h"

namespace sectorsieve {

namespace {

[[noreturn]] void ThrowLastError() {
  const DWORD code = ::GetLastError();
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n ? std::string(text, n) : "error " + std::to_string(code);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  throw IoError(message);
}

class WinInputFile final : public InputFile {
 public:
  explicit WinInputFile(unique_hfile h) : h_(std::move(h)) {}
  std::int64_t Size() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h_.get(), &size)) ThrowLastError();
    return size.QuadPart;
  }
  std::size_t ReadAt(std::int64_t offset, char* data, std::size_t count) override {
    std::size_t done = 0;
    while (done < count) {
      OVERLAPPED at{};
      const auto pos = static_cast<std::uint64_t>(offset) + done;
      at.Offset = static_cast<DWORD>(pos);
      at.OffsetHigh = static_cast<DWORD>(pos >> 32);
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
      DWORD got = 0;
      if (!::ReadFile(h_.get(), data + done, want, &got, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) break;
        ThrowLastError();
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

 private:
  unique_hfile h_;
};

class WinOutputFile final : public OutputFile {
 public:
  WinOutputFile(unique_hfile h, std::string name) : h_(std::move(h)), name_(std::move(name)) {}
  const std::string& Name() const override { return name_; }
  void Write(const char* data, std::size_t count) override {
    while (count > 0) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
      DWORD put = 0;
      if (!::WriteFile(h_.get(), data, want, &put, nullptr)) ThrowLastError();
      data += put;
      count -= put;
    }
  }
  void Close() override {
    if (!::CloseHandle(h_.release())) ThrowLastError();
  }

 private:
  unique_hfile h_;
  std::string name_;
};

// This process's temporary names, with a tag drawn once.
TempNames& Temps() {
  static TempNames names('w', ::GetCurrentProcessId(), [] {
    std::uint64_t tag = 0;
    if (::BCryptGenRandom(nullptr, reinterpret_cast<UCHAR*>(&tag), sizeof tag,
                          BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
      throw IoError("the system gave no random numbers");
    return tag;
  }());
  return names;
}

// Whether process pid may still run; one that cannot be asked counts as running.
bool MayRun(std::uint64_t pid) {
  if (pid > MAXDWORD) return true;
  unique_kernel_handle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

class WinFolder final : public OutputFolder {
 public:
  // dir keeps the folder from being renamed or removed while it is open.
  WinFolder(unique_hfile dir, std::string path, CodePage ansi)
      : dir_(std::move(dir)), path_(std::move(path)), ansi_(std::move(ansi)) {
    RemoveLeftovers();
  }

  std::unique_ptr<OutputFile> CreateTemp() override {
    while (true) {
      std::string name = Temps().Next();
      unique_hfile h(::CreateFileA((path_ + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (h) return std::make_unique<WinOutputFile>(std::move(h), std::move(name));
      if (::GetLastError() != ERROR_FILE_EXISTS) ThrowLastError();
    }
  }

  void Rename(const std::string& temp, const std::string& name) override {
    // Junctions and links look like folders to the path functions: ask each folder part.
    for (std::size_t end = FindSeparator(name, 0, ansi_); end != std::string::npos;
         end = FindSeparator(name, end + 1, ansi_)) {
      const DWORD attributes = ::GetFileAttributesA((path_ + name.substr(0, end)).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw LinkInTheWay(name.substr(0, end));
    }
    if (!::MoveFileExA((path_ + temp).c_str(), (path_ + name).c_str(), MOVEFILE_REPLACE_EXISTING))
      ThrowLastError();
  }

  // The temporary name is one no entry can have, so nothing can have put a link there.
  void Remove(const std::string& temp) noexcept override { ::DeleteFileA((path_ + temp).c_str()); }

 private:
  // Temporary files that processes killed before they could finish them left behind; those
  // of runs still going on are theirs. Such a name may hold a link someone put there, and
  // Wine's DeleteFile removes what a link to a file leads to: a fresh file of ours replaces
  // whatever is there first, as a rename replaces a link, and only that file is removed.
  void RemoveLeftovers() noexcept {
    WIN32_FIND_DATAA found{};
    const unique_find search(::FindFirstFileA((path_ + ".sectorsieve-w*.tmp").c_str(), &found));
    if (!search) return;
    do {
      const auto owner = Temps().OtherOwner(found.cFileName);
      if (!owner || (!owner->ended && MayRun(owner->pid))) continue;
      try {
        const std::string ours = CreateTemp()->Name();
        const std::string left = path_ + found.cFileName;
        if (::MoveFileExA((path_ + ours).c_str(), left.c_str(), MOVEFILE_REPLACE_EXISTING))
          ::DeleteFileA(left.c_str());
        else
          ::DeleteFileA((path_ + ours).c_str());
      } catch (const IoError&) {
        break;  // the folder cannot be written: the run will say so itself
      }
    } while (::FindNextFileA(search.get(), &found));
  }

  unique_hfile dir_;
  std::string path_;  // ends in "\"
  CodePage ansi_;
};

}  // namespace

CodePage WindowsCodePage(unsigned id) {
  std::array<bool, 256> lead{};
  CPINFO info{};
  if (::GetCPInfo(id, &info))
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
      for (int b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b)
        lead[static_cast<std::size_t>(b)] = true;
  // UTF-8 converts every character exactly, and refuses both the flag and the question.
  const bool utf8 = id == CP_UTF8;
  std::array<std::string, 3> superscripts;
  const wchar_t digits[] = {L'\u00B9', L'\u00B2', L'\u00B3'};
  for (std::size_t i = 0; i < superscripts.size(); ++i) {
    char bytes[8] = {};
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(id, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, &digits[i], 1, bytes,
                                        sizeof bytes, nullptr, utf8 ? nullptr : &usedDefault);
    if (n > 0 && !usedDefault) superscripts[i].assign(bytes, static_cast<std::size_t>(n));
  }
  return CodePage(id, lead, std::move(superscripts));
}

namespace {

class WinFileSystem final : public FileSystem {
 public:
  const CodePage& Ansi() const override { return ansi_; }

  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    unique_hfile h(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h) ThrowLastError();
    // A pipe or a device by its name is no archive.
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) throw IoError("it is not a plain file");
    return std::make_unique<WinInputFile>(std::move(h));
  }

  std::unique_ptr<OutputFolder> OpenFolder(const std::string& path) override {
    std::string folder = path;
    if (!EndsInBackslash(folder, ansi_)) folder += '\\';
    // Without FILE_SHARE_DELETE, no one renames or removes the folder while the run has it.
    unique_hfile h(::CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) ThrowLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.get(), &info)) ThrowLastError();
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ::SetLastError(ERROR_DIRECTORY);
      ThrowLastError();
    }
    return std::make_unique<WinFolder>(std::move(h), std::move(folder), ansi_);
  }

  bool IsPlainFile(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  }

  bool IsFolder(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

 private:
  CodePage ansi_ = WindowsCodePage(::GetACP());
};

}  // namespace

// Closing a new file is where on-access scanners look at it, which takes milliseconds:
// finishers mostly wait, so a few more than the cores still help.
unsigned DefaultFinishers() { return std::clamp(std::thread::hardware_concurrency(), 4u, 8u); }

FileSystem& SystemFileSystem() {
  static WinFileSystem fs;
  return fs;
}

}  // namespace sectorsieve
