#include "commands.h"

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
  const std::string text =
      json ? ListingJson(*archive, picked, names) : ListingText(*archive, picked, names);
  std::fwrite(text.data(), 1, text.size(), stdout);
  ReportUnmatched(unmatched);
  return unmatched.empty() ? EXIT_ALL_WRITTEN : EXIT_SOME_FAILED;
}

int Extract(const std::string& imgPath, const std::string& folder,
            const std::vector<std::string>& patterns, bool quiet, const NameCodec& names,
            const std::atomic<bool>& stop) {
  const auto files = CommandFiles(names);
  const std::string destination = AsFolder(folder, PathCodePage());
  std::string refusal = ArchiveRefusal(imgPath);
  if (refusal.empty()) refusal = FolderRefusal(folder, destination, *files);
  if (!refusal.empty()) return Failed(refusal, names);
  const auto paths = ArchiveOf(imgPath, *files);
  modArchive archive(*files);
  RunReport report(stderr, !quiet && StderrIsTerminal(), names, TerminalWidth());
  const RunOutcome outcome =
      ExtractArchive(archive, *paths, destination, patterns, names, stop, report);
  report.Finish();
  if (!outcome.failure.empty()) Failed(outcome.failure, names);
  ReportUnmatched(outcome.unmatched);
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
  const std::vector<SameName> groups =
      GroupByName(*archive, picked.entries, names.Ansi(), TextOf(names));
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

// An entry name the user typed (UTF-8 on every platform) in the archive's code page.
std::string TypedName(const std::string& typed, const NameCodec& names) {
  const auto name = names.EntryName(PathOf(typed));
  if (!name)
    throw ChangeError("\"" + typed + "\" has characters that code page " +
                      std::to_string(names.Ansi().Id()) + " cannot hold exactly");
  if (const std::string reason = RefusedNameReason(*name, names.Ansi()); !reason.empty())
    throw ChangeError("\"" + typed + "\" cannot be an entry's name: " + reason);
  return *name;
}

}  // namespace

int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names,
         const std::atomic<bool>& stop) {
  if (folder.empty()) return Failed("FOLDER is empty: name the folder to pack", names);
  return Change(imgPath, names, [&](FileSystem& files, const ArchivePaths& paths) {
    const std::size_t packed = imgpack::PackFolder(
        files, AsFolder(folder, PathCodePage()), paths,
        [&](const std::string& file) { return names.EntryName(PathOf(file)); },
        [&] { return !stop; });
    std::puts(("Packed " + Plural(packed, "file", "files") + " into " +
               Displayed(paths.img, names) + " and " + Displayed(paths.dir, names) + ".")
                  .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Add(const std::string& imgPath, const std::vector<std::string>& files,
        const std::optional<std::string>& as, const NameCodec& names, const std::atomic<bool>& stop,
        bool force) {
  if (as && files.size() != 1) return Failed("--as names one FILE, and was given more", names);
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    std::vector<AddedFile> added;
    for (const std::string& file : files) {
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
    std::puts(("Added " + Plural(files.size(), "file", "files") + " to " +
               Displayed(paths.img, names) + ": " + std::to_string(files.size() - replaced) +
               " new, " + std::to_string(replaced) + " replaced.")
                  .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Remove(const std::string& imgPath, const std::vector<std::string>& patterns,
           const NameCodec& names, const std::atomic<bool>& stop, bool force) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const RemoveOutcome outcome =
        RemoveEntries(fs, paths, patterns, TextOf(names), Options(stop, force));
    const std::vector<bool>& matched = outcome.matched;
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
           const NameCodec& names, const std::atomic<bool>& stop, bool force) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const std::size_t renamed = RenameEntries(fs, paths, oldName, TypedName(newName, names),
                                              TextOf(names), Options(stop, force));
    if (renamed == 0) {
      ReportUnmatched({oldName});
      return EXIT_SOME_FAILED;
    }
    std::puts(("Renamed " + Plural(renamed, "entry", "entries") + " in " +
               Displayed(paths.img, names) + ".")
                  .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Compact(const std::string& imgPath, const NameCodec& names, const std::atomic<bool>& stop,
            bool force) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const std::int64_t freed = CompactArchive(fs, paths, Options(stop, force));
    std::puts(("Freed " + Plural(static_cast<std::size_t>(freed), "byte", "bytes") + " in " +
               Displayed(paths.img, names) + ".")
                  .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

}  // namespace sectorsieve::cli
