#include "commands.h"

#include <cstdio>
#include <exception>

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
    imgSize = archive.OpenArchive();
    archive.CloseArchive();
  } catch (const RunError& e) {
    return Failed(e.what(), names);
  }
  const auto entries = ListEntries(archive.gEntries, *files, imgSize);
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

int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names,
         const std::atomic<bool>& stop) {
  if (folder.empty()) return Failed("FOLDER is empty: name the folder to pack", names);
  if (const std::string refusal = ArchiveRefusal(imgPath); !refusal.empty())
    return Failed(refusal, names);
  const auto paths = ArchiveOf(imgPath);
  try {
    const std::size_t packed = imgpack::PackFolder(
        PathOf(folder), PathOf(paths->base), names.Ansi(),
        [&](const std::filesystem::path& file) { return names.EntryName(file); },
        [&] { return !stop; });
    std::puts(("Packed " + std::to_string(packed) + " files into " + paths->img + " and " +
               paths->dir + ".")
                  .c_str());
  } catch (const imgpack::PackInterrupted& e) {
    Failed(e.what(), names);
    return InterruptedStatus();
  } catch (const std::exception& e) {
    return Failed(e.what(), names);
  }
  return EXIT_ALL_WRITTEN;
}

}  // namespace sectorsieve::cli
