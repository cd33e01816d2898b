// sectorsieve: the command line's list, extract and pack, over the same core as the window.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include "commands.h"
#include "console.h"
#include "extraction.h"
#include "progress.h"
#include "sectorsieve_version.h"

namespace {

using namespace sectorsieve::cli;

int Run(int argc, char** argv) {
  CLI::App app(
      "Lists, checks, extracts, packs and changes IMG archives: a .img file of 2048-byte sectors "
      "with a "
      ".dir file of the same name beside it.",
      "sectorsieve");
  app.set_version_flag("--version", "sectorsieve " SECTORSIEVE_VERSION_TEXT);
  app.require_subcommand(1);
  // Options start with "-" on every platform: on Windows "/json" or "/dir/a.img" is a path.
  app.allow_windows_style_options(false);
  app.footer(
      "Exit status: 0 when everything was done, 1 when some entries could not be extracted\n"
      "(or check found some that would not be), a NAME is not in the archive, or a change\n"
      "was made but the system could not confirm it is safely on disk,\n"
      "2 when the command could not be carried out, 130 when interrupted by Ctrl+C (128 and\n"
      "the signal's number for SIGTERM and SIGHUP).");

  std::string archive;
  std::string folder;
  std::vector<std::string> patterns;
  bool json = false;
  bool quiet = false;
  bool toStdout = false;
  std::optional<unsigned> codePage;
  const auto addCodePage = [&](CLI::App* command) {
    command
        ->add_option("--codepage", codePage,
                     std::string("the ANSI code page of the system that made the archive (") +
                         sectorsieve::CodePage::kKnownList +
                         "; by default 1252 on Linux, the system's ANSI code page on Windows)")
        ->check(CLI::Range(1u, 65535u));
  };

  const char* const nameHelp =
      "only the entries whose file names match: a name, or a pattern where * stands for any "
      "characters and ? for one, compared as Windows compares names, in any case";
  CLI::App* list = app.add_subcommand("list", "print the entries of ARCHIVE, one line each");
  list->add_option("ARCHIVE", archive, "the archive's .img file")->required();
  list->add_option("NAME", patterns, nameHelp);
  list->add_flag("--json", json, "print one JSON array instead");
  addCodePage(list);

  CLI::App* extract = app.add_subcommand(
      "extract",
      "write every entry of ARCHIVE, or those NAME picks, into FOLDER, as the window does");
  extract->add_option("ARCHIVE", archive, "the archive's .img file")->required();
  extract->add_option("FOLDER", folder, "the folder to write into (none with --stdout)")
      ->required();
  extract->add_option("NAME", patterns, nameHelp);
  extract->add_flag("-q,--quiet", quiet, "no progress line");
  extract->add_flag("--stdout", toStdout,
                    "write the bytes of the one file NAME names, as extraction would keep it, "
                    "to standard output: extract --stdout ARCHIVE NAME");
  addCodePage(extract);

  CLI::App* check = app.add_subcommand(
      "check",
      "tell what extracting ARCHIVE would refuse, entries that overlap or replace others, "
      "and how much of the data file no entry uses");
  check->add_option("ARCHIVE", archive, "the archive's .img file")->required();
  check->add_flag("--json", json, "print one JSON object instead");
  addCodePage(check);

  CLI::App* pack = app.add_subcommand(
      "pack", "pack the files of FOLDER into ARCHIVE and the .dir file beside it");
  pack->add_option("FOLDER", folder, "the folder whose files are packed")->required();
  pack->add_option("ARCHIVE", archive, "the .img file to write")->required();
  addCodePage(pack);

  std::vector<std::string> items;
  std::optional<std::string> as;
  std::string newName;
  bool force = false;
  const auto addForce = [&](CLI::App* command) {
    command->add_flag("--force", force,
                      "change ARCHIVE even where its .dir ends in part of a record, which is "
                      "dropped");
  };
  CLI::App* add = app.add_subcommand(
      "add",
      "add FILEs to ARCHIVE, replacing entries of their names in place; makes ARCHIVE if "
      "there is none");
  add->add_option("ARCHIVE", archive, "the archive's .img file")->required();
  add->add_option("FILE", items, "the files to add")->required();
  add->add_option("--as", as, "the entry name for the one FILE");
  addCodePage(add);
  addForce(add);
  CLI::App* remove = app.add_subcommand("remove", "remove the entries NAME names from ARCHIVE");
  remove->add_option("ARCHIVE", archive, "the archive's .img file")->required();
  remove->add_option("NAME", items, "entry names, without regard to case; * and ? as wildcards")
      ->required();
  addCodePage(remove);
  addForce(remove);
  CLI::App* rename = app.add_subcommand("rename", "give the entries named OLD the name NEW");
  rename->add_option("ARCHIVE", archive, "the archive's .img file")->required();
  rename->add_option("OLD", folder, "the entry's name, without regard to case")->required();
  rename->add_option("NEW", newName, "its new name")->required();
  addCodePage(rename);
  addForce(rename);
  CLI::App* compact =
      app.add_subcommand("compact", "rewrite ARCHIVE's .img without the space no entry uses");
  compact->add_option("ARCHIVE", archive, "the archive's .img file")->required();
  addCodePage(compact);
  addForce(compact);

  try {
    std::vector<std::string> args = Arguments(argc, argv);
    // "help", "help COMMAND", no command and an unknown one get the usage.
    const auto command = [&](const std::string& name) -> CLI::App* {
      for (CLI::App* known : app.get_subcommands([](CLI::App*) { return true; }))
        if (known->get_name() == name) return known;
      return nullptr;
    };
    if (!args.empty() && args[0] == "help") {
      CLI::App* about = args.size() > 1 ? command(args[1]) : nullptr;
      std::fputs((about ? about->help() : app.help()).c_str(), stdout);
      return EXIT_ALL_WRITTEN;
    }
    if (args.empty() || (!args[0].starts_with("-") && !command(args[0]))) {
      if (!args.empty())
        std::fputs(("sectorsieve: \"" + Printable(args[0]) + "\" is not a command\n").c_str(),
                   stderr);
      std::fputs(app.help().c_str(), stderr);
      return EXIT_RUN_FAILED;
    }
    // CLI11 takes the arguments last first.
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "sectorsieve: %s\nRun \"sectorsieve --help\" for more.\n", e.what());
    return EXIT_RUN_FAILED;
  }

  const auto names = std::make_unique<NameCodec>(codePage);
  if (list->parsed()) return List(archive, patterns, json, *names);
  if (check->parsed()) return Check(archive, json, *names);
  if (extract->parsed() && toStdout) {
    // The one NAME stands where FOLDER would.
    if (!patterns.empty()) {
      std::fputs("sectorsieve: extract --stdout takes one NAME and no FOLDER\n", stderr);
      return EXIT_RUN_FAILED;
    }
    return ExtractToStdout(archive, folder, *names);
  }
  if (extract->parsed())
    return Extract(archive, folder, patterns, quiet, *names, CatchInterrupts());
  if (add->parsed()) return Add(archive, items, as, *names, CatchInterrupts(), force);
  if (remove->parsed()) return Remove(archive, items, *names, CatchInterrupts(), force);
  if (rename->parsed()) return Rename(archive, folder, newName, *names, CatchInterrupts(), force);
  if (compact->parsed()) return Compact(archive, *names, CatchInterrupts(), force);
  return Pack(folder, archive, *names, CatchInterrupts());
}

// A listing or summary that never reached its reader is a failure, not a success: a full disk,
// a closed pipe or a closed standard output.
int CheckOutput(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "sectorsieve: the output could not be written: %s\n", std::strerror(errno));
  return std::max(status, EXIT_RUN_FAILED);
}

}  // namespace

int main(int argc, char** argv) {
  // From the first line the program writes to its last complaint.
  const ConsoleText consoleText;
  try {
    return CheckOutput(Run(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sectorsieve: %s\n", e.what());
    return EXIT_RUN_FAILED;
  }
}
