#pragma once

// The core's only door to the file system. The POSIX and Win32 implementations
// live in their own files; tests wrap it to inject faults.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "names.h"

namespace sectorsieve {

// A file operation failed; what() is the system's own message.
class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A rename was made, but the system could not put the folder's change on the disk: the new
// name is in place, and a power cut may still undo it.
class NotYetOnDisk : public IoError {
 public:
  using IoError::IoError;
};

// A folder part of an entry's name is a link, junction or other reparse point: writing
// through it could land anywhere. link() is that part of the name, as it was given.
class LinkInTheWay : public IoError {
 public:
  explicit LinkInTheWay(std::string link) : IoError("\"" + link + "\" is a link"), link_(link) {}
  const std::string& link() const { return link_; }

 private:
  std::string link_;
};

// Which file a path leads to: the same for every spelling of it and every link to it.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

// The file at an entry's name is one that its folder keeps (see OutputFolder::Keep).
class KeptFile : public IoError {
 public:
  using IoError::IoError;
};

// A folder part of an entry's name is no folder in the destination: nothing is there, or a
// file is. Extraction makes no folders. folder() is that part of the name, as it was given.
class NoSuchFolder : public IoError {
 public:
  explicit NoSuchFolder(std::string folder)
      : IoError("there is no folder \"" + folder + "\""), folder_(folder) {}
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

// A file's size and the times the system last changed its bytes and its record: a file whose
// stamp differs once it has been read changed as it was read.
struct FileStamp {
  std::int64_t size = 0;
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  bool operator==(const FileStamp&) const = default;
};

// A file opened for reading. While it is open, others may still read it, write it, and rename
// or remove it: a reader of an archive never keeps an add out. A file opened with OpenSource,
// others may read but not write.
class InputFile {
 public:
  virtual ~InputFile() = default;
  virtual std::int64_t Size() = 0;
  virtual FileStamp Stamp() { return {Size(), 0, 0}; }
  // Reads up to count bytes at a 0-based offset; fewer only at the end of the file.
  virtual std::size_t ReadAt(std::int64_t offset, char* data, std::size_t count) = 0;
  // Where the file stores bytes at or after offset: from first to end, while [offset, first)
  // is a hole that reads as zeros. Where the system cannot tell, all of it is stored.
  struct Stored {
    std::int64_t first;
    std::int64_t end;
  };
  virtual Stored StoredFrom(std::int64_t offset) {
    return {offset, std::numeric_limits<std::int64_t>::max()};
  }
  // The caller reads [offset, offset + count) no more: the system may drop it from its cache.
  virtual void Forget(std::int64_t /*offset*/, std::int64_t /*count*/) {}
};

// A new file being written. While it is open, others may read it but not write it.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Its temporary name in the folder that made it; for a file that has none yet, the path by
  // which the system reaches it; for one made under its entry's name (OutputFolder::Create),
  // a name by which the folder knows it as such.
  virtual const std::string& Name() const = 0;
  virtual void Write(const char* data, std::size_t count) = 0;
  // Appends up to count bytes of source, from offset, without passing them through this
  // process where the system can. Returns how many it appended: fewer, or none, for any
  // reason at all, failures included; the caller writes the rest itself, and meets there
  // whatever went wrong.
  virtual std::int64_t CopyFrom(InputFile& /*source*/, std::int64_t /*offset*/,
                                std::int64_t /*count*/) {
    return 0;
  }
  // Appends count zero bytes as a hole, which takes no room on the disk, where the system
  // can. Returns false when it appended nothing; the caller writes the zeros itself.
  virtual bool AppendHole(std::int64_t /*count*/) { return false; }
  // Flushes and closes; a failure here means the file is not complete, and one made under its
  // entry's name is gone once this object is.
  virtual void Close() = 0;
};

// A destination folder, opened once: every file is made and named relative to it, so the
// folder stays the one opened even if its path comes to lead elsewhere. Names inside it are
// bytes in the code page, "\" or "/" between folders, and no folder part is followed
// through a link. Every call may come from any thread.
class OutputFolder {
 public:
  virtual ~OutputFolder() = default;
  // Creates a new file in the folder itself, under a name no entry can have.
  virtual std::unique_ptr<OutputFile> CreateTemp() = 0;
  // Creates a new file that is to become the file name once Rename gives it that name. Where
  // nothing has the name yet and the system removes a file that a process leaves unfinished,
  // however it ends, the file is made under name itself: no one can see it as complete before
  // Close, the system removes it if its object goes before that, and Rename has nothing left to
  // do. Otherwise it is a temporary file, as CreateTemp makes it.
  virtual std::unique_ptr<OutputFile> Create(const std::string& /*name*/) { return CreateTemp(); }
  // Gives the closed file from Create or CreateTemp, by its Name() temp, the name name,
  // replacing what is there in one step (a link at name itself included, which is replaced,
  // not followed). Throws LinkInTheWay when one of name's folder parts is a link, NoSuchFolder
  // when one is no folder.
  virtual void Rename(const std::string& temp, const std::string& name) = 0;
  // Removes a temporary file this folder made, once its object is gone; never follows a link.
  // A file made under its entry's name is already gone then.
  virtual void Remove(const std::string& temp) noexcept = 0;
  // Whether something is at name (a link itself, not what it leads to); false where a folder
  // part of name is missing or cannot be followed, where Rename would fail anyway.
  virtual bool Holds(const std::string& name) = 0;
  // Files that Rename never replaces, whatever name leads to them: it throws KeptFile instead.
  // Set before the first Rename.
  virtual void Keep(std::vector<FileId> files) = 0;
  // name as people read it after the folder's path, spelled as paths are (see FileSystem).
  virtual std::string Shown(std::string_view name) const { return std::string(name); }
};

// A file of an archive changed in place, or a new one beside it: written at any offset, and
// put on the disk before a rename makes it the user's. Closed as the object goes.
class UpdateFile {
 public:
  virtual ~UpdateFile() = default;
  // The path it is reached by, spelled as paths are.
  virtual const std::string& Path() const = 0;
  virtual std::int64_t Size() = 0;
  virtual void WriteAt(std::int64_t offset, const char* data, std::size_t count) = 0;
  // Copies up to count bytes of source, from sourceOffset, to offset, without passing them
  // through this process where the system can. Returns how many it copied: fewer, or none,
  // for any reason; the caller writes the rest itself.
  virtual std::int64_t CopyAt(InputFile& /*source*/, std::int64_t /*sourceOffset*/,
                              std::int64_t /*count*/, std::int64_t /*offset*/) {
    return 0;
  }
  virtual void Resize(std::int64_t size) = 0;
  // Puts everything written on the disk (fsync, FlushFileBuffers): a power cut after this
  // leaves the bytes, not an empty file.
  virtual void Flush() = 0;
};

// Held while an archive changes, so that changes to one archive come one after another and no
// reader finishes the switch of a change still at work. The system lets go of it when the
// process ends, however it ends. One that holds nothing stands in where the system cannot lock.
class ArchiveLock {
 public:
  virtual ~ArchiveLock() = default;
};

// A lock the system holds for as long as a handle stays open.
template <class Handle>
class HandleLock final : public ArchiveLock {
 public:
  explicit HandleLock(Handle handle) : handle_(std::move(handle)) {}

 private:
  Handle handle_;
};

// What a name in a folder is, as pack takes it: a plain file, a link to a plain file of the
// same folder, a folder, a link to anything else, or something else (a device, a pipe).
enum class ItemKind { File, LinkInside, Folder, Link, Other };
struct FolderItem {
  std::string name;  // spelled as paths are
  ItemKind kind;
};

// Entry names are byte strings in an ANSI code page, Ansi(); "\" separates folders on every
// platform, so the same archive extracts to the same tree everywhere. Paths of archives and
// folders are spelled in Paths(): UTF-8 on Windows, which names any file the system can;
// elsewhere the names' code page, or the platform's own bytes. The calls that take a path are
// for the thread that runs the extraction; an OutputFolder says what it allows.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The code page that entry names are in: how to tell a "\" from the second byte of a
  // character.
  virtual const CodePage& Ansi() const = 0;
  // The code page that paths are in, and the texts shown beside them.
  virtual const CodePage& Paths() const { return Ansi(); }
  // An entry name as people read it, spelled as paths are: exact where it converts, "\xNN"
  // for each byte that does not. Every thread may ask.
  virtual std::string Shown(std::string_view name) const { return std::string(name); }
  // Why this file system cannot take an entry name that the core accepts (one that does not
  // become a file name here), or empty. Every thread may ask.
  virtual std::string NameRefusal(std::string_view /*name*/) const { return {}; }
  // An entry name in UTF-8, or nothing where it does not convert: how names are compared as
  // Windows compares them. Without the platform's tables only ASCII converts, which is the same
  // in every code page. Every thread may ask.
  virtual std::optional<std::string> ToUtf8(std::string_view name) const {
    for (const char c : name)
      if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    return std::string(name);
  }
  virtual std::unique_ptr<InputFile> OpenRead(const std::string& path) = 0;
  // Opens a file whose bytes go into an archive, which must not change while they are read:
  // where the system can, no one may write it until it is closed.
  virtual std::unique_ptr<InputFile> OpenSource(const std::string& path) { return OpenRead(path); }
  // Opens an existing folder to write into; the path itself may lead through links.
  virtual std::unique_ptr<OutputFolder> OpenFolder(const std::string& path) = 0;
  // True for an existing plain file: not a folder, not hidden, not a system file.
  virtual bool IsPlainFile(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
  // The file at path, links followed; nothing when there is none.
  virtual std::optional<FileId> Id(const std::string& path) = 0;

  // Changing an archive: paths spelled as Paths(), for one thread.
  // Opens an existing file to read and write in place.
  virtual std::unique_ptr<UpdateFile> OpenUpdate(const std::string& path) = 0;
  // Throws IoError, as the system says it, when the user may not write the file at path (it is
  // read-only, or its permissions say so), without opening it: a reader that keeps writers out
  // does not make it so.
  virtual void CheckWritable(const std::string& /*path*/) {}
  // A new, empty file in the folder of like, under a temporary name of this program, with
  // like's permissions where like exists. Throws IoError when no file could replace like: a
  // folder there, or one the user may not write.
  virtual std::unique_ptr<UpdateFile> CreateBeside(const std::string& like) = 0;
  // Gives the closed or flushed file from the name to, replacing what is there in one step (a
  // link at to itself, not what it leads to), and puts the folder's change on the disk. Throws
  // NotYetOnDisk when only that last part failed.
  virtual void Replace(const std::string& from, const std::string& to) = 0;
  // Removes the name path, never what a link there leads to; nothing when there is none.
  virtual void Remove(const std::string& path) noexcept = 0;
  // True when anything has the name path, a link that leads nowhere included.
  virtual bool Exists(const std::string& path) = 0;
  // Every name directly inside folder, but "." and "..".
  virtual std::vector<FolderItem> ListFolder(const std::string& folder) = 0;
  // True when both paths reach one existing file.
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;
  // Removes the temporary files that processes which have ended left in the folder of path.
  virtual void RemoveLeftovers(const std::string& path) noexcept = 0;
  // The lock of the archive whose files are base + ".img" and ".dir". Where another process
  // holds it, tries again for as long as wait says so (never, when it is empty), and gives
  // nothing once it gives up.
  virtual std::unique_ptr<ArchiveLock> LockArchive(const std::string& /*base*/,
                                                   const std::function<bool()>& /*wait*/) {
    return std::make_unique<ArchiveLock>();
  }
  // path with its last part as its folder spells it: on Windows, which finds a file by any
  // case of its name and by its short name, the name the folder holds; path itself where
  // nothing has that name, and on systems that take names byte for byte.
  virtual std::string Spelled(const std::string& path) { return path; }
  // The lock of the file at path itself, whatever folders name it (hard links): held beside
  // the archive's lock, so that two archives sharing a data file change it one after another.
  // Waits as LockArchive does; one that holds nothing where there is no file or no lock.
  virtual std::unique_ptr<ArchiveLock> LockFile(const std::string& /*path*/,
                                                const std::function<bool()>& /*wait*/) {
    return std::make_unique<ArchiveLock>();
  }
  // Where the last part of path, the name in its folder, starts.
  virtual std::size_t LeafStart(const std::string& path) const = 0;
  // prefix + the last part of path + suffix, in the folder of path.
  std::string Beside(const std::string& path, std::string_view prefix,
                     std::string_view suffix) const {
    const std::size_t leaf = LeafStart(path);
    return path.substr(0, leaf) + std::string(prefix) + path.substr(leaf) + std::string(suffix);
  }
};

// Hands every call to another file system; a wrapper overrides what it changes.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}
  const CodePage& Ansi() const override { return inner_.Ansi(); }
  const CodePage& Paths() const override { return inner_.Paths(); }
  std::string Shown(std::string_view name) const override { return inner_.Shown(name); }
  std::string NameRefusal(std::string_view name) const override { return inner_.NameRefusal(name); }
  std::optional<std::string> ToUtf8(std::string_view name) const override {
    return inner_.ToUtf8(name);
  }
  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    return inner_.OpenRead(path);
  }
  std::unique_ptr<InputFile> OpenSource(const std::string& path) override {
    return inner_.OpenSource(path);
  }
  std::unique_ptr<OutputFolder> OpenFolder(const std::string& path) override {
    return inner_.OpenFolder(path);
  }
  bool IsPlainFile(const std::string& path) override { return inner_.IsPlainFile(path); }
  bool IsFolder(const std::string& path) override { return inner_.IsFolder(path); }
  std::optional<FileId> Id(const std::string& path) override { return inner_.Id(path); }
  std::unique_ptr<UpdateFile> OpenUpdate(const std::string& path) override {
    return inner_.OpenUpdate(path);
  }
  void CheckWritable(const std::string& path) override { inner_.CheckWritable(path); }
  std::unique_ptr<UpdateFile> CreateBeside(const std::string& like) override {
    return inner_.CreateBeside(like);
  }
  void Replace(const std::string& from, const std::string& to) override {
    inner_.Replace(from, to);
  }
  void Remove(const std::string& path) noexcept override { inner_.Remove(path); }
  bool Exists(const std::string& path) override { return inner_.Exists(path); }
  std::vector<FolderItem> ListFolder(const std::string& folder) override {
    return inner_.ListFolder(folder);
  }
  bool SameFile(const std::string& a, const std::string& b) override {
    return inner_.SameFile(a, b);
  }
  void RemoveLeftovers(const std::string& path) noexcept override { inner_.RemoveLeftovers(path); }
  std::unique_ptr<ArchiveLock> LockArchive(const std::string& base,
                                           const std::function<bool()>& wait) override {
    return inner_.LockArchive(base, wait);
  }
  std::unique_ptr<ArchiveLock> LockFile(const std::string& path,
                                        const std::function<bool()>& wait) override {
    return inner_.LockFile(path, wait);
  }
  std::string Spelled(const std::string& path) override { return inner_.Spelled(path); }
  std::size_t LeafStart(const std::string& path) const override { return inner_.LeafStart(path); }

 protected:
  FileSystem& inner_;
};

// The real file system of the platform the program runs on, with entry names in the system's
// ANSI code page (on Windows the system says which; elsewhere it is 1252).
FileSystem& SystemFileSystem();
// The same with entry names in another code page.
std::unique_ptr<FileSystem> SystemFileSystem(const CodePage& ansi);
#ifdef _WIN32
// Code page id as the system describes it: its lead bytes and superscript digits.
CodePage WindowsCodePage(unsigned id);
#else
// The same, but the paths of archives and folders are the platform's own, byte for byte: a
// "\" in them is a character. Entry names inside a folder still separate at "\" and "/".
std::unique_ptr<FileSystem> NativeFileSystem(const CodePage& ansi);
#endif

}  // namespace sectorsieve
