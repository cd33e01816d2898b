// libFuzzer target: any bytes become an archive pair, which the whole window extracts into a
// fresh folder. What must come out is worked out here from the bytes alone, without the
// archive code, and compared with what the run wrote and told the user.

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "fuzz_input.h"
#include "hostile_support.h"
#include "memory_window.h"

namespace {

namespace fs = std::filesystem;
using namespace sectorsieve::hostile;

void Require(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

std::int64_t Int32At(std::string_view bytes) {
  const auto u = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) |
                 static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1])) << 8 |
                 static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2])) << 16 |
                 static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3])) << 24;
  return static_cast<std::int32_t>(u);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Windows' device names, whatever the extension; the run's code page is 1252, where "¹", "²"
// and "³" are B9, B2 and B3, and Windows counts COM¹ as a device too.
bool IsDevice(const std::string& name) {
  const std::string base = Upper(name.substr(0, name.find('.')));
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (base == device) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         std::string_view("123456789\xB9\xB2\xB3").find(base[3]) != std::string_view::npos;
}

// The program's temporary files are ".sectorsieve-<something>.tmp", and Windows may give
// them short names such as "SECTOR~1.TMP" or "SE12AB~1.TMP".
bool IsTemporary(std::string name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  name = Upper(name);
  if (!name.ends_with(".TMP")) return false;
  return name.starts_with(".SECTORSIEVE-") ||
         (name.size() <= 12 && name.starts_with("SE") && name.find('~') != std::string::npos);
}

// A file name directly inside the destination.
bool IsPlainName(const std::string& name) {
  if (name.empty() || name.find_first_not_of('.') == std::string::npos || IsDevice(name) ||
      IsTemporary(name))
    return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 32 ||
        std::string_view("<>\"|?*:\\/").find(c) != std::string_view::npos)
      return false;
  return true;
}

// A plain name as the file it makes: without its trailing dots, as Windows reads it, on every
// platform; "" when it makes none.
std::string AsWindowsReadsIt(std::string name) {
  if (!IsPlainName(name)) return {};
  name.erase(name.find_last_not_of('.') + 1);
  return name;
}

// The file a name writes, or "" when it cannot be written. The destination holds no folder
// but a link to one, which is never written through, and the run makes no folders: so every
// folder part must be "." (the destination itself) or empty (a doubled separator), and the
// name must not start with a separator.
std::string WrittenFile(const std::string& name) {
  const std::size_t last = name.find_last_of("\\/");
  if (last == std::string::npos) return AsWindowsReadsIt(name);
  if (name[0] == '\\' || name[0] == '/') return {};
  for (std::size_t i = 0; i < last; ++i)
    if (name[i] != '.' && name[i] != '\\' && name[i] != '/') return {};
  if (name.find("..") < last) return {};
  return AsWindowsReadsIt(name.substr(last + 1));
}

// Whether the directory alone refuses a name, whatever the destination holds: no name, one
// that starts at the root, characters no file name holds, a last part that names a folder, a
// part that climbs out, a device, or a temporary file's name.
bool RefusedName(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/') return true;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 32 ||
        std::string_view("<>\"|?*:").find(c) != std::string_view::npos)
      return true;
  for (std::size_t start = 0;;) {
    const std::size_t end = name.find_first_of("\\/", start);
    const std::string part = name.substr(start, end - start);
    const bool last = end == std::string::npos;
    if ((last && (part.empty() || part == ".")) ||
        (part.size() >= 2 && part.find_first_not_of('.') == std::string::npos) || IsDevice(part) ||
        (last && IsTemporary(part)))
      return true;
    if (last) return false;
    start = end + 1;
  }
}

// A name as Windows compares it: each part without its trailing dots, ASCII in capitals (the
// run's file system converts nothing else), one separator.
std::string WindowsKey(const std::string& name) {
  std::string key;
  for (std::size_t start = 0;;) {
    const std::size_t end = name.find_first_of("\\/", start);
    std::string part = name.substr(start, end - start);
    part.erase(part.find_last_not_of('.') + 1);
    key += Upper(part);
    if (end == std::string::npos) return key;
    key += '\\';
    start = end + 1;
  }
}

struct Expected {
  std::string caption;  // while the entry is written
  std::string label;    // in the failure list
  std::string name;     // of the file it goes to
  bool written = false;
  bool replaced = false;  // a later entry of its name, not refused, takes its place
  bool refused = false;   // by the directory alone
  std::string key;
  std::string bytes;
};

std::vector<Expected> Expect(std::string_view dir, std::string_view img) {
  std::vector<Expected> entries;
  const auto imgBytes = static_cast<std::int64_t>(img.size());
  const std::int64_t sectorsEnd = (imgBytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
  for (std::size_t i = 0; i + 32 <= dir.size(); i += 32) {
    const std::string_view record = dir.substr(i, 32);
    const std::int64_t offset = Int32At(record.substr(0, 4));
    const std::int64_t size = Int32At(record.substr(4, 4));
    std::string field;
    for (char c : record.substr(8, 24))
      if (c != '\0' && c != '\x10') field += c;
    Expected e;
    const std::string shown = sectorsieve::TrimSpaces(field);
    e.label = shown.empty() ? "entry " + std::to_string(i / 32) : shown;
    e.caption = "Extracting : " + e.label;
    const std::string fileName = field.substr(0, field.find(' '));
    e.name = WrittenFile(fileName);
    const std::int64_t start = offset * kSectorBytes;
    const bool within = offset >= 0 && size >= 0 && size * kSectorBytes <= sectorsEnd - start;
    e.written = within && !e.name.empty();
    e.refused = !within || RefusedName(fileName);
    e.key = WindowsKey(fileName);
    if (e.written) e.bytes = EntryBytes(img, offset, size);
    entries.push_back(std::move(e));
  }
  // A folder gets the same files whether its system tells names by case or not: of one name,
  // only the last entry not refused is written.
  for (std::size_t i = 0; i < entries.size(); ++i)
    for (std::size_t j = i + 1; j < entries.size() && !entries[i].refused; ++j)
      if (!entries[j].refused && entries[j].key == entries[i].key) {
        entries[i].replaced = true;
        entries[i].written = false;
        break;
      }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ArchivePair pair = SplitInput({reinterpret_cast<const char*>(data), size});
  const std::vector<Expected> entries = Expect(pair.dir, pair.img);

  sectorsieve::testing::TempDir root;
  const fs::path arc = root.path() / "arc";
  const fs::path out = root.path() / "out";
  const fs::path away = root.path() / "away";
  fs::create_directory(arc);
  fs::create_directory(out);
  fs::create_directory(away);
  sectorsieve::testing::WriteBytes(away / "target.bin", "outside");
  // Links as someone else may have left them: one to a folder, one to a file, both outside.
  fs::create_directory_symlink(away, out / "lnk");
  fs::create_symlink(away / "target.bin", out / "held.bin");
  sectorsieve::testing::WriteBytes(arc / "a.dir", std::string(pair.dir));
  sectorsieve::testing::WriteBytes(arc / "a.img", std::string(pair.img));

  sectorsieve::ui::MemoryWindow w(sectorsieve::SystemFileSystem());
  w.lblSource.SetText((arc / "a.img").string());
  w.lblDestination.SetText(out.string());
  w.frm.cmdExtract_Click();

  // The window came back, having named every entry in turn.
  Require(w.cmdExtract.Enabled() && w.cmdBrowseSource.Enabled() &&
              w.cmdBrowseDestination.Enabled() && !w.frm.Running() &&
              w.form.pointer == sectorsieve::ui::MousePointer::Default,
          "the window is usable again");
  Require(w.form.captions.size() == entries.size() + 2, "one caption per entry");
  for (std::size_t i = 0; i < entries.size(); ++i)
    Require(w.form.captions[i + 1] == entries[i].caption, "caption of entry " + std::to_string(i));

  // Exactly the failed entries are reported, in order.
  std::vector<const Expected*> failed;
  std::map<std::string, std::string> files;
  for (const Expected& e : entries) {
    if (e.written)
      files[e.name] = e.bytes;
    else if (!e.replaced)
      failed.push_back(&e);
  }
  if (failed.empty()) {
    Require(w.form.Caption() == "Extracted! Thanks Sectorsieve!", "success caption");
    Require(w.form.boxes.empty(), "no box after success");
  } else {
    Require(w.form.Caption() == "Extracted with " + std::to_string(failed.size()) + " error(s)",
            "error caption, got \"" + w.form.Caption() + "\" and box:\n" +
                (w.form.boxes.empty() ? std::string() : w.form.boxes[0].text));
    Require(w.form.boxes.size() == 1 && w.form.boxes[0].title == "Extraction errors",
            "one error box");
    const std::string& text = w.form.boxes[0].text;
    std::string head = std::to_string(failed.size()) + " of " + std::to_string(entries.size()) +
                       " entries could not be extracted:\r\n";
    Require(text.starts_with(head), "error box head");
    std::size_t at = head.size();
    for (std::size_t i = 0; i < failed.size() && i < 20; ++i) {
      const std::string line = "\r\n" + failed[i]->label + ": ";
      Require(text.compare(at, line.size(), line) == 0, "failure line " + std::to_string(i));
      at = text.find("\r\n", at + line.size());
      if (at == std::string::npos) at = text.size();
    }
    if (failed.size() > 20)
      Require(text.compare(at, std::string::npos,
                           "\r\nand " + std::to_string(failed.size() - 20) + " more") == 0,
              "failures beyond the twentieth are counted");
    else
      Require(at == text.size(), "no further failure lines");
  }

  // Every file lies in the destination and holds an entry that succeeded; nothing else is left.
  // A link at an entry's name was replaced; the other link, and what both lead to, stay.
  Require(FolderBytes(root.path()) ==
              std::map<std::string, std::string>{{"arc/", ""}, {"away/", ""}, {"out/", ""}},
          "only the three folders in the test's folder");
  Require(FolderBytes(away) == std::map<std::string, std::string>{{"target.bin", "outside"}},
          "nothing written through a link");
  Require(files.contains("lnk") || fs::is_symlink(out / "lnk"),
          "the link to a folder is left unless an entry took its name");
  if (!files.contains("held.bin")) files["held.bin"] = "outside";
  if (!files.contains("lnk")) files["lnk/"] = "";
  Require(FolderBytes(arc) == std::map<std::string, std::string>{{"a.dir", std::string(pair.dir)},
                                                                 {"a.img", std::string(pair.img)}},
          "the archive is untouched");
  Require(FolderBytes(out) == files, "the destination holds exactly the written entries");
  return 0;
}
