#include "commands.h"

#include <cstdio>
#include <exception>

#include "console.h"
#include "extraction.h"
#include "file_io.h"
#include "imgpack.h"
#include "listing.h"
#include "progress.h"

#ifndef _WIN32
#include "utf8_file_system.h"
#endif

namespace sectorsieve::cli {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

int Failed(const std::string& reason, const NameCodec& names) {
  std::fputs(("sectorsieve: " + Displayed(reason, names) + "\n").c_str(), stderr);
  return EXIT_RUN_FAILED;
}

// The archive whose data file the command line names, in the platform's own path.
std::optional<ArchivePaths> ArchiveOf(const std::string& imgPath) {
  return ArchiveOfDataFile(imgPath, SystemFileSystem().Ansi());
}

std::string NotAnArchive(const std::string& imgPath) {
  return "\"" + imgPath + "\" does not name an archive's .img file";
}

// Why the platform cannot take a name the core accepts: on Linux, one that is not UTF-8.
std::string PlatformRefusal([[maybe_unused]] std::string_view name,
                            [[maybe_unused]] const NameCodec& names) {
#ifndef _WIN32
  try {
    Utf8Name(name, names);
  } catch (const IoError& e) {
    return e.what();
  }
#endif
  return {};
}

}  // namespace

int List(const std::string& imgPath, bool json, const NameCodec& names) {
  const auto paths = ArchiveOf(imgPath);
  if (!paths) return Failed(NotAnArchive(imgPath), names);
  FileSystem& system = SystemFileSystem();
  modArchive archive(system);
  std::int64_t imgSize = 0;
  try {
    archive.LoadDirectory(paths->base);
    try {
      imgSize = system.OpenRead(paths->img)->Size();
    } catch (const IoError& e) {
      throw RunError("The archive \"" + paths->img + "\" could not be opened: " + e.what());
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
  const auto paths = ArchiveOf(imgPath);
  if (!paths) return Failed(NotAnArchive(imgPath), names);
  FileSystem& system = SystemFileSystem();
  std::string destination = folder;
  if (!destination.ends_with('/') && !EndsInBackslash(destination, system.Ansi()))
    destination += kSeparator;
#ifdef _WIN32
  FileSystem& fs = system;
#else
  Utf8FileSystem utf8(system, names, destination);
  FileSystem& fs = utf8;
#endif
  modArchive archive(fs);
  RunReport report(stderr, !quiet && StderrIsTerminal(), names);
  const RunOutcome outcome = ExtractArchive(archive, paths->base, destination, stop, report);
  report.Finish();
  if (!outcome.stopReason.empty()) Failed(outcome.stopReason, names);
  std::puts(Summary(outcome, folder, report.Seconds()).c_str());
  return ExitStatus(outcome);
}

int Pack(const std::string& folder, const std::string& imgPath, const NameCodec& names) {
  const auto paths = ArchiveOf(imgPath);
  if (!paths) return Failed(NotAnArchive(imgPath), names);
  try {
    const std::size_t files = imgpack::PackFolder(
        PathOf(folder), PathOf(paths->base), names.Ansi(),
        [&](const std::filesystem::path& file) { return names.EntryName(file); });
    std::puts(("Packed " + std::to_string(files) + " files into " + paths->img + " and " +
               paths->dir + ".")
                  .c_str());
  } catch (const std::exception& e) {
    return Failed(e.what(), names);
  }
  return EXIT_ALL_WRITTEN;
}

}  // namespace sectorsieve::cli
