// The file-system seam on POSIX systems. In the window's paths "\" is a folder separator, as
// on Windows; the command line's paths are the system's own.

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "file_io.h"
#include "posix_handles.h"
#include "unique_handle.h"

namespace sectorsieve {

namespace {

// strerror_r comes in two kinds: GNU's returns the text, POSIX's fills the buffer.
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* ErrorText(int failed, const char* buffer) {
  return failed ? "Unknown error" : buffer;
}

// Files are closed and renamed on several threads at once: strerror's buffer is not theirs.
[[noreturn]] void ThrowErrno(int code = errno) {
  char buffer[256] = {};
  throw IoError(ErrorText(::strerror_r(code, buffer, sizeof buffer), buffer));
}

class PosixInputFile final : public InputFile {
 public:
  explicit PosixInputFile(unique_fd fd) : fd_(std::move(fd)) {}
  std::int64_t Size() override {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) ThrowErrno();
    return st.st_size;
  }
  FileStamp Stamp() override {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) ThrowErrno();
    const auto ns = [](const timespec& t) {
      return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
    };
    return {st.st_size, ns(st.st_mtim), ns(st.st_ctim)};
  }
  int Descriptor() const { return fd_.get(); }
  std::size_t ReadAt(std::int64_t offset, char* data, std::size_t count) override {
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(fd_.get(), data + done, count - done, offset + done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ThrowErrno();
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }
  // As cp and tar -S find them; a file system that cannot tell says it stores everything.
  Stored StoredFrom(std::int64_t offset) override {
    constexpr std::int64_t kAll = std::numeric_limits<std::int64_t>::max();
    // Most archives have no hole at all: then they are asked once, not for every entry.
    if (!hasHoles_) hasHoles_ = ::lseek(fd_.get(), 0, SEEK_HOLE) < Size();
    if (!*hasHoles_) return {offset, kAll};
    const off_t first = ::lseek(fd_.get(), offset, SEEK_DATA);
    // Nothing stored after offset: zeros up to the end, where reading takes over again.
    if (first < 0)
      return errno == ENXIO ? Stored{std::max(offset, Size()), kAll} : Stored{offset, kAll};
    const off_t end = ::lseek(fd_.get(), first, SEEK_HOLE);
    return {first, end < first ? kAll : end};
  }
  // Only a hint: clean pages go at once, dirty ones stay until they are written.
  void Forget(std::int64_t offset, std::int64_t count) override {
    ::posix_fadvise(fd_.get(), offset, count, POSIX_FADV_DONTNEED);
  }

 private:
  unique_fd fd_;
  std::optional<bool> hasHoles_;
};

std::unique_ptr<TempNames> NewTemps() {
  std::uint64_t tag = 0;
  if (::getrandom(&tag, sizeof tag, 0) != static_cast<ssize_t>(sizeof tag)) ThrowErrno();
  return std::make_unique<TempNames>('p', static_cast<std::uint64_t>(::getpid()), tag);
}

std::unique_ptr<TempNames>& TempsHeld() {
  static std::unique_ptr<TempNames> names;
  return names;
}

// This process's temporary names, with a tag drawn once. A child made by fork is another
// process: its names carry its own id and tag, or its leftovers would pass for its parent's.
TempNames& Temps() {
  static const bool drawn = [] {
    TempsHeld() = NewTemps();
    ::pthread_atfork(nullptr, nullptr, [] { TempsHeld() = NewTemps(); });
    return true;
  }();
  (void)drawn;
  return *TempsHeld();
}

// Where a file without a name is reached: the system's own path to its descriptor.
constexpr std::string_view kUnnamed = "/proc/self/fd/";

// A new file in a folder. Where the file system allows, it has no name at all until it is
// complete, so that even a killed process leaves nothing behind: it is reached through its
// descriptor, and the folder links it straight to its entry's name.
class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile(unique_fd fd, std::string name)
      : fd_(std::move(fd)),
        name_(name.empty() ? std::string(kUnnamed) + std::to_string(fd_.get()) : std::move(name)),
        unnamed_(name_.starts_with(kUnnamed)) {}
  const std::string& Name() const override { return name_; }
  void Write(const char* data, std::size_t count) override {
    while (count > 0) {
      const ssize_t n = ::write(fd_.get(), data, count);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ThrowErrno();
      data += n;
      count -= static_cast<std::size_t>(n);
    }
  }
  // The kernel copies from the archive's cache straight into the new file's.
  std::int64_t CopyFrom(InputFile& source, std::int64_t offset, std::int64_t count) override {
    const auto* from = dynamic_cast<const PosixInputFile*>(&source);
    if (from == nullptr) return 0;
    std::int64_t done = 0;
    while (done < count) {
      off64_t at = offset + done;
      const ssize_t n = ::copy_file_range(from->Descriptor(), &at, fd_.get(), nullptr,
                                          static_cast<std::size_t>(count - done), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += n;
    }
    return done;
  }
  bool AppendHole(std::int64_t count) override {
    const off_t at = ::lseek(fd_.get(), 0, SEEK_CUR);
    return at >= 0 && ::ftruncate(fd_.get(), at + count) == 0 &&
           ::lseek(fd_.get(), at + count, SEEK_SET) == at + count;
  }
  // A file without a name stays open until it has one, and closes as this object goes: the
  // local file systems that have such files report nothing when they close.
  void Close() override {
    if (unnamed_) return;
    if (::close(fd_.release()) != 0) ThrowErrno();
  }

 private:
  unique_fd fd_;
  std::string name_;
  bool unnamed_;
};

// Whether process pid may still run; one that cannot be asked counts as running.
bool MayRun(std::uint64_t pid) {
  return pid > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max()) ||
         ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

struct DirTraits {
  using pointer = DIR*;
  static pointer invalid() { return nullptr; }
  static void close(DIR* d) { ::closedir(d); }
};

// Temporary files that processes killed before they could finish them left in folder dir;
// those of runs still going on are theirs.
void RemoveLeftoversIn(int dir) {
  unique_fd fd(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return;
  unique_handle<DirTraits> list(::fdopendir(fd.get()));
  if (!list) return;
  fd.release();  // the listing owns it now
  while (const dirent* item = ::readdir(list.get())) {
    const auto owner = Temps().OtherOwner(item->d_name);
    if (owner && (owner->ended || !MayRun(owner->pid))) ::unlinkat(dir, item->d_name, 0);
  }
}

class PosixFolder final : public OutputFolder {
 public:
  PosixFolder(unique_fd dir, CodePage ansi) : dir_(std::move(dir)), ansi_(std::move(ansi)) {
    RemoveLeftovers();
  }

  std::unique_ptr<OutputFile> CreateTemp() override {
    if (anonymous_) {
      unique_fd fd(::openat(dir_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
      if (fd) return std::make_unique<PosixOutputFile>(std::move(fd), std::string());
      // Not every file system has unnamed files; other failures are met below as well.
      anonymous_ = false;
    }
    while (true) {
      std::string name = Temps().Next();
      unique_fd fd(::openat(dir_.get(), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
      if (fd) return std::make_unique<PosixOutputFile>(std::move(fd), std::move(name));
      if (errno != EEXIST) ThrowErrno();
    }
  }

  void Rename(const std::string& temp, const std::string& name) override {
    unique_fd part;
    const std::size_t start = OpenParent(name, part);
    const int at = part ? part.get() : dir_.get();
    const std::string leaf = AsWindowsReadsIt(name.substr(start));
    if (leaf.empty()) throw IoError("its name names no file once Windows reads it");
    // A new name replaces nothing: only a name already taken is asked what it is.
    if (temp.starts_with(kUnnamed)) {
      if (LinkUnnamed(temp, at, leaf)) return;
      if (errno != EEXIST) ThrowErrno();
      ThrowIfKept(at, leaf);
      return Replace(temp, at, leaf);
    }
    ThrowIfKept(at, leaf);
    if (::renameat(dir_.get(), temp.c_str(), at, leaf.c_str()) != 0) ThrowErrno();
  }

  void Remove(const std::string& temp) noexcept override {
    if (!temp.starts_with(kUnnamed)) ::unlinkat(dir_.get(), temp.c_str(), 0);
  }

  bool Holds(const std::string& name) override {
    unique_fd part;
    std::size_t start = 0;
    try {
      start = OpenParent(name, part);
    } catch (const IoError&) {
      return false;
    }
    const std::string leaf = AsWindowsReadsIt(name.substr(start));
    struct stat st {};
    return !leaf.empty() &&
           ::fstatat(part ? part.get() : dir_.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  }

  void Keep(std::vector<FileId> files) override { keep_ = std::move(files); }

 private:
  // Opens the folder that holds name into part, folder by folder from the one opened, never
  // following a link (part stays empty for the folder itself); returns where name's leaf
  // starts. Throws LinkInTheWay or NoSuchFolder for a folder part that cannot be followed.
  std::size_t OpenParent(const std::string& name, unique_fd& part) const {
    int at = dir_.get();
    std::size_t start = 0;
    for (std::size_t end = FindSeparator(name, 0, ansi_); end != std::string::npos;
         start = end + 1, end = FindSeparator(name, start, ansi_)) {
      const std::string folder = AsWindowsReadsIt(name.substr(start, end - start));
      if (folder.empty()) continue;
      unique_fd next(::openat(at, folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next) {
        const int code = errno;
        struct stat st {};
        if ((code == ELOOP || code == ENOTDIR) &&
            ::fstatat(at, folder.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
          throw LinkInTheWay(name.substr(0, end));
        if (code == ENOENT || code == ENOTDIR) throw NoSuchFolder(name.substr(0, end));
        ThrowErrno(code);
      }
      part = std::move(next);
      at = part.get();
    }
    return start;
  }

  // Links the unnamed file at path (kUnnamed and its descriptor) as name in folder at; false,
  // with errno set, when it cannot.
  static bool LinkUnnamed(const std::string& path, int at, const std::string& name) {
    if (::linkat(AT_FDCWD, path.c_str(), at, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != ENOENT) return false;
    // Without /proc, a process with the right to do so may link the descriptor itself.
    const int fd = std::stoi(path.substr(kUnnamed.size()));
    return ::linkat(fd, "", at, name.c_str(), AT_EMPTY_PATH) == 0;
  }

  // A part of an entry's name as Windows reads it, without its trailing dots ("sub." is "sub"),
  // so that an archive gives the same files here as there; "." is no part. Names hold no
  // spaces, and the core refuses parts of dots alone.
  static std::string AsWindowsReadsIt(std::string part) {
    part.erase(part.find_last_not_of('.') + 1);
    return part;
  }

  // A link at the name is replaced, not followed: it is not what it leads to.
  void ThrowIfKept(int at, const std::string& leaf) const {
    struct stat st {};
    if (!keep_.empty() && ::fstatat(at, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        std::find(keep_.begin(), keep_.end(), FileId{st.st_dev, st.st_ino}) != keep_.end())
      throw KeptFile("it is a file this folder keeps");
  }

  // Puts the unnamed file at path over the file named leaf in folder at: through a temporary
  // name here and a rename, which replaces that file in one step.
  void Replace(const std::string& path, int at, const std::string& leaf) {
    while (true) {
      const std::string temp = Temps().Next();
      if (LinkUnnamed(path, dir_.get(), temp)) {
        if (::renameat(dir_.get(), temp.c_str(), at, leaf.c_str()) == 0) return;
        const int code = errno;
        ::unlinkat(dir_.get(), temp.c_str(), 0);
        ThrowErrno(code);
      }
      if (errno != EEXIST) ThrowErrno();
    }
  }

  void RemoveLeftovers() { RemoveLeftoversIn(dir_.get()); }

  unique_fd dir_;
  CodePage ansi_;
  std::atomic<bool> anonymous_{true};  // new files start without a name
  std::vector<FileId> keep_;
};

class PosixUpdateFile final : public UpdateFile {
 public:
  PosixUpdateFile(unique_fd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  const std::string& Path() const override { return path_; }
  std::int64_t Size() override {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) ThrowErrno();
    return st.st_size;
  }
  void WriteAt(std::int64_t offset, const char* data, std::size_t count) override {
    while (count > 0) {
      const ssize_t n = ::pwrite(fd_.get(), data, count, offset);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ThrowErrno();
      data += n;
      offset += n;
      count -= static_cast<std::size_t>(n);
      Written(offset - n, n);
    }
  }
  std::int64_t CopyAt(InputFile& source, std::int64_t sourceOffset, std::int64_t count,
                      std::int64_t offset) override {
    const auto* from = dynamic_cast<const PosixInputFile*>(&source);
    if (from == nullptr) return 0;
    std::int64_t done = 0;
    while (done < count) {
      off64_t in = sourceOffset + done;
      off64_t out = offset + done;
      const ssize_t n = ::copy_file_range(from->Descriptor(), &in, fd_.get(), &out,
                                          static_cast<std::size_t>(count - done), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      Written(offset + done, n);
      done += n;
    }
    return done;
  }
  void Resize(std::int64_t size) override {
    if (::ftruncate(fd_.get(), size) != 0) ThrowErrno();
  }
  void Flush() override {
    if (::fsync(fd_.get()) != 0) ThrowErrno();
  }

 private:
  // Every change ends in Flush: starting the disk on what is written while the rest is still
  // being copied leaves the flush only the last piece to wait for. A hint; Flush reports.
  void Written(std::int64_t offset, std::int64_t count) {
    constexpr std::int64_t kAhead = 8 << 20;
    if (pendingEnd_ != offset) pendingStart_ = offset;
    pendingEnd_ = offset + count;
    if (pendingEnd_ - pendingStart_ < kAhead) return;
    ::sync_file_range(fd_.get(), pendingStart_, pendingEnd_ - pendingStart_, SYNC_FILE_RANGE_WRITE);
    pendingStart_ = pendingEnd_;
  }

  unique_fd fd_;
  std::string path_;
  std::int64_t pendingStart_ = 0;
  std::int64_t pendingEnd_ = 0;
};

// The folder part of path, "." for none; "/" for a path in the root.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Puts a change of folder's names on the disk, as a rename or a new file leaves it.
void SyncFolder(const std::string& folder) {
  unique_fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd || ::fsync(fd.get()) != 0) ThrowErrno();
}

class PosixFileSystem final : public FileSystem {
 public:
  PosixFileSystem(CodePage ansi, bool windowsPaths)
      : ansi_(std::move(ansi)), windowsPaths_(windowsPaths) {}
  const CodePage& Ansi() const override { return ansi_; }

  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    // Without blocking: opening a FIFO would wait for a writer for ever. O_NONBLOCK means
    // nothing to the plain files that are all that is read here.
    unique_fd fd(::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) ThrowErrno();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) ThrowErrno();
    if (S_ISDIR(st.st_mode)) throw IoError("it is a folder, not a file");
    if (!S_ISREG(st.st_mode)) throw IoError("it is not a plain file");
    // A hint only: the data file is read front to back, so read ahead further.
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixInputFile>(std::move(fd));
  }

  std::unique_ptr<OutputFolder> OpenFolder(const std::string& path) override {
    unique_fd fd(::open(Native(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd) ThrowErrno();
    return std::make_unique<PosixFolder>(std::move(fd), ansi_);
  }

  bool IsPlainFile(const std::string& path) override {
    struct stat st {};
    return ::stat(Native(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  bool IsFolder(const std::string& path) override {
    struct stat st {};
    return ::stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  std::optional<FileId> Id(const std::string& path) override {
    struct stat st {};
    if (::stat(Native(path).c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
  }

  std::unique_ptr<UpdateFile> OpenUpdate(const std::string& path) override {
    unique_fd fd(::open(Native(path).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) ThrowErrno();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) ThrowErrno();
    if (!S_ISREG(st.st_mode)) throw IoError("it is not a plain file");
    return std::make_unique<PosixUpdateFile>(std::move(fd), path);
  }

  void CheckWritable(const std::string& path) override {
    if (::access(Native(path).c_str(), W_OK) != 0) ThrowErrno();
  }

  std::unique_ptr<UpdateFile> CreateBeside(const std::string& like) override {
    const std::string native = Native(like);
    struct stat st {};
    const bool exists = ::stat(native.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) ThrowErrno(EISDIR);
    // A file the user may not write is not replaced behind the user's back.
    if (exists) CheckWritable(like);
    const std::string folder = FolderOf(native);
    unique_fd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir) ThrowErrno();
    while (true) {
      const std::string name = Temps().Next();
      unique_fd fd(::openat(dir.get(), name.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
      if (!fd) {
        if (errno == EEXIST) continue;
        // The folder refuses, not the file: say so, or the file's name takes the blame.
        if (errno == EACCES || errno == EPERM || errno == EROFS) {
          char buffer[256] = {};
          throw IoError(std::string("no file can be made in its folder: ") +
                        ErrorText(::strerror_r(errno, buffer, sizeof buffer), buffer));
        }
        ThrowErrno();
      }
      if (exists) {
        // Owner and group only where this process may give them; the mode always.
        if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0) errno = 0;
        if (::fchmod(fd.get(), st.st_mode & 07777) != 0) {
          const int code = errno;
          ::unlinkat(dir.get(), name.c_str(), 0);
          ThrowErrno(code);
        }
      }
      return std::make_unique<PosixUpdateFile>(std::move(fd),
                                               like.substr(0, LeafStart(like)) + name);
    }
  }

  void Replace(const std::string& from, const std::string& to) override {
    const std::string target = Native(to);
    if (::rename(Native(from).c_str(), target.c_str()) != 0) ThrowErrno();
    try {
      SyncFolder(FolderOf(target));
    } catch (const IoError& e) {
      throw NotYetOnDisk(e.what());
    }
  }

  void Remove(const std::string& path) noexcept override { ::unlink(Native(path).c_str()); }

  bool Exists(const std::string& path) override {
    struct stat st {};
    return ::lstat(Native(path).c_str(), &st) == 0;
  }

  std::vector<FolderItem> ListFolder(const std::string& folder) override {
    const std::string native = Native(folder);
    unique_handle<DirTraits> list(::opendir(native.c_str()));
    if (!list) ThrowErrno();
    char* real = ::realpath(native.c_str(), nullptr);
    if (real == nullptr) ThrowErrno();
    const std::string inside = real;
    std::free(real);
    std::vector<FolderItem> items;
    errno = 0;
    while (const dirent* item = ::readdir(list.get())) {
      const std::string name = item->d_name;
      if (name == "." || name == "..") continue;
      items.push_back({name, Kind(::dirfd(list.get()), name, inside)});
      errno = 0;
    }
    if (errno != 0) ThrowErrno();
    return items;
  }

  bool SameFile(const std::string& a, const std::string& b) override {
    struct stat sa {
    }, sb{};
    return ::stat(Native(a).c_str(), &sa) == 0 && ::stat(Native(b).c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }

  void RemoveLeftovers(const std::string& path) noexcept override {
    unique_fd dir(::open(FolderOf(Native(path)).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir) RemoveLeftoversIn(dir.get());
  }

  // The archive's folder is what is locked: its files are replaced while the lock is held, and
  // a lock file of its own could outlast a killed process. Other archives of the folder wait
  // too, which costs nothing but a moment.
  std::unique_ptr<ArchiveLock> LockArchive(const std::string& base,
                                           const std::function<bool()>& wait) override {
    unique_fd folder(::open(FolderOf(Native(base)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A folder this process cannot read, or a file system without locks, gives no lock to hold.
    if (!folder) return std::make_unique<ArchiveLock>();
    while (::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) return std::make_unique<ArchiveLock>();
      if (!wait || !wait()) return nullptr;
      ::usleep(10000);
    }
    return std::make_unique<HandleLock<unique_fd>>(std::move(folder));
  }

  // A symbolic link is not the archive's file but a way to it: a change replaces the file it
  // leads to, in that file's own folder, and leaves the link as it is.
  // Paths spelled as Windows spells them cannot name every target: those stay as they are.
  std::string Spelled(const std::string& path) override {
    struct stat st {};
    if (windowsPaths_ || ::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string target = real;
    std::free(real);
    return target;
  }

  std::unique_ptr<ArchiveLock> LockFile(const std::string& path,
                                        const std::function<bool()>& wait) override {
    const std::string native = Native(path);
    while (true) {
      unique_fd file(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
      if (!file) return std::make_unique<ArchiveLock>();
      while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return std::make_unique<ArchiveLock>();
        if (!wait || !wait()) return nullptr;
        ::usleep(10000);
      }
      // A change that held it may have put another file in its place meanwhile.
      struct stat held {
      }, named{};
      if (::fstat(file.get(), &held) == 0 && ::stat(native.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        return std::make_unique<HandleLock<unique_fd>>(std::move(file));
    }
  }

  std::size_t LeafStart(const std::string& path) const override {
    const std::size_t end = windowsPaths_ ? LastSeparator(path, ansi_) : path.rfind('/');
    return end == std::string::npos ? 0 : end + 1;
  }

 private:
  // What name in folder dir is; a link counts as inside when it leads to a plain file whose
  // folder is inside, the folder's own real path.
  static ItemKind Kind(int dir, const std::string& name, const std::string& inside) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return ItemKind::Other;
    if (S_ISREG(st.st_mode)) return ItemKind::File;
    if (S_ISDIR(st.st_mode)) return ItemKind::Folder;
    if (!S_ISLNK(st.st_mode)) return ItemKind::Other;
    char* real = ::realpath((inside + "/" + name).c_str(), nullptr);
    if (real == nullptr) return ItemKind::Link;
    const std::string target = real;
    std::free(real);
    return ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && FolderOf(target) == inside
               ? ItemKind::LinkInside
               : ItemKind::Link;
  }

  std::string Native(const std::string& path) const {
    return windowsPaths_ ? WithSeparator(path, '/', ansi_) : path;
  }

  CodePage ansi_;
  bool windowsPaths_;
};

}  // namespace

FileSystem& SystemFileSystem() {
  static PosixFileSystem fs(CodePage::Known(1252), true);
  return fs;
}

std::unique_ptr<FileSystem> SystemFileSystem(const CodePage& ansi) {
  return std::make_unique<PosixFileSystem>(ansi, true);
}

std::unique_ptr<FileSystem> NativeFileSystem(const CodePage& ansi) {
  return std::make_unique<PosixFileSystem>(ansi, false);
}

}  // namespace sectorsieve
