#include "commands.h"

#include <cstdio>
#include <exception>
#include <functional>

#include "archive_change.h"
#include "command_files.h"
#include "console.h"
#include "extraction.h"
#include "file_io.h"
#include "imgpack.h"
#include "listing.h"
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

// The archive whose data file the command line names, in the platform's own path.
std::optional<ArchivePaths> ArchiveOf(const std::string& imgPath) {
  return ArchiveOfDataFile(imgPath, PathCodePage());
}

// Why the archive cannot be taken, or empty. An empty path is no path: taken as the current
// folder or as "/", it would read or write somewhere no one asked for.
std::string ArchiveRefusal(const std::string& imgPath) {
  if (imgPath.empty()) return "ARCHIVE is empty: name the archive's .img file";
  if (!ArchiveOf(imgPath)) return "\"" + imgPath + "\" does not name an archive's .img file";
  return {};
}

std::string FolderRefusal(const std::string& folder, FileSystem& files) {
  if (folder.empty()) return "FOLDER is empty: name a folder, \".\" for the current one";
  if (!files.IsFolder(folder)) return "\"" + folder + "\" is not a folder that exists";
  return {};
}

}  // namespace

int List(const std::string& imgPath, bool json, const NameCodec& names) {
  if (const std::string refusal = ArchiveRefusal(imgPath); !refusal.empty())
    return Failed(refusal, names);
  const auto files = CommandFiles(names);
  const auto paths = ArchiveOf(imgPath);
  modArchive archive(*files);
  std::int64_t imgSize = 0;
  try {
    archive.LoadDirectory(paths->base);
    try {
      imgSize = files->OpenRead(archive.DataFile())->Size();
    } catch (const IoError& e) {
      throw RunError("The archive \"" + archive.DataFile() + "\" could not be opened: " + e.what());
    }
  } catch (const RunError& e) {
    return Failed(e.what(), names);
  }
  const auto entries =
      ListEntries(archive.gEntries, names.Ansi(), imgSize,
                  [&](std::string_view name) { return PlatformRefusal(name, names); });
  const std::string text = json ? ListingJson(entries, names) : ListingText(entries, names);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return EXIT_ALL_WRITTEN;
}

int Extract(const std::string& imgPath, const std::string& folder, bool quiet,
            const NameCodec& names, const std::atomic<bool>& stop) {
  const auto files = CommandFiles(names);
  std::string refusal = ArchiveRefusal(imgPath);
  if (refusal.empty()) refusal = FolderRefusal(folder, *files);
  if (!refusal.empty()) return Failed(refusal, names);
  const auto paths = ArchiveOf(imgPath);
  modArchive archive(*files);
  RunReport report(stderr, !quiet && StderrIsTerminal(), names, TerminalWidth());
  const RunOutcome outcome =
      ExtractArchive(archive, paths->base, AsFolder(folder, PathCodePage()), stop, report);
  report.Finish();
  if (!outcome.failure.empty()) Failed(outcome.failure, names);
  std::puts(Summary(outcome, folder, report.Seconds()).c_str());
  const int status = ExitStatus(outcome);
  return status == EXIT_INTERRUPTED ? InterruptedStatus() : status;
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
    return change(*files, *ArchiveOf(imgPath));
  } catch (const ChangeInterrupted& e) {
    Failed(e.what(), names);
    return InterruptedStatus();
  } catch (const std::exception& e) {
    return Failed(e.what(), names);
  }
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

NameDecoder Decoder(const NameCodec& names) {
  return [&names](std::string_view name) { return names.ToUtf8(name); };
}

}  // namespace

int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names,
         const std::atomic<bool>& stop) {
  if (folder.empty()) return Failed("FOLDER is empty: name the folder to pack", names);
  return Change(imgPath, names, [&](FileSystem& files, const ArchivePaths& paths) {
    const std::size_t packed = imgpack::PackFolder(
        files, folder, paths,
        [&](const std::string& file) { return names.EntryName(PathOf(file)); },
        [&] { return !stop; });
    std::puts(("Packed " + Plural(packed, "file", "files") + " into " + paths.img + " and " +
               paths.dir + ".")
                  .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Add(const std::string& imgPath, const std::vector<std::string>& files,
        const std::optional<std::string>& as, const NameCodec& names,
        const std::atomic<bool>& stop) {
  if (as && files.size() != 1) return Failed("--as names one FILE, and was given more", names);
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    std::vector<AddedFile> added;
    for (const std::string& file : files) {
      const std::string leaf = file.substr(fs.LeafStart(file));
      const std::string name = as ? TypedName(*as, names) : TypedName(leaf, names);
      added.push_back({name, file, file, leaf});
    }
    const std::size_t replaced = AddFiles(fs, paths, added, Decoder(names), [&] { return !stop; });
    std::puts(("Added " + Plural(files.size(), "file", "files") + " to " + paths.img + ": " +
               std::to_string(files.size() - replaced) + " new, " + std::to_string(replaced) +
               " replaced.")
                  .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Remove(const std::string& imgPath, const std::vector<std::string>& patterns,
           const NameCodec& names) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const RemoveOutcome outcome = RemoveEntries(fs, paths, patterns, Decoder(names));
    const std::vector<bool>& matched = outcome.matched;
    std::puts(
        ("Removed " + Plural(outcome.removed, "entry", "entries") + " from " + paths.img + ".")
            .c_str());
    int status = EXIT_ALL_WRITTEN;
    for (std::size_t i = 0; i < patterns.size(); ++i)
      if (!matched[i]) {
        std::fputs(("sectorsieve: " + patterns[i] + ": not in the archive\n").c_str(), stderr);
        status = EXIT_SOME_FAILED;
      }
    return status;
  });
}

int Rename(const std::string& imgPath, const std::string& oldName, const std::string& newName,
           const NameCodec& names) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const std::size_t renamed =
        RenameEntries(fs, paths, oldName, TypedName(newName, names), Decoder(names));
    if (renamed == 0) {
      std::fputs(("sectorsieve: " + oldName + ": not in the archive\n").c_str(), stderr);
      return EXIT_SOME_FAILED;
    }
    std::puts(
        ("Renamed " + Plural(renamed, "entry", "entries") + " in " + paths.img + ".").c_str());
    return EXIT_ALL_WRITTEN;
  });
}

int Compact(const std::string& imgPath, const NameCodec& names, const std::atomic<bool>& stop) {
  return Change(imgPath, names, [&](FileSystem& fs, const ArchivePaths& paths) {
    const std::int64_t freed = CompactArchive(fs, paths, [&] { return !stop; });
    std::puts(("Freed " + Plural(static_cast<std::size_t>(freed), "byte", "bytes") + " in " +
               paths.img + ".")
                  .c_str());
    return EXIT_ALL_WRITTEN;
  });
}

}  // namespace sectorsieve::cli
