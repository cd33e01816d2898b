#include "names.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "clsImgFile.h"

namespace sectorsieve {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Start of the last character of text, or npos for an empty text.
std::size_t LastCharStart(std::string_view text, const CodePage& cp) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); i += cp.CharLength(text, i)) last = i;
  return last;
}

std::string Upper(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsReservedDeviceName(std::string_view component, const CodePage& cp) {
  // Windows maps these names to devices in every folder, whatever the extension.
  std::size_t dot = 0;
  while (dot < component.size() && component[dot] != '.') dot += cp.CharLength(component, dot);
  const std::string base = Upper(component.substr(0, dot));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kDevices)
    if (base == d) return true;
  if (!base.starts_with("COM") && !base.starts_with("LPT")) return false;
  const std::string_view number = std::string_view(base).substr(3);
  if (number.size() == 1 && number[0] >= '1' && number[0] <= '9') return true;
  const auto& sup = cp.Superscripts();
  return std::any_of(sup.begin(), sup.end(),
                     [&](const std::string& s) { return !s.empty() && number == s; });
}

constexpr std::string_view kTempPrefix = ".SECTORSIEVE-";
constexpr std::string_view kTempSuffix = ".TMP";

}  // namespace

// The short 8.3 name Windows may give a temporary file (SECTOR~1.TMP, SE12AB~1.TMP) counts
// too: a later entry renamed there would take an earlier entry's place.
bool IsTemporaryName(std::string_view part) {
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
  const std::string name = Upper(part);
  if (!name.ends_with(kTempSuffix)) return false;
  if (name.starts_with(kTempPrefix)) return true;
  return name.size() <= 12 && name.starts_with("SE") && name.find('~') != std::string::npos;
}

bool CodePage::IsKnown(unsigned id) {
  return id == 874 || id == 932 || id == 936 || id == 949 || id == 950 ||
         (id >= 1250 && id <= 1258);
}

CodePage CodePage::Known(unsigned id) {
  std::array<bool, 256> lead{};
  const auto leadRange = [&](int first, int last) {
    for (int b = first; b <= last; ++b) lead[static_cast<std::size_t>(b)] = true;
  };
  std::array<std::string, 3> sup;
  switch (id) {
    case 932:
      leadRange(0x81, 0x9F);
      leadRange(0xE0, 0xFC);
      break;
    case 949:
      leadRange(0x81, 0xFE);
      sup = {"\xA9\xF6", "\xA9\xF7", "\xA9\xF8"};
      break;
    case 936:
    case 950:
      leadRange(0x81, 0xFE);
      break;
    case 1253:
      sup = {"", "\xB2", "\xB3"};
      break;
    case 1252:
    case 1254:
    case 1255:
    case 1256:
    case 1257:
    case 1258:
      sup = {"\xB9", "\xB2", "\xB3"};
      break;
  }
  return CodePage(id, lead, std::move(sup));
}

CodePage::CodePage(unsigned id, const std::array<bool, 256>& leadBytes,
                   std::array<std::string, 3> superscripts)
    : id_(id), lead_(leadBytes), superscripts_(std::move(superscripts)) {}

std::size_t FindSeparator(std::string_view text, std::size_t from, const CodePage& cp) {
  for (std::size_t i = from; i < text.size(); i += cp.CharLength(text, i))
    if (IsSeparator(text[i])) return i;
  return std::string_view::npos;
}

std::string WithSeparator(std::string text, char separator, const CodePage& cp) {
  for (std::size_t i = FindSeparator(text, 0, cp); i != std::string::npos;
       i = FindSeparator(text, i + 1, cp))
    text[i] = separator;
  return text;
}

std::size_t LastSeparator(std::string_view text, const CodePage& cp) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = FindSeparator(text, 0, cp); i != std::string_view::npos;
       i = FindSeparator(text, i + 1, cp))
    last = i;
  return last;
}

bool EndsInBackslash(std::string_view text, const CodePage& cp) {
  const std::size_t last = LastCharStart(text, cp);
  return last != std::string_view::npos && last == text.size() - 1 && text[last] == '\\';
}

ArchivePaths ArchivePathsOf(std::string_view base) {
  const std::string b(base);
  return {b, b + std::string(kDirectoryExtension), b + std::string(kDataExtension)};
}

std::optional<ArchivePaths> ArchiveOfTypedDataFile(std::string_view imgPath, const CodePage& cp) {
  const std::size_t at = imgPath.size() - std::min(imgPath.size(), kDataExtension.size());
  const std::string extension(imgPath.substr(at));
  if (Upper(extension) != Upper(kDataExtension)) return std::nullopt;
  auto paths =
      ArchiveOfDataFile(std::string(imgPath.substr(0, at)) + std::string(kDataExtension), cp);
  if (!paths) return std::nullopt;
  paths->img = imgPath;
  for (std::size_t i = 0; i < extension.size(); ++i)
    if (std::isupper(static_cast<unsigned char>(extension[i])))
      paths->dir[at + i] =
          static_cast<char>(std::toupper(static_cast<unsigned char>(paths->dir[at + i])));
  return paths;
}

std::optional<ArchivePaths> ArchiveOfDataFile(std::string_view imgPath, const CodePage& cp) {
  if (!imgPath.ends_with(kDataExtension)) return std::nullopt;
  // The extension must start a character, not end a double-byte one.
  const std::size_t at = imgPath.size() - kDataExtension.size();
  std::size_t i = 0;
  while (i < at) i += cp.CharLength(imgPath, i);
  if (i != at) return std::nullopt;
  return ArchivePathsOf(imgPath.substr(0, at));
}

std::string ArchivePathRefusal(std::string_view imgPath, const CodePage& cp) {
  if (ArchiveOfDataFile(imgPath, cp)) return {};
  const std::string refusal =
      "\"" + std::string(imgPath) + "\" does not name an archive's .img file";
  // The directory file named instead: point to its data file, spelled in the same case.
  const std::size_t at = imgPath.size() - std::min(imgPath.size(), kDirectoryExtension.size());
  std::string extension(imgPath.substr(at));
  if (Upper(extension) != Upper(kDirectoryExtension)) return refusal;
  for (std::size_t i = 1; i < extension.size(); ++i) {
    const bool upper = std::isupper(static_cast<unsigned char>(extension[i]));
    const char c = kDataExtension[i];
    extension[i] = upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
  }
  const std::string img = std::string(imgPath.substr(0, at)) + extension;
  if (!ArchiveOfTypedDataFile(img, cp)) return refusal;
  return refusal + ": give its .img file, \"" + img + "\"";
}

std::string StripNulls(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text)
    if (c != '\0' && c != '\x10') result += c;
  return result;
}

std::string_view FileNameOf(std::string_view name) {
  // No trail byte of a double-byte character is a space or a NUL: bytes can be searched. One
  // pass over a short field: every sort and filter of the window asks for names by the million.
  std::size_t end = 0;
  while (end < name.size() && name[end] != ' ' && name[end] != '\0') ++end;
  return name.substr(0, end);
}

std::string EntryFileName(std::string_view field) {
  const std::string stripped = StripNulls(field);
  return std::string(FileNameOf(stripped));
}

std::string TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string EntryLabel(const clsImgFile& entry) {
  std::string name = TrimSpaces(StripNulls(entry.sName()));
  return name.empty() ? "entry " + entry.sId() : name;
}

std::string ShownName(std::string_view name, const CodePage& cp,
                      const std::function<std::optional<std::string>(std::string_view)>& toText) {
  if (auto whole = toText(name)) return *whole;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t n = cp.CharLength(name, i);
    if (auto c = toText(name.substr(i, n))) {
      shown += *c;
    } else {
      for (std::size_t k = i; k < i + n; ++k) {
        const auto b = static_cast<unsigned char>(name[k]);
        shown += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
      }
    }
    i += n;
  }
  return shown;
}

namespace {

std::string Hex(std::uint64_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (int shift = 60; shift >= 0; shift -= 4) text += kHex[(value >> shift) & 15];
  return text;
}

}  // namespace

TempNames::TempNames(char kind, std::uint64_t pid, std::uint64_t tag)
    : prefix_(std::string(".sectorsieve-") + kind), pid_(pid), tag_(Hex(tag)) {}

std::string TempNames::Next() {
  return prefix_ + std::to_string(pid_) + "-" + tag_ + "-" + std::to_string(next_++) + ".tmp";
}

std::optional<TempNames::Owner> TempNames::OtherOwner(std::string_view name) const {
  if (!name.starts_with(prefix_) || !name.ends_with(".tmp")) return std::nullopt;
  name.remove_prefix(prefix_.size());
  name.remove_suffix(4);
  const std::size_t dash = name.find('-');
  const std::string_view pid = name.substr(0, dash);
  if (dash == std::string_view::npos || pid.empty() || pid.size() > 19 ||
      pid.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  const std::string_view tag = name.substr(dash + 1, tag_.size());
  if (tag.size() != tag_.size() || tag.find_first_not_of("0123456789abcdef") != std::string::npos)
    return std::nullopt;
  const std::uint64_t owner = std::stoull(std::string(pid));
  if (owner == pid_ && tag == tag_) return std::nullopt;
  return Owner{owner, owner == pid_};
}

std::string UnsafeNameReason(std::string_view name, const CodePage& cp) {
  if (name.empty()) return "has no name";
  if (IsSeparator(name.front())) return "has a name that leaves the destination folder";
  for (std::size_t i = 0; i < name.size(); i += cp.CharLength(name, i)) {
    const char c = name[i];
    // A lead byte with nothing after it has no character for Windows to make of it.
    const bool dangling = cp.IsLeadByte(c) && i + 1 == name.size();
    const bool singleByte = cp.CharLength(name, i) == 1;
    if (dangling || (singleByte &&
                     (static_cast<unsigned char>(c) < 32 || std::strchr("<>\"|?*:", c) != nullptr)))
      return "has a name with characters that file names cannot hold";
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = FindSeparator(name, start, cp);
    const std::string_view part = name.substr(start, end - start);
    // "." names the folder it stands in: no file can be written there.
    if (end == std::string_view::npos && (part.empty() || part == "."))
      return "has a name that ends in a folder";
    // ".." climbs out; Windows trims longer runs of dots to the same thing.
    if (part.size() >= 2 && part.find_first_not_of('.') == std::string_view::npos)
      return "has a name that leaves the destination folder";
    if (IsReservedDeviceName(part, cp)) return "has a name reserved for a device";
    if (end == std::string_view::npos)
      return IsTemporaryName(part) ? "has a name kept for this program's temporary files"
                                   : std::string();
    start = end + 1;
  }
}

std::string AsRefusal(std::string_view reason) {
  constexpr std::string_view kIts = "its name ";
  if (!reason.starts_with(kIts)) return std::string(reason);
  return "has a name that " + std::string(reason.substr(kIts.size()));
}

std::string RefusedNameReason(std::string_view name, const CodePage& cp) {
  if (name.size() > ENTRY_NAME_LENGTH) return "its name is longer than 24 bytes";
  if (FileNameOf(name) != name) return "its name holds a space";
  // Extraction reads "\\" as a folder separator.
  if (const std::size_t at = FindSeparator(name, 0, cp); at != std::string_view::npos)
    return "its name holds a \"" + std::string(1, name[at]) + "\"";
  if (const std::string reason = UnsafeNameReason(name, cp); !reason.empty())
    return "it would not be extracted: it " + reason;
  return {};
}

std::string TypedNameRefusal(std::string_view typed, const std::optional<std::string>& name,
                             const CodePage& cp) {
  const std::string quoted = "\"" + std::string(typed) + "\"";
  if (!name)
    return quoted + " has characters that code page " + std::to_string(cp.Id()) +
           " cannot hold exactly";
  if (const std::string reason = RefusedNameReason(*name, cp); !reason.empty())
    return quoted + " cannot be an entry's name: " + reason;
  return {};
}

}  // namespace sectorsieve
