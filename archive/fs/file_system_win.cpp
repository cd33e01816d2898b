// The file-system seam on Windows. Paths are UTF-8 and reach the wide file functions as
// UTF-16, so any folder the system can name can be used; a path too long for the old limit is
// made full and handed over with "\\?\". Entry names are bytes in a code page, and become the
// UTF-16 names that the ANSI functions would have made of them.

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "file_io.h"
#include "wide_text.h"
#include "win_handles.h"

namespace sectorsieve {

namespace {

[[noreturn]] void ThrowLastError() {
  const DWORD code = ::GetLastError();
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = n ? Utf8({text, n}).value_or("") : "";
  ::LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  throw IoError(message.empty() ? "error " + std::to_string(code) : message);
}

// path made full against the working folder, as the system makes every path it is given.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full = FullPathOf(path);
  if (full.empty()) ThrowLastError();
  return full;
}

// A full path as the file functions take it: as it is within the old limit, where the system
// reads it as it always has; past it with "\\?\", which lifts the limit and reads the path
// literally, so it must already be full. Device paths ("\\.\") stay as they are.
std::wstring ForSystem(std::wstring full) {
  if (full.size() < MAX_PATH || full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\"))
    return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// A path given by a person or a script: UTF-8, relative or full.
std::wstring SystemPath(const std::string& path) { return ForSystem(FullPath(Utf16(path))); }

class WinInputFile final : public InputFile {
 public:
  explicit WinInputFile(unique_hfile h) : h_(std::move(h)) {}
  std::int64_t Size() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h_.get(), &size)) ThrowLastError();
    return size.QuadPart;
  }
  FileStamp Stamp() override {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(h_.get(), FileBasicInfo, &basic, sizeof basic))
      ThrowLastError();
    return {Size(), basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart};
  }
  HANDLE Handle() const { return h_.get(); }
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

// Marks the file of h, a handle with DELETE access, to be removed as its last handle closes,
// however its process ends, or clears that mark.
bool MarkForRemoval(HANDLE h, bool remove) {
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(remove)};
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
}

// What a file made under its entry's name goes by: this and the name, which no temporary name
// starts with and no Windows file name holds.
constexpr std::string_view kUnderItsName = "*";

class WinOutputFile final : public OutputFile {
 public:
  // marked: made under its entry's name and marked for removal, until Close clears the mark.
  WinOutputFile(unique_hfile h, std::string name, bool marked = false)
      : h_(std::move(h)), name_(std::move(name)), marked_(marked) {}
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
  // A mark that does not clear keeps the handle, and the file goes as it closes with this
  // object.
  void Close() override {
    if (marked_ && !MarkForRemoval(h_.get(), false)) ThrowLastError();
    marked_ = false;
    if (!::CloseHandle(h_.release())) ThrowLastError();
  }

 private:
  unique_hfile h_;
  std::string name_;
  bool marked_;
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

std::string ShownIn(std::string_view name, const CodePage& cp) {
  return ShownName(name, cp, [&](std::string_view text) { return DecodeToUtf8(cp.Id(), text); });
}

// The file at path (a path for the system), opened with flags to ask no more than which it
// is; nothing when there is none.
std::optional<FileId> IdOf(const std::wstring& path, DWORD flags) {
  const unique_hfile h(
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h || !::GetFileInformationByHandle(h.get(), &info)) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber,
                std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

// An entry name in UTF-16, "\" between its parts, with where each folder part ends in both.
struct WideName {
  std::wstring text;
  struct Part {
    std::size_t nameEnd;
    std::size_t wideEnd;
  };
  std::vector<Part> folders;
};

// Each part converts on its own, split where the code page has separators, so that a trail
// byte 0x5C stays in its character. Windows drops the trailing dots and spaces of a path's
// parts where it reads the path itself, and keeps them in a "\\?\" path, used past 260
// characters. Dropped here from every part, a name is one spelling at every length, and the
// folder checked for a link is the folder written into.
WideName ToWide(const std::string& name, const CodePage& cp) {
  WideName wide;
  for (std::size_t start = 0;;) {
    const std::size_t end = FindSeparator(name, start, cp);
    const std::string_view source = std::string_view(name).substr(start, end - start);
    auto part = Decode(cp.Id(), source);
    if (!part)
      throw IoError("its name does not convert from code page " + std::to_string(cp.Id()) +
                    " to Unicode");
    // Checked in the code page, and so again here, where the file system reads it.
    if (part->find_first_of(L"\\/") != std::wstring::npos ||
        ((*part == L"." || *part == L"..") && source != "." && source != ".."))
      throw IoError("its name leaves the destination folder once in Unicode");
    const bool here = part->empty() || *part == L".";
    part->erase(part->find_last_not_of(L". ") + 1);
    if (end == std::string::npos) {
      if (part->empty()) throw IoError("its name names no file once Windows reads it");
      wide.text += *part;
      return wide;
    }
    // An empty part ("a\\b") or "." names no folder; any other part of dots alone climbs out.
    if (part->empty() && !here)
      throw IoError("its name leaves the destination folder once Windows reads it");
    if (!part->empty()) {
      wide.text += *part;
      wide.folders.push_back({end, wide.text.size()});
      wide.text += L'\\';
    }
    start = end + 1;
  }
}

// Removes the file at path, a full path for the system. Such a name may hold a link someone put
// there, and Wine's DeleteFile removes what a link to a file leads to: a fresh file of ours
// (at ours) replaces whatever is there first, as a rename replaces a link, and only that file
// is removed.
void RemoveSafely(const std::wstring& ours, const std::wstring& path) noexcept {
  if (::MoveFileExW(ours.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    ::DeleteFileW(path.c_str());
  else
    ::DeleteFileW(ours.c_str());
}

// Temporary files that processes killed before they could finish them left in folder (a full
// path ending in "\"); those of runs still going on are theirs. fresh makes a new file of
// ours and gives its full path for the system.
void RemoveLeftoversIn(const std::wstring& folder,
                       const std::function<std::wstring()>& fresh) noexcept {
  try {
    WIN32_FIND_DATAW found{};
    const unique_find search(
        ::FindFirstFileW(ForSystem(folder + L".sectorsieve-w*.tmp").c_str(), &found));
    if (!search) return;
    do {
      const auto owner = Temps().OtherOwner(Utf8(found.cFileName).value_or(""));
      if (!owner || (!owner->ended && MayRun(owner->pid))) continue;
      RemoveSafely(fresh(), ForSystem(folder + found.cFileName));
    } while (::FindNextFileW(search.get(), &found));
  } catch (const IoError&) {
    // The folder cannot be written: whoever writes there will say so.
  }
}

class WinFolder final : public OutputFolder {
 public:
  // dir keeps the folder from being renamed or removed while it is open.
  WinFolder(unique_hfile dir, std::wstring full, CodePage names)
      : dir_(std::move(dir)), full_(std::move(full)), names_(std::move(names)) {
    RemoveLeftovers();
  }

  // A new name costs one create, as for any program that writes a file, and the folder parts
  // once per run. Under Wine every lookup of a name reads the whole folder; on Windows each
  // is a trip through the file system's filters.
  std::unique_ptr<OutputFile> Create(const std::string& name) override {
    if (underNames_) try {
        const WideName wide = ToWide(name, names_);
        if (HeldFolders(wide, name)) {
          // The name was free, so the file is no other: not the archive's, not a link's.
          const std::wstring path = At(wide.text);
          unique_hfile h(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                       nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
          if (h && MarkForRemoval(h.get(), true))
            return std::make_unique<WinOutputFile>(std::move(h), std::string(kUnderItsName) + name,
                                                   true);
          if (h) {
            // A file system that cannot remove a file so: every file takes a temporary name
            // from now on, and this empty one goes, as a leftover does.
            underNames_ = false;
            h.reset();
            const std::string fresh = CreateTemp()->Name();
            RemoveSafely(At(Utf16(fresh)), path);
          }
        }
      } catch (const IoError&) {
        // A name refused, or a link on the way: the rename says so, as for any file.
      }
    // Something has the name: what it is, and whether it may be replaced, is asked as the
    // temporary file is renamed over it.
    return CreateTemp();
  }

  std::unique_ptr<OutputFile> CreateTemp() override {
    while (true) {
      std::string name = Temps().Next();
      unique_hfile h(::CreateFileW(At(Utf16(name)).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (h) return std::make_unique<WinOutputFile>(std::move(h), std::move(name));
      if (::GetLastError() != ERROR_FILE_EXISTS) ThrowLastError();
    }
  }

  void Rename(const std::string& temp, const std::string& name) override {
    if (temp.starts_with(kUnderItsName)) {
      if (std::string_view(temp).substr(kUnderItsName.size()) != name)
        throw IoError("it was made under another name");
      return;
    }
    const WideName wide = ToWide(name, names_);
    HeldFolders(wide, name);
    const std::wstring path = At(wide.text);
    // Asked on the renaming thread, right before the rename: a handle open during another
    // rename over the same file would make that one fail. A link at the name is not followed,
    // as the rename replaces it.
    if (!keep_.empty()) {
      const auto id = IdOf(path, FILE_FLAG_OPEN_REPARSE_POINT);
      if (id && std::find(keep_.begin(), keep_.end(), *id) != keep_.end())
        throw KeptFile("it is a file this folder keeps");
    }
    if (::MoveFileExW(At(Utf16(temp)).c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
    // The system says only that the path was not found: say which folder is missing.
    const DWORD code = ::GetLastError();
    if (code == ERROR_PATH_NOT_FOUND)
      for (const WideName::Part& part : wide.folders) {
        const DWORD attributes =
            ::GetFileAttributesW(At(wide.text.substr(0, part.wideEnd)).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
          throw NoSuchFolder(name.substr(0, part.nameEnd));
      }
    ::SetLastError(code);
    ThrowLastError();
  }

  // The temporary name is one no entry can have, so nothing can have put a link there. A file
  // made under its name went as it closed.
  void Remove(const std::string& temp) noexcept override {
    if (temp.starts_with(kUnderItsName)) return;
    try {
      ::DeleteFileW(At(Utf16(temp)).c_str());
    } catch (const IoError&) {
      // The name could not be made into a path: then there is no file under it either.
    }
  }

  // A link at the name counts as a file there; so does a folder.
  bool Holds(const std::string& name) override {
    try {
      return ::GetFileAttributesW(At(ToWide(name, names_).text).c_str()) != INVALID_FILE_ATTRIBUTES;
    } catch (const IoError&) {
      return false;  // no file has a name the system cannot be given
    }
  }

  // Spelled as the folder's path is, with "\" alone between folders.
  std::string Shown(std::string_view name) const override {
    return ShownIn(WithSeparator(std::string(name), '\\', names_), names_);
  }

  void Keep(std::vector<FileId> files) override { keep_ = std::move(files); }

 private:
  // The path of relative, a name inside the folder. Made full as the system would make it, it
  // must stay inside the folder: a name that Windows reads otherwise (a device's) is refused.
  // With "\\?\" the path is taken as it is, and Wine would climb out at a "." or ".." that the
  // system's own reading left in it.
  std::wstring At(const std::wstring& relative) const {
    std::wstring full = FullPath(full_ + relative);
    if (!full.starts_with(full_) && full + L'\\' != full_)
      throw IoError("its name leaves the destination folder once made a full path");
    for (std::size_t start = full_.size(); start < full.size();) {
      const std::size_t end = std::min(full.find(L'\\', start), full.size());
      const std::wstring_view part = std::wstring_view(full).substr(start, end - start);
      if (part == L"." || part == L"..")
        throw IoError("its name leaves the destination folder once made a full path");
      start = end + 1;
    }
    return ForSystem(std::move(full));
  }

  void RemoveLeftovers() noexcept {
    RemoveLeftoversIn(full_, [this] { return At(Utf16(CreateTemp()->Name())); });
  }

  // Whether every folder part of name (in wide) is a folder that this run holds open. Each is
  // asked once per run: held without sharing its removal, no one renames or removes it, so it
  // stays the folder it was found to be and no link takes its place. Junctions and links look
  // like folders to the path functions: throws LinkInTheWay at a part that is one. A part that
  // is no folder, or cannot be held, is asked again each time.
  bool HeldFolders(const WideName& wide, const std::string& name) {
    std::lock_guard lock(heldMutex_);
    bool all = true;
    for (const WideName::Part& part : wide.folders) {
      std::wstring relative = wide.text.substr(0, part.wideEnd);
      if (held_.contains(relative)) continue;
      const std::wstring path = At(relative);
      // Held first, then asked: a link there before it was held shows as one.
      unique_hfile folder(::CreateFileW(
          path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      const DWORD attributes = ::GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw LinkInTheWay(name.substr(0, part.nameEnd));
      if (folder && attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY))
        held_.emplace(std::move(relative), std::move(folder));
      else
        all = false;
    }
    return all;
  }

  unique_hfile dir_;
  std::wstring full_;  // the folder's full path, ending in "\"
  CodePage names_;
  std::vector<FileId> keep_;
  std::atomic<bool> underNames_{true};  // new files are made under their entries' names
  std::mutex heldMutex_;
  std::unordered_map<std::wstring, unique_hfile> held_;  // folder parts, relative to the folder
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

class WinUpdateFile final : public UpdateFile {
 public:
  WinUpdateFile(unique_hfile h, std::string path) : h_(std::move(h)), path_(std::move(path)) {}
  const std::string& Path() const override { return path_; }
  std::int64_t Size() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h_.get(), &size)) ThrowLastError();
    return size.QuadPart;
  }
  void WriteAt(std::int64_t offset, const char* data, std::size_t count) override {
    while (count > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
      at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
      DWORD put = 0;
      if (!::WriteFile(h_.get(), data, want, &put, &at)) ThrowLastError();
      data += put;
      offset += put;
      count -= put;
    }
  }
  void Resize(std::int64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!::SetFileInformationByHandle(h_.get(), FileEndOfFileInfo, &end, sizeof end))
      ThrowLastError();
  }
  void Flush() override {
    if (!::FlushFileBuffers(h_.get())) ThrowLastError();
  }

 private:
  unique_hfile h_;
  std::string path_;
};

// The path the system resolves h to, links followed; empty when it cannot say.
std::wstring FinalPath(HANDLE h) {
  std::wstring path(MAX_PATH, L'\0');
  DWORD n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), 0);
  if (n >= path.size()) {
    path.resize(n);
    n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), 0);
  }
  path.resize(n < path.size() ? n : 0);
  return path;
}

// Opens path to ask about it, following links; shares everything, reads nothing.
unique_hfile OpenToAsk(const std::wstring& path) {
  return unique_hfile(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

class WinFileSystem final : public FileSystem {
 public:
  explicit WinFileSystem(CodePage names) : names_(std::move(names)) {}

  const CodePage& Ansi() const override { return names_; }
  const CodePage& Paths() const override { return paths_; }
  std::string Shown(std::string_view name) const override { return ShownIn(name, names_); }
  std::optional<std::string> ToUtf8(std::string_view name) const override {
    return DecodeToUtf8(names_.Id(), name);
  }
  std::string NameRefusal(std::string_view name) const override {
    try {
      ToWide(std::string(name), names_);
    } catch (const IoError& e) {
      return AsRefusal(e.what());
    }
    return {};
  }

  // A reader lets in the appender of an add, and whoever renames or removes the file: a change
  // only appends past every record the reader has read, and the extraction run checks that its
  // data file is the one the directory was read from.
  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    return Open(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  }

  // Its stamp before and after is checked too, but the system may note a write's time late.
  std::unique_ptr<InputFile> OpenSource(const std::string& path) override {
    return Open(path, FILE_SHARE_READ);
  }

  std::unique_ptr<OutputFolder> OpenFolder(const std::string& path) override {
    std::wstring full = FullPath(Utf16(path));
    if (!full.ends_with(L'\\')) full += L'\\';
    // Without FILE_SHARE_DELETE, no one renames or removes the folder while the run has it.
    unique_hfile h(::CreateFileW(ForSystem(full).c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) ThrowLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.get(), &info)) ThrowLastError();
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ::SetLastError(ERROR_DIRECTORY);
      ThrowLastError();
    }
    return std::make_unique<WinFolder>(std::move(h), std::move(full), names_);
  }

  bool IsPlainFile(const std::string& path) override {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  }

  bool IsFolder(const std::string& path) override {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::optional<FileId> Id(const std::string& path) override {
    try {
      return IdOf(SystemPath(path), 0);
    } catch (const IoError&) {
      return std::nullopt;  // no full path, so no file either
    }
  }

  std::unique_ptr<UpdateFile> OpenUpdate(const std::string& path) override {
    // Readers of the archive read on while bytes are appended past every record they know.
    unique_hfile h(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) ThrowLastError();
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) throw IoError("it is not a plain file");
    return std::make_unique<WinUpdateFile>(std::move(h), path);
  }

  void CheckWritable(const std::string& path) override {
    const DWORD attributes = Attributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      ThrowLastError();
    }
  }

  std::unique_ptr<UpdateFile> CreateBeside(const std::string& like) override {
    const DWORD attributes = Attributes(like);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      throw IoError("it is a folder");
    // A read-only file is not replaced behind the user's back, as MoveFileEx would not either.
    if (attributes != INVALID_FILE_ATTRIBUTES) CheckWritable(like);
    // Hidden and system stay as the user set them: the new file is made with them.
    const DWORD kept = attributes == INVALID_FILE_ATTRIBUTES
                           ? 0
                           : attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    const std::string folder = like.substr(0, LeafStart(like));
    while (true) {
      std::string path = folder + Temps().Next();
      unique_hfile h(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ, nullptr, CREATE_NEW,
                                   kept ? kept : FILE_ATTRIBUTE_NORMAL, nullptr));
      if (h) return std::make_unique<WinUpdateFile>(std::move(h), std::move(path));
      if (::GetLastError() != ERROR_FILE_EXISTS) ThrowLastError();
    }
  }

  // A scanner, or a reader that keeps writers out, may hold the file replaced for a moment:
  // the rename is tried again for a while, as long as the system says only that.
  void Replace(const std::string& from, const std::string& to) override {
    const std::wstring source = SystemPath(from);
    const std::wstring target = SystemPath(to);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!::MoveFileExW(source.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD code = ::GetLastError();
      // A read-only file or a folder in the way is no one's for a moment.
      const DWORD attributes = ::GetFileAttributesW(target.c_str());
      const bool held = code == ERROR_SHARING_VIOLATION ||
                        (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                         !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)));
      if (!held || std::chrono::steady_clock::now() >= deadline) {
        ::SetLastError(code);
        ThrowLastError();
      }
      ::Sleep(50);
    }
  }

  void Remove(const std::string& path) noexcept override {
    try {
      const std::wstring target = SystemPath(path);
      if (::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return;
      const std::string fresh = CreateBeside(path)->Path();
      RemoveSafely(SystemPath(fresh), target);
    } catch (const IoError&) {
      // No file can be made beside it: then none can be removed there either.
    }
  }

  bool Exists(const std::string& path) override {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
  }

  std::vector<FolderItem> ListFolder(const std::string& folder) override {
    std::wstring full = FullPath(Utf16(folder));
    if (!full.ends_with(L'\\')) full += L'\\';
    const unique_hfile self = OpenToAsk(ForSystem(full));
    if (!self) ThrowLastError();
    const std::wstring inside = FinalPath(self.get());
    WIN32_FIND_DATAW found{};
    const unique_find search(::FindFirstFileW(ForSystem(full + L"*").c_str(), &found));
    if (!search) ThrowLastError();
    std::vector<FolderItem> items;
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const auto utf8 = Utf8(name);
      if (!utf8) continue;  // no Unicode file name lacks a UTF-8 form but a broken one
      items.push_back({*utf8, Kind(found.dwFileAttributes, ForSystem(full + name), inside)});
    } while (::FindNextFileW(search.get(), &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES) ThrowLastError();
    return items;
  }

  bool SameFile(const std::string& a, const std::string& b) override {
    try {
      const unique_hfile ha = OpenToAsk(SystemPath(a));
      const unique_hfile hb = OpenToAsk(SystemPath(b));
      BY_HANDLE_FILE_INFORMATION ia{}, ib{};
      return ha && hb && ::GetFileInformationByHandle(ha.get(), &ia) &&
             ::GetFileInformationByHandle(hb.get(), &ib) &&
             ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
             ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
    } catch (const IoError&) {
      return false;
    }
  }

  void RemoveLeftovers(const std::string& path) noexcept override {
    try {
      const std::string folder = path.substr(0, LeafStart(path));
      std::wstring full = FullPath(Utf16(folder.empty() ? "." : folder));
      if (!full.ends_with(L'\\')) full += L'\\';
      RemoveLeftoversIn(full, [&] { return SystemPath(CreateBeside(path)->Path()); });
    } catch (const IoError&) {
      // No full path: no folder to clean either.
    }
  }

  std::unique_ptr<ArchiveLock> LockArchive(const std::string& base,
                                           const std::function<bool()>& wait) override {
    return HoldLockFile(SystemPath(Beside(base, ".sectorsieve-lock-", ".tmp")), wait);
  }

  std::string Spelled(const std::string& path) override {
    const std::size_t leaf = LeafStart(path);
    // A pattern would find another file.
    if (path.find_first_of("*?", leaf) != std::string::npos) return path;
    WIN32_FIND_DATAW found{};
    const unique_find search(::FindFirstFileExW(SystemPath(path).c_str(), FindExInfoBasic, &found,
                                                FindExSearchNameMatch, nullptr, 0));
    if (!search) return path;
    const auto name = Utf8(found.cFileName);
    return name ? path.substr(0, leaf) + *name : path;
  }

  // Hard links to one file may stand in folders far apart: the lock is a file named after the
  // file's identity in the user's temporary folder, which the system removes as the handle
  // closes. A change that put another file under the name meanwhile makes the lock taken
  // again, for that file.
  std::unique_ptr<ArchiveLock> LockFile(const std::string& path,
                                        const std::function<bool()>& wait) override {
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    while (true) {
      const std::optional<FileId> id = Id(path);
      if (!id || temp.empty() || temp.size() > MAX_PATH) return std::make_unique<ArchiveLock>();
      auto lock = HoldLockFile(
          ForSystem(FullPath(temp + L".sectorsieve-lock-" + std::to_wstring(id->volume) + L"-" +
                             std::to_wstring(id->index) + L".tmp")),
          wait);
      if (!lock || Id(path) == id) return lock;
    }
  }

  std::size_t LeafStart(const std::string& path) const override {
    const std::size_t end = path.find_last_of("\\/");
    if (end != std::string::npos) return end + 1;
    // "C:name" is name in drive C's working folder.
    return path.size() >= 2 && path[1] == ':' ? 2 : 0;
  }

 private:
  // What a found item is. Links and junctions are reparse points: the file one leads to is
  // asked for its folder.
  // The lock of a file at path, full for the system, that no one else may open while it is
  // held and that the system removes as it closes, a killed process's included. Tries again
  // while wait says so; nothing once it gives up, and one that holds nothing where the folder
  // cannot be written.
  static std::unique_ptr<ArchiveLock> HoldLockFile(const std::wstring& path,
                                                   const std::function<bool()>& wait) {
    while (true) {
      unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
      if (file) return std::make_unique<HandleLock<unique_hfile>>(std::move(file));
      const DWORD code = ::GetLastError();
      // Held, or being let go.
      const bool held = code == ERROR_SHARING_VIOLATION ||
                        (code == ERROR_ACCESS_DENIED &&
                         ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES);
      if (!held) return std::make_unique<ArchiveLock>();
      if (!wait || !wait()) return nullptr;
      ::Sleep(10);
    }
  }

  static ItemKind Kind(DWORD attributes, const std::wstring& path, const std::wstring& inside) {
    const bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return link ? ItemKind::Link : ItemKind::Folder;
    if (!link) return (attributes & FILE_ATTRIBUTE_DEVICE) ? ItemKind::Other : ItemKind::File;
    const unique_hfile target = OpenToAsk(path);
    if (!target) return ItemKind::Link;
    const std::wstring final = FinalPath(target.get());
    const std::size_t slash = final.find_last_of(L'\\');
    return slash != std::wstring::npos && !inside.empty() &&
                   final.substr(0, slash + 1) == (inside.ends_with(L'\\') ? inside : inside + L'\\')
               ? ItemKind::LinkInside
               : ItemKind::Link;
  }

  static std::unique_ptr<InputFile> Open(const std::string& path, DWORD share) {
    unique_hfile h(::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, share, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h) {
      // The system denies a folder as it denies a file the user may not read: say which.
      const DWORD code = ::GetLastError();
      const DWORD attributes = Attributes(path);
      if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw IoError("it is a folder, not a file");
      ::SetLastError(code);
      ThrowLastError();
    }
    // A pipe or a device by its name is no archive.
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) throw IoError("it is not a plain file");
    return std::make_unique<WinInputFile>(std::move(h));
  }

  static DWORD Attributes(const std::string& path) {
    try {
      return ::GetFileAttributesW(SystemPath(path).c_str());
    } catch (const IoError&) {
      return INVALID_FILE_ATTRIBUTES;  // no full path, so no file either
    }
  }

  CodePage names_;
  CodePage paths_ = WindowsCodePage(CP_UTF8);
};

}  // namespace

FileSystem& SystemFileSystem() {
  static WinFileSystem fs(WindowsCodePage(::GetACP()));
  return fs;
}

std::unique_ptr<FileSystem> SystemFileSystem(const CodePage& ansi) {
  return std::make_unique<WinFileSystem>(ansi);
}

}  // namespace sectorsieve
