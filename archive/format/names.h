#pragma once

// Entry names and paths as Windows reads them: byte strings in an ANSI code page. In the
// double-byte code pages the second byte of a character may be 0x5C, the byte of "\", so
// every search for a separator walks characters, never bytes.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sectorsieve {

class clsImgFile;

class CodePage {
 public:
  // A code page this build knows by number: 932, 936, 949 and 950 are double-byte, the rest
  // single-byte. On Windows the file seam asks the system instead.
  static CodePage Known(unsigned id);
  // True for the Windows ANSI code pages that Known describes: 874, 932, 936, 949, 950 and
  // 1250 to 1258. Names in any other cannot be read safely.
  static bool IsKnown(unsigned id);
  static constexpr const char* kKnownList = "874, 932, 936, 949, 950 and 1250 to 1258";

  // leadBytes marks the bytes that start a two-byte character; superscripts holds "¹", "²"
  // and "³" in this code page, "" for one it lacks.
  CodePage(unsigned id, const std::array<bool, 256>& leadBytes,
           std::array<std::string, 3> superscripts);

  unsigned Id() const { return id_; }
  bool IsLeadByte(char c) const { return lead_[static_cast<unsigned char>(c)]; }
  // Bytes of the character that starts at text[at]: a lead byte takes the byte after it.
  std::size_t CharLength(std::string_view text, std::size_t at) const {
    return IsLeadByte(text[at]) && at + 1 < text.size() ? 2 : 1;
  }
  const std::array<std::string, 3>& Superscripts() const { return superscripts_; }

 private:
  unsigned id_;
  std::array<bool, 256> lead_;
  std::array<std::string, 3> superscripts_;
};

// A text from the system's Unicode side has characters the ANSI code page cannot hold, so it
// would name another file; shown() is the text with those characters as "?".
class UnconvertibleText : public std::runtime_error {
 public:
  explicit UnconvertibleText(std::string shown)
      : std::runtime_error("\"" + shown + "\" has characters the ANSI code page cannot hold"),
        shown_(std::move(shown)) {}
  const std::string& shown() const { return shown_; }

 private:
  std::string shown_;
};

// Position of the first "\" or "/" character at or after from (a character start), or npos.
std::size_t FindSeparator(std::string_view text, std::size_t from, const CodePage& cp);
// text with every "\" or "/" character as separator, the platform's own; the second byte of a
// double-byte character stays what it is.
std::string WithSeparator(std::string text, char separator, const CodePage& cp);
// Position of the last "\" or "/" character, or npos.
std::size_t LastSeparator(std::string_view text, const CodePage& cp);
// True when the last character of text is "\".
bool EndsInBackslash(std::string_view text, const CodePage& cp);

// The two files of one archive share a base path: the data file's path without its extension.
inline constexpr std::string_view kDataExtension = ".img";
inline constexpr std::string_view kDirectoryExtension = ".dir";
struct ArchivePaths {
  std::string base;
  std::string dir;
  std::string img;
};
ArchivePaths ArchivePathsOf(std::string_view base);
// The archive whose data file is imgPath, or nothing when imgPath does not end in ".img".
std::optional<ArchivePaths> ArchiveOfDataFile(std::string_view imgPath, const CodePage& cp);
// The same for a path typed on a command line, whose extension may be in any case: the
// directory file's takes the same case letter by letter ("DATA.IMG" has "DATA.DIR").
std::optional<ArchivePaths> ArchiveOfTypedDataFile(std::string_view imgPath, const CodePage& cp);
// Why imgPath names no archive, in words that name it, or empty when it does.
std::string ArchivePathRefusal(std::string_view imgPath, const CodePage& cp);

// Returns text without its NUL (0) and DLE (16) characters.
std::string StripNulls(std::string_view text);
// The name of an entry's file: its name up to the first space (the padding's included) or NUL.
std::string_view FileNameOf(std::string_view name);
// The name of the file of an entry whose record's name field is field, as every command takes
// it: the field without NULs and DLEs, up to the first space.
std::string EntryFileName(std::string_view field);
// Returns text without leading and trailing spaces.
std::string TrimSpaces(std::string_view text);
// The name an entry is shown and reported under: its name without padding, or its index.
std::string EntryLabel(const clsImgFile& entry);
// name (in cp) as people read it: as toText gives the whole, or else each character as toText
// gives it and "\xNN" for every byte of one it cannot give, so one bad byte hides nothing else.
std::string ShownName(std::string_view name, const CodePage& cp,
                      const std::function<std::optional<std::string>(std::string_view)>& toText);
// The names a process gives its temporary files: ".sectorsieve-<kind><pid>-<tag>-<n>.tmp",
// where kind tells the platform's seams apart, tag is drawn at random once per process, so that
// no archive can foresee a name, and n counts. A later run can tell from a name whether the
// process that made it may still be writing it. UnsafeNameReason refuses every such name.
class TempNames {
 public:
  TempNames(char kind, std::uint64_t pid, std::uint64_t tag);
  // A name never given before by this process; any thread may ask.
  std::string Next();
  // For the name of another process's temporary file of this kind: that process's id, and
  // whether it has certainly ended (a process of our own id but another tag has). Nothing
  // for names of ours and names of no temporary file.
  struct Owner {
    std::uint64_t pid;
    bool ended;
  };
  std::optional<Owner> OtherOwner(std::string_view name) const;

 private:
  std::string prefix_;  // ".sectorsieve-<kind>"
  std::uint64_t pid_;
  std::string tag_;
  std::atomic<std::uint64_t> next_{0};
};

// True for the name of one of this program's temporary files (".sectorsieve-...tmp", or the
// short name Windows may give one), whatever its case, trailing dots and spaces.
bool IsTemporaryName(std::string_view part);

// A reason a file system gives for an entry's name ("its name does not convert ...") as the
// core words a refusal, which follows "it" ("has a name that does not convert ...").
std::string AsRefusal(std::string_view reason);

// Why name cannot be written inside the destination folder, or empty when it is safe.
std::string UnsafeNameReason(std::string_view name, const CodePage& cp);
// Why name (bytes in code page cp) cannot be the name of an entry that pack or add writes, or
// empty when it can.
std::string RefusedNameReason(std::string_view name, const CodePage& cp);
// Why a name the user typed (UTF-8) cannot be an entry's name, or empty when it can; name is
// typed in code page cp, or nothing where cp cannot hold it exactly.
std::string TypedNameRefusal(std::string_view typed, const std::optional<std::string>& name,
                             const CodePage& cp);

}  // namespace sectorsieve
