#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>

#include "archive_change.h"
#include "command_files.h"
#include "console.h"
#include "extraction.h"
#include "file_io.h"
#include "imgpack.h"
#include "listing.h"
#include "messages.h"
#include "picking.h"
#include "progress.h"
#include "unique_handle.h"

namespace sectorsieve::cli {

namespace {

int Failed(const std::string& reason, const NameCodec& names) {
  std::fputs(("sectorsieve: " + Displayed(reason, names) + "\n").c_str(), stderr);
  return EXIT_RUN_FAILED;
}

// Paths are spelled as the system spells them, whatever code page the archive's names are in:
// walked with a double-byte page's lead bytes, a UTF-8 path would lose a "\" to a character.
const CodePage& PathCodePage() { return SystemFileSystem().Paths(); }

// The archive whose data file the command line names, in the platform's own path, its
// extension in any case. Its .dir is spelled as the .img is ("DATA.IMG", "DATA.DIR"), or else
// as an archive's files usually are, in lower or in upper case.
std::optional<ArchivePaths> ArchiveOf(const std::string& imgPath, FileSystem& files) {
  auto paths = ArchiveOfTypedDataFile(imgPath, PathCodePage());
  if (!paths || files.IsPlainFile(paths->dir)) return paths;
  for (const std::string_view extension : {kDirectoryExtension, std::string_view(".DIR")})
    if (const std::string dir = paths->base + std::string(extension); files.IsPlainFile(dir)) {
      paths->dir = dir;
      break;
    }
  return paths;
}

// Why the archive cannot be taken, or empty. An empty path is no path: taken as the current
// folder or as "/", it would read or write somewhere no one asked for.
std::string ArchiveRefusal(const std::string& imgPath) {
  if (imgPath.empty()) return "ARCHIVE is empty: name the archive's .img file";
  if (!ArchiveOfTypedDataFile(imgPath, PathCodePage()))
    return ArchivePathRefusal(imgPath, PathCodePage());
  return {};
}

// The entry names of names' code page in UTF-8, as picking compares them.
NameText TextOf(const NameCodec& names) {
  return [&names](std::string_view name) { return names.ToUtf8(name); };
}

// As tar says it: the others are still listed or extracted.
void ReportUnmatched(const std::vector<std::string>& unmatched) {
  for (const std::string& pattern : unmatched)
    std::fputs((NotInTheArchive(Printable(pattern)) + "\n").c_str(), stderr);
}

// Standard output as the file an entry is copied into.
class StandardOutput final : public OutputFile {
 public:
  const std::string& Name() const override { return name_; }
  void Write(const char* data, std::size_t count) override {
    if (std::fwrite(data, 1, count, stdout) != count) throw IoError(std::strerror(errno));
  }
  void Close() override {}

 private:
  std::string name_ = "standard output";
};

// The archive at imgPath as the core reads it, or the complaint that ends the command.
std::optional<Archive> Load(const std::string& imgPath, FileSystem& files, const NameCodec& names) {
  if (const std::string refusal = ArchiveRefusal(imgPath); !refusal.empty()) {
    Failed(refusal, names);
    return std::nullopt;
  }
  try {
    Archive archive = modArchive(files).LoadDirectory(*ArchiveOf(imgPath, files));
    if (archive.DataFailure().empty()) return archive;
    Failed(archive.DataFailure(), names);
  } catch (const RunError& e) {
    Failed(e.what(), names);
  }
  return std::nullopt;
}

// Checks destination, the folder as it will be opened, and names it as folder, as it was given.
std::string FolderRefusal(const std::string& folder, const std::string& destination,
                          FileSystem& files) {
  if (folder.empty()) return "FOLDER is empty: name a folder, \".\" for the current one";
  if (files.IsFolder(destination)) return {};
  // The system's reason tells a missing folder from a path too long to name one.
  try {
    files.OpenFolder(destination);
  } catch (const IoError& e) {
    return "\"" + folder + "\" is not a folder that can be opened: " + e.what();
  }
  return "\"" + folder + "\" is not a folder that exists";
}

}  // namespace

int List(const std::string& imgPath, const std::vector<std::string>& patterns, bool json,
         const NameCodec& names) {
  const auto files = CommandFiles(names);
  const std::optional<Archive> archive = Load(imgPath, *files, names);
  if (!archive) return EXIT_RUN_FAILED;
  Picks picked;
  std::vector<std::string> unmatched;
  if (!patterns.empty()) {
    Picked found = PickEntries(*archive, patterns, names.Ansi(), TextOf(names));
    picked = std::move(found.entries);
    unmatched = std::move(found.unmatched);
  }
  std::fputs(TrailingBytesWarning(*archive, names).c_str(), stderr);
  const std::string text =
      json ? ListingJson(*archive, picked, names) : ListingText(*archive, picked, names);
  std::fwrite(text.data(), 1, text.size(), stdout);
  ReportUnmatched(unmatched);
  return unmatched.empty() ? EXIT_ALL_WRITTEN : EXIT_SOME_FAILED;
}

int Extract(const std::string& imgPath, const std::string& folder,
            const std::vector<std::string>& patterns, Telling telling, bool keep,
            const NameCodec& names, const std::atomic<bool>& stop) {
  const auto files = CommandFiles(names);
  const std::string destination = AsFolder(folder, PathCodePage());
  std::string refusal = ArchiveRefusal(imgPath);
  // A FOLDER that is not there is made, as unzip -d and 7-Zip's -o make theirs; not for an
  // archive that is not there either.
  if (refusal.empty() && !folder.empty() && !files->Exists(destination) && !files->Exists(folder) &&
      files->Exists(ArchiveOf(imgPath, *files)->dir)) {
    try {
      MakeFolders(folder);
      if (!telling.quiet)
        std::fputs(
            ("sectorsieve: created the folder \"" + Displayed(folder, names) + "\"\n").c_str(),
            stderr);
    } catch (const IoError& e) {
      refusal = "\"" + folder + "\" could not be created: " + e.what();
    }
  }
  if (refusal.empty()) refusal = FolderRefusal(folder, destination, *files);
  if (!refusal.empty()) return Failed(refusal, names);
  const auto paths = ArchiveOf(imgPath, *files);
  modArchive archive(*files);
  // Names and a progress line would cross each other on the terminal: -v shows the names.
  RunReport report(stderr, !telling.quiet && !telling.verbose && StderrIsTerminal(), names,
                   TerminalWidth(), telling.verbose ? stdout : nullptr);
  const RunOutcome outcome =
      ExtractArchive(archive, *paths, destination, patterns, names, stop, report, keep);
  report.Finish();
  if (!outcome.failure.empty()) Failed(outcome.failure, names);
  ReportUnmatched(outcome.unmatched);
  if (!telling.quiet)
    std::puts(Summary(outcome, Displayed(folder, names), report.Seconds()).c_str());
  const int status = ExitStatus(outcome);
  return status == EXIT_INTERRUPTED ? InterruptedStatus() : status;
}

int ExtractToStdout(const std::string& imgPath, const std::string& pattern,
                    const NameCodec& names) {
  const auto files = CommandFiles(names);
  const std::optional<Archive> archive = Load(imgPath, *files, names);
  if (!archive) return EXIT_RUN_FAILED;
  const Picked picked = PickEntries(*archive, {pattern}, names.Ansi(), TextOf(names));
  if (picked.entries.empty()) {
    ReportUnmatched(picked.unmatched);
    return EXIT_SOME_FAILED;
  }
  const NameGroups groups = GroupByName(*archive, picked.entries, names.Ansi(), TextOf(names));
  if (groups.size() > 1)
    return Failed("\"" + pattern + "\" names " + std::to_string(groups.size()) +
                      " files; --stdout writes one: name it",
                  names);
  // Where every entry of the name is refused, extraction writes none: the last one tells why.
  const Archive::Entry& entry = (*archive)[groups[0].kept.value_or(groups[0].entries.back())];
  // An entry's bytes, not lines of text: a file or pipe gets them as the archive holds them.
  BinaryStdout();
  StandardOutput out;
  try {
    modArchive(*files).CopyEntryTo(*archive, entry, out);
  } catch (const EntryError& e) {
    std::fputs(
        (Printable(names.Shown(e.entry())) + ": " + Displayed(e.reason(), names) + "\n").c_str(),
        stderr);
    return EXIT_SOME_FAILED;
  } catch (const RunError& e) {
    return Failed(e.what(), names);
  }
  return EXIT_ALL_WRITTEN;
}

int Check(const std::string& imgPath, bool json, const NameCodec& names) {
  const auto files = CommandFiles(names);
  const std::optional<Archive> archive = Load(imgPath, *files, names);
  if (!archive) return EXIT_RUN_FAILED;
  const ArchiveCheck check = CheckArchive(*archive, names.Ansi(), TextOf(names));
  const std::string text =
      json ? CheckJson(*archive, check, names) : CheckText(*archive, check, names);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return check.Sound() ? EXIT_ALL_WRITTEN : EXIT_SOME_FAILED;
}

namespace {

// Runs a change of the archive imgPath: its refusal, its interruption and its failure as every
// command reports them.
int Change(const std::string& imgPath, const NameCodec& names,
           const std::function<int(FileSystem&, const ArchivePaths&)>& change) {
  if (const std::string refusal = ArchiveRefusal(imgPath); !refusal.empty())
    return Failed(refusal, names);
  const auto files = CommandFiles(names);
  try {
    return change(*files, *ArchiveOf(imgPath, *files));
  } catch (const ChangeInterrupted& e) {
    Failed(e.what(), names);
    return InterruptedStatus();
  } catch (const ChangedButNotSafe& e) {
    // Made, so no failure to make it; not a plain success either.
    Failed(e.what(), names);
    return EXIT_SOME_FAILED;
  } catch (const std::exception& e) {
    return Failed(e.what(), names);
  }
}

ChangeOptions Options(const std::atomic<bool>& stop, bool force) {
  return {[&stop] { return !stop; }, force};
}

std::string Plural(std::size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Standard input's bytes, as they are, into file.
void CopyStdinTo(UpdateFile& file) {
  BinaryStdin();
  std::vector<char> buffer(1 << 16);
  std::int64_t at = 0;
  while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), stdin)) {
    file.WriteAt(at, buffer.data(), n);
    at += static_cast<std::int64_t>(n);
  }
  if (std::ferror(stdin)) throw ChangeError(CannotRead("standard input", std::strerror(errno)));
  file.Flush();
}

// An entry's name as -v names it, on standard output as tar does.
void Said(const std::string& name, const NameCodec& names) {
  std::puts(Printable(names.Shown(name)).c_str());
}

// An entry name the user typed (UTF-8 on every platform) in the archive's code page.
std::string TypedName(const std::string& typed, const NameCodec& names) {
  const auto name = names.EntryName(PathOf(typed));
  if (const std::string refusal = TypedNameRefusal(typed, name, names.Ansi()); !refusal.empty())
    throw ChangeError(refusal);
  return *name;
}

}  // namespace

int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names,
         const std::atomic<bool>& stop, bool force, Telling telling) {
  if (folder.empty()) return Failed("FOLDER is empty: name the folder to pack", names);
  return Change(imgPath, names, [&](FileSystem& files, const ArchivePaths& paths) {
    std::size_t packed = 0;
    try {
      packed = imgpack::PackFolder(
          files, AsFolder(folder, PathCodePage()), paths,
          [&](const std::string& file) { return names.EntryName(PathOf(file)); },
          [&] { return !stop; }, force,
          [&](const std::string& name) {
            if (telling.verbose) Said(name, names);
          });
    } catch (const imgpack::ArchiveExists& e) {
      return Failed(std::string(e.what()) +
                        ": add files to it with \"sectorsieve add\", or replace it with "
                        "\"sectorsieve pack --force\"",
                    names);
    } catch (const imgpack::PackError& e) {
      for (const std::string& reason : e.Reasons()) Failed(reason, names);
      if (e.Reasons().size() > 1)
        Failed(
            "nothing was packed: " + std::to_string(e.Reasons().size()) + " files cannot be packed",
            names);
      return EXIT_RUN_FAILED;
    }
    if (!telling.quiet)
      std::puts(("Packed " + Plural(packed, "file", "files") + " into " +
                 Displayed(paths.img, names) + " and " + Displayed(paths.dir, names) + ".")
                    .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Add(const std::string& imgPath, const std::vector<std::string>& files,
        const std::optional<std::string>& as, const NameCodec& names, const std::atomic<bool>& stop,
        bool force, Telling telling) {
  if (as && files.size() != 1) return Failed("--as names one FILE, and was given more", names);
  const bool fromStdin = std::find(files.begin(), files.end(), "-") != files.end();
  if (fromStdin && !as)
    return Failed("FILE \"-\" is standard input: give the entry's name with --as", names);
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    std::vector<AddedFile> added;
    // Standard input can be read once and has no size: its bytes go to a file of this program's
    // beside the archive first, added from there and removed after.
    std::string piped;
    scope_exit removePiped([&] {
      if (!piped.empty()) fs.Remove(piped);
    });
    if (fromStdin) {
      const auto copy = fs.CreateBeside(paths.img);
      piped = copy->Path();
      CopyStdinTo(*copy);
      added.push_back({TypedName(*as, names), piped, "standard input", "-"});
    }
    for (const std::string& file : files) {
      if (file == "-") continue;
      // A FILE that is not there is reported as such, whatever its name would make.
      try {
        fs.OpenRead(file);
      } catch (const IoError& e) {
        throw ChangeError(CannotRead(file, e.what()));
      }
      const std::string leaf = file.substr(fs.LeafStart(file));
      const std::string name = as ? TypedName(*as, names) : TypedName(leaf, names);
      added.push_back({name, file, file, leaf});
    }
    const std::size_t replaced = AddFiles(fs, paths, added, TextOf(names), Options(stop, force));
    if (telling.verbose)
      for (const AddedFile& file : added) Said(file.name, names);
    if (!telling.quiet)
      std::puts(("Added " + Plural(files.size(), "file", "files") + " to " +
                 Displayed(paths.img, names) + ": " + std::to_string(files.size() - replaced) +
                 " new, " + std::to_string(replaced) + " replaced.")
                    .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Remove(const std::string& imgPath, const std::vector<std::string>& patterns,
           const NameCodec& names, const std::atomic<bool>& stop, bool force, Telling telling) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const RemoveOutcome outcome =
        RemoveEntries(fs, paths, patterns, TextOf(names), Options(stop, force));
    const std::vector<bool>& matched = outcome.matched;
    if (telling.verbose)
      for (const std::string& name : outcome.names) Said(name, names);
    if (!telling.quiet)
      std::puts(("Removed " + Plural(outcome.removed, "entry", "entries") + " from " +
                 Displayed(paths.img, names) + ".")
                    .c_str());
    std::vector<std::string> unmatched;
    for (std::size_t i = 0; i < patterns.size(); ++i)
      if (!matched[i]) unmatched.push_back(patterns[i]);
    ReportUnmatched(unmatched);
    return unmatched.empty() ? EXIT_ALL_WRITTEN : EXIT_SOME_FAILED;
  });
}

int Rename(const std::string& imgPath, const std::string& oldName, const std::string& newName,
           const NameCodec& names, const std::atomic<bool>& stop, bool force, Telling telling) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const std::size_t renamed = RenameEntries(fs, paths, oldName, TypedName(newName, names),
                                              TextOf(names), Options(stop, force));
    if (renamed == 0) {
      ReportUnmatched({oldName});
      return EXIT_SOME_FAILED;
    }
    if (telling.verbose) std::puts((Printable(oldName) + " -> " + Printable(newName)).c_str());
    if (!telling.quiet)
      std::puts(("Renamed " + Plural(renamed, "entry", "entries") + " in " +
                 Displayed(paths.img, names) + ".")
                    .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Compact(const std::string& imgPath, const NameCodec& names, const std::atomic<bool>& stop,
            bool force, Telling telling) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const std::int64_t freed = CompactArchive(fs, paths, Options(stop, force));
    if (!telling.quiet)
      std::puts(("Freed " + SizeText(freed) + " in " + Displayed(paths.img, names) + ".").c_str());
    return EXIT_ALL_WRITTEN;
  });
}

}  // namespace sectorsieve::cli
