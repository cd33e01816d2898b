#pragma once

// Edits of a real archive beside a model: a plain map of entry names to the bytes extraction
// gives. The model knows nothing of the product's code; the runner drives the core's edits and
// extracts after each step through the core's extraction, for the test to compare.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive_change.h"
#include "extraction_run.h"
#include "modArchive.h"
#include "test_support.h"

namespace sectorsieve::testing {

// Names differ from each other's only in case, so every step meets Windows' comparison.
inline const std::vector<std::string> kModelNames = {"a.bin", "B.txt",  "c.dat",
                                                     "d",     "Ee.bin", "f.txt"};

inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What the archive should hold: by name without regard to case, the name as spelled last and
// the bytes extraction gives.
class EditModel {
 public:
  void Add(const std::string& name, const std::string& bytes) {
    entries_[Lower(name)] = {name, Sectors(bytes)};
  }
  bool Remove(const std::string& name) { return entries_.erase(Lower(name)) > 0; }
  bool Rename(const std::string& from, const std::string& to) {
    const auto it = entries_.find(Lower(from));
    if (it == entries_.end()) return false;
    const std::string bytes = it->second.second;
    entries_.erase(it);
    entries_[Lower(to)] = {to, bytes};
    return true;
  }
  bool Has(const std::string& name) const { return entries_.count(Lower(name)) > 0; }
  // Extraction's files: name as spelled, bytes.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& [key, entry] : entries_) files[entry.first] = entry.second;
    return files;
  }
  std::size_t Bytes() const {
    std::size_t total = 0;
    for (const auto& [key, entry] : entries_) total += entry.second.size();
    return total;
  }

 private:
  std::map<std::string, std::pair<std::string, std::string>> entries_;
};

// The system's files with names in code page 1252, paths as the command line spells them.
inline FileSystem& ModelFiles() {
#ifdef _WIN32
  static const auto files = SystemFileSystem(CodePage::Known(1252));
#else
  static const auto files = NativeFileSystem(CodePage::Known(1252));
#endif
  return *files;
}

inline std::optional<std::string> SameText(std::string_view name) { return std::string(name); }

// Adds the file name, holding bytes, from folder to the archive at paths.
inline void AddFile(const ArchivePaths& paths, const fs::path& folder, const std::string& name,
                    const std::string& bytes) {
  const std::string source = Utf8Path(folder / name);
  WriteBytes(source, bytes);
  AddFiles(ModelFiles(), paths, {{name, source, source, name}}, SameText, {});
}

// Every file extraction writes from the archive of base into a fresh folder out; none where
// there is no archive yet.
inline std::map<std::string, std::string> ExtractAll(FileSystem& files, const ArchivePaths& paths,
                                                     const fs::path& out) {
  if (!fs::exists(PathFromUtf8(paths.dir))) return {};
  fs::remove_all(out);
  fs::create_directory(out);
  modArchive archive(files);
  const Archive loaded = archive.LoadDirectory(paths);
  ExtractionRun(archive).Run(loaded, {Utf8Path(out) + "/", std::nullopt, {}});
  std::map<std::string, std::string> extracted;
  for (const std::string& name : ListTree(out)) extracted[name] = ReadBytes(out / name);
  return extracted;
}

inline std::map<std::string, std::string> ExtractAll(FileSystem& files, const fs::path& base,
                                                     const fs::path& out) {
  return ExtractAll(files, ArchivePathsOf(Utf8Path(base)), out);
}

// Runs one step chosen by the bytes of choice on the archive of base and on the model, with
// source files written in folder from. Returns the step's description.
inline std::string ModelStep(EditModel& model, const fs::path& base, const fs::path& from,
                             std::uint32_t choice) {
  const ArchivePaths paths = ArchivePathsOf(Utf8Path(base));
  const std::string name = kModelNames[(choice >> 4) % kModelNames.size()];
  // Half the time the same name in capitals: Windows reads it as the same.
  const std::string spelled = (choice >> 8) & 1 ? name : Lower(name);
  if (choice % 4 != 0 && !fs::exists(paths.img)) return "nothing to change yet";
  switch (choice % 4) {
    case 0: {
      const std::string bytes = PatternBytes((choice >> 9) % 5000, choice);
      fs::create_directories(from);
      WriteBytes(from / spelled, bytes);
      const std::string source = Utf8Path(from / spelled);
      AddFiles(ModelFiles(), paths, {{spelled, source, source, spelled}}, SameText, {});
      model.Add(spelled, bytes);
      return "add " + spelled;
    }
    case 1: {
      RemoveEntries(ModelFiles(), paths, {spelled}, SameText);
      model.Remove(spelled);
      return "remove " + spelled;
    }
    case 2: {
      const std::string to = kModelNames[(choice >> 12) % kModelNames.size()];
      // Onto another entry's name the rename is refused, and nothing changes.
      if (model.Has(to) && Lower(to) != Lower(spelled)) return "rename refused";
      RenameEntries(ModelFiles(), paths, spelled, to, SameText);
      model.Rename(spelled, to);
      return "rename " + spelled + " " + to;
    }
    default:
      CompactArchive(ModelFiles(), paths, {});
      return "compact";
  }
}

}  // namespace sectorsieve::testing
