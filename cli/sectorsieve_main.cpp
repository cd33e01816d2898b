// sectorsieve: the command line's list, extract and pack, over the same core as the window.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "extraction.h"
#include "progress.h"
#include "sectorsieve_version.h"

namespace {

using namespace sectorsieve::cli;

// Everything the user typed, one field for each argument of every command.
struct Typed {
  std::string archive;
  std::string folder;
  std::vector<std::string> patterns;
  std::vector<std::string> files;
  std::optional<std::string> as;
  std::string oldName;
  std::string newName;
  bool json = false;
  bool quiet = false;
  bool toStdout = false;
  bool force = false;
  std::optional<unsigned> codePage;
};

// A command as the parser knows it, and what runs it once its arguments are in.
struct Command {
  CLI::App* parsed;
  std::function<int(const NameCodec&)> run;
};

const char* const kNameHelp =
    "only the entries whose file names match: a name, or a pattern where * stands for any "
    "characters and ? for one, compared as Windows compares names, in any case";

CLI::App* Subcommand(CLI::App& app, Typed& typed, const char* name, const char* about) {
  CLI::App* command = app.add_subcommand(name, about);
  if (std::string(name) != "pack")
    command->add_option("ARCHIVE", typed.archive, "the archive's .img file")->required();
  return command;
}

void AddCodePage(CLI::App* command, Typed& typed) {
  command
      ->add_option("--codepage", typed.codePage,
                   std::string("the ANSI code page of the system that made the archive (") +
                       sectorsieve::CodePage::kKnownList +
                       "; by default 1252 on Linux, the system's ANSI code page on Windows)")
      ->check(CLI::Range(1u, 65535u));
}

// The commands that change an archive in place.
void AddEditOptions(CLI::App* command, Typed& typed) {
  AddCodePage(command, typed);
  command->add_flag("--force", typed.force,
                    "change ARCHIVE even where its .dir ends in part of a record, which is "
                    "dropped");
}

Command ListCommand(CLI::App& app, Typed& t) {
  CLI::App* list = Subcommand(app, t, "list", "print the entries of ARCHIVE, one line each");
  list->add_option("NAME", t.patterns, kNameHelp);
  list->add_flag("--json", t.json, "print one JSON array instead");
  AddCodePage(list, t);
  return {list,
          [&t](const NameCodec& names) { return List(t.archive, t.patterns, t.json, names); }};
}

Command ExtractCommand(CLI::App& app, Typed& t) {
  CLI::App* extract = Subcommand(
      app, t, "extract",
      "write every entry of ARCHIVE, or those NAME picks, into FOLDER, as the window does");
  extract->add_option("FOLDER", t.folder, "the folder to write into (none with --stdout)")
      ->required();
  extract->add_option("NAME", t.patterns, kNameHelp);
  extract->add_flag("-q,--quiet", t.quiet, "no progress line");
  extract->add_flag("--stdout", t.toStdout,
                    "write the bytes of the one file NAME names, as extraction would keep it, "
                    "to standard output: extract --stdout ARCHIVE NAME");
  AddCodePage(extract, t);
  return {extract, [&t](const NameCodec& names) {
            if (!t.toStdout)
              return Extract(t.archive, t.folder, t.patterns, t.quiet, names, CatchInterrupts());
            // The one NAME stands where FOLDER would.
            if (!t.patterns.empty()) {
              std::fputs("sectorsieve: extract --stdout takes one NAME and no FOLDER\n", stderr);
              return EXIT_RUN_FAILED;
            }
            return ExtractToStdout(t.archive, t.folder, names);
          }};
}

Command CheckCommand(CLI::App& app, Typed& t) {
  CLI::App* check = Subcommand(
      app, t, "check",
      "tell what extracting ARCHIVE would refuse, entries that overlap or replace others, "
      "and how much of the data file no entry uses");
  check->add_flag("--json", t.json, "print one JSON object instead");
  AddCodePage(check, t);
  return {check, [&t](const NameCodec& names) { return Check(t.archive, t.json, names); }};
}

Command PackCommand(CLI::App& app, Typed& t) {
  CLI::App* pack = Subcommand(app, t, "pack",
                              "pack the files of FOLDER into ARCHIVE and the .dir file beside it");
  pack->add_option("FOLDER", t.folder, "the folder whose files are packed")->required();
  pack->add_option("ARCHIVE", t.archive, "the .img file to write")->required();
  AddCodePage(pack, t);
  return {pack, [&t](const NameCodec& names) {
            return Pack(t.folder, t.archive, names, CatchInterrupts());
          }};
}

Command AddCommand(CLI::App& app, Typed& t) {
  CLI::App* add = Subcommand(
      app, t, "add",
      "add FILEs to ARCHIVE, replacing entries of their names in place; makes ARCHIVE if "
      "there is none");
  add->add_option("FILE", t.files, "the files to add")->required();
  add->add_option("--as", t.as, "the entry name for the one FILE");
  AddEditOptions(add, t);
  return {add, [&t](const NameCodec& names) {
            return Add(t.archive, t.files, t.as, names, CatchInterrupts(), t.force);
          }};
}

Command RemoveCommand(CLI::App& app, Typed& t) {
  CLI::App* remove = Subcommand(app, t, "remove", "remove the entries NAME names from ARCHIVE");
  remove
      ->add_option("NAME", t.patterns, "entry names, without regard to case; * and ? as wildcards")
      ->required();
  AddEditOptions(remove, t);
  return {remove, [&t](const NameCodec& names) {
            return Remove(t.archive, t.patterns, names, CatchInterrupts(), t.force);
          }};
}

Command RenameCommand(CLI::App& app, Typed& t) {
  CLI::App* rename = Subcommand(app, t, "rename", "give the entries named OLD the name NEW");
  rename->add_option("OLD", t.oldName, "the entry's name, without regard to case")->required();
  rename->add_option("NEW", t.newName, "its new name")->required();
  AddEditOptions(rename, t);
  return {rename, [&t](const NameCodec& names) {
            return Rename(t.archive, t.oldName, t.newName, names, CatchInterrupts(), t.force);
          }};
}

Command CompactCommand(CLI::App& app, Typed& t) {
  CLI::App* compact =
      Subcommand(app, t, "compact", "rewrite ARCHIVE's .img without the space no entry uses");
  AddEditOptions(compact, t);
  return {compact, [&t](const NameCodec& names) {
            return Compact(t.archive, names, CatchInterrupts(), t.force);
          }};
}

// Parses args into typed; a status to end with when there is nothing to run: the help asked
// for, or arguments that name no command or do not parse.
std::optional<int> Parse(CLI::App& app, std::vector<std::string> args) {
  try {
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
  return std::nullopt;
}

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

  Typed typed;
  const std::vector<Command> commands = {ListCommand(app, typed),   ExtractCommand(app, typed),
                                         CheckCommand(app, typed),  PackCommand(app, typed),
                                         AddCommand(app, typed),    RemoveCommand(app, typed),
                                         RenameCommand(app, typed), CompactCommand(app, typed)};
  if (const auto status = Parse(app, Arguments(argc, argv))) return *status;
  const auto names = std::make_unique<NameCodec>(typed.codePage);
  for (const Command& command : commands)
    if (command.parsed->parsed()) return command.run(*names);
  return EXIT_RUN_FAILED;
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
