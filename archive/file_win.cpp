// The file-system seam on Windows. Paths go through the ANSI file functions, so a name's
// bytes become the same file name that any ANSI program would create.

#include <windows.h>

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
  WinOutputFile(unique_hfile h, std::string path) : h_(std::move(h)), path_(std::move(path)) {}
  const std::string& Path() const override { return path_; }
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
  std::string path_;
};

// The system's ANSI code page: its lead bytes, and its superscript digits where it has them.
CodePage SystemCodePage() {
  std::array<bool, 256> lead{};
  CPINFO info{};
  if (::GetCPInfo(CP_ACP, &info))
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
      for (int b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b)
        lead[static_cast<std::size_t>(b)] = true;
  std::array<std::string, 3> superscripts;
  const wchar_t digits[] = {L'\u00B9', L'\u00B2', L'\u00B3'};
  for (std::size_t i = 0; i < superscripts.size(); ++i) {
    char bytes[8] = {};
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &digits[i], 1, bytes,
                                        sizeof bytes, nullptr, &usedDefault);
    if (n > 0 && !usedDefault) superscripts[i].assign(bytes, static_cast<std::size_t>(n));
  }
  return CodePage(::GetACP(), lead, std::move(superscripts));
}

class WinFileSystem final : public FileSystem {
 public:
  const CodePage& Ansi() const override { return ansi_; }

  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    unique_hfile h(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h) ThrowLastError();
    return std::make_unique<WinInputFile>(std::move(h));
  }

  std::unique_ptr<OutputFile> CreateTemp(const std::string& folder) override {
    static std::atomic<unsigned> counter{0};
    while (true) {
      const std::string path = folder + ".sectorsieve-" + std::to_string(::GetCurrentProcessId()) +
                               "-" + std::to_string(counter++) + ".tmp";
      unique_hfile h(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (h) return std::make_unique<WinOutputFile>(std::move(h), path);
      if (::GetLastError() != ERROR_FILE_EXISTS) ThrowLastError();
    }
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) ThrowLastError();
  }

  void Remove(const std::string& path) noexcept override { ::DeleteFileA(path.c_str()); }

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
  CodePage ansi_ = SystemCodePage();
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
