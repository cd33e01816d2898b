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
  Telling telling;
  bool toStdout = false;
  bool force = false;
  bool keep = false;
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

// What the format keeps of a file, said where files go in: users compare bytes.
const char* const kWhatIsKept =
    "The format keeps sizes in sectors of 2048 bytes: a file comes back from the archive as whole\n"
    "sectors, its bytes followed by zeros (a 6-byte file as 2048 bytes). An entry's name holds\n"
    "at most 24 bytes, and the archive has no folders of its own.";

CLI::App* Subcommand(CLI::App& app, Typed& typed, const char* name, const char* about) {
  CLI::App* command = app.add_subcommand(name, about);
  if (std::string(name) != "pack")
    command->add_option("ARCHIVE", typed.archive, "the archive's .img file")->required();
  return command;
}

void AddCodePage(CLI::App* command, Typed& typed) {
  // Any number parses; the name codec refuses a code page it does not know, and says which.
  command
      ->add_option("--codepage", typed.codePage,
                   std::string("the ANSI code page of the system that made the archive (") +
                       sectorsieve::CodePage::kKnownList +
                       "; by default 1252 on Linux, the system's ANSI code page on Windows)")
      ->type_name("CP");
}

void AddTelling(CLI::App* command, Typed& typed, const char* verbose) {
  if (verbose) command->add_flag("-v,--verbose", typed.telling.verbose, verbose);
  command->add_flag("-q,--quiet", typed.telling.quiet, "print nothing but errors");
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
  // Not required here: with --stdout the second argument is the NAME.
  CLI::Option* folder = extract->add_option(
      "FOLDER", t.folder,
      "the folder to write into, made with its parents where it is not there (none with "
      "--stdout)");
  extract->add_option("NAME", t.patterns, kNameHelp);
  extract->add_flag("-k,--keep", t.keep,
                    "leave files that are there already as they are, rather than replace them");
  AddTelling(extract, t, "name each entry as it is extracted, with no progress line");
  extract->add_flag("--stdout", t.toStdout,
                    "write the bytes of the one file NAME names, as extraction would keep it, "
                    "to standard output: extract --stdout ARCHIVE NAME");
  AddCodePage(extract, t);
  return {extract, [&t, folder](const NameCodec& names) {
            if (!t.toStdout) {
              if (folder->count() == 0) {
                std::fputs(
                    "sectorsieve: FOLDER is missing: sectorsieve extract ARCHIVE FOLDER [NAME...]\n"
                    "Run \"sectorsieve extract --help\" for more.\n",
                    stderr);
                return EXIT_RUN_FAILED;
              }
              return Extract(t.archive, t.folder, t.patterns, t.telling, t.keep, names,
                             CatchInterrupts());
            }
            // The one NAME stands where FOLDER would.
            if (folder->count() == 0 || !t.patterns.empty()) {
              std::fputs(
                  (std::string("sectorsieve: ") +
                   (folder->count() == 0 ? "NAME is missing" : "extract --stdout takes one NAME") +
                   ": sectorsieve extract --stdout ARCHIVE NAME\n"
                   "Run \"sectorsieve extract --help\" for more.\n")
                      .c_str(),
                  stderr);
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
                              "pack the files of FOLDER into a new ARCHIVE and the .dir file "
                              "beside it");
  pack->add_option("FOLDER", t.folder,
                   "the folder whose plain files are packed; it may hold no folders")
      ->required();
  pack->add_option("ARCHIVE", t.archive, "the .img file to write")->required();
  pack->add_flag("--force", t.force, "replace ARCHIVE where it is there already");
  AddTelling(pack, t, "name each file as it is packed");
  AddCodePage(pack, t);
  pack->footer(std::string(kWhatIsKept) +
               "\npack takes the plain files directly in FOLDER, and refuses a folder there.");
  return {pack, [&t](const NameCodec& names) {
            return Pack(t.folder, t.archive, names, CatchInterrupts(), t.force, t.telling);
          }};
}

Command AddCommand(CLI::App& app, Typed& t) {
  CLI::App* add = Subcommand(
      app, t, "add",
      "add FILEs to ARCHIVE, replacing entries of their names in place; makes ARCHIVE if "
      "there is none");
  add->add_option("FILE", t.files, "the files to add; - for standard input, with --as")->required();
  add->add_option("--as", t.as, "the entry name for the one FILE")->type_name("NAME");
  AddTelling(add, t, "name each entry as it is added");
  AddEditOptions(add, t);
  add->footer(kWhatIsKept);
  return {add, [&t](const NameCodec& names) {
            return Add(t.archive, t.files, t.as, names, CatchInterrupts(), t.force, t.telling);
          }};
}

Command RemoveCommand(CLI::App& app, Typed& t) {
  CLI::App* remove = Subcommand(app, t, "remove", "remove the entries NAME names from ARCHIVE");
  remove
      ->add_option("NAME", t.patterns, "entry names, without regard to case; * and ? as wildcards")
      ->required();
  AddTelling(remove, t, "name each entry removed");
  AddEditOptions(remove, t);
  return {remove, [&t](const NameCodec& names) {
            return Remove(t.archive, t.patterns, names, CatchInterrupts(), t.force, t.telling);
          }};
}

Command RenameCommand(CLI::App& app, Typed& t) {
  CLI::App* rename = Subcommand(app, t, "rename", "give the entries named OLD the name NEW");
  rename->add_option("OLD", t.oldName, "the entry's name, without regard to case")->required();
  rename->add_option("NEW", t.newName, "its new name")->required();
  AddTelling(rename, t, "name the entry renamed");
  AddEditOptions(rename, t);
  return {rename, [&t](const NameCodec& names) {
            return Rename(t.archive, t.oldName, t.newName, names, CatchInterrupts(), t.force,
                          t.telling);
          }};
}

Command CompactCommand(CLI::App& app, Typed& t) {
  CLI::App* compact =
      Subcommand(app, t, "compact", "rewrite ARCHIVE's .img without the space no entry uses");
  AddTelling(compact, t, nullptr);
  AddEditOptions(compact, t);
  return {compact, [&t](const NameCodec& names) {
            return Compact(t.archive, names, CatchInterrupts(), t.force, t.telling);
          }};
}

// Edits between a and b, a swap of two neighbours counting as one ("lsit" is one from "list").
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// "sectorsieve: "lsit" is not a command; did you mean "list"?" and where to look.
int NotACommand(CLI::App& app, const std::string& typed) {
  std::string said = "sectorsieve: \"" + Printable(typed) + "\" is not a command";
  std::string nearest;
  std::size_t best = 3;  // further than two edits is no typo
  for (const CLI::App* known : app.get_subcommands([](CLI::App*) { return true; }))
    if (const std::size_t d = Distance(typed, known->get_name()); d < best) {
      best = d;
      nearest = known->get_name();
    }
  if (!nearest.empty()) said += "; did you mean \"" + nearest + "\"?";
  std::fputs((said + "\nRun \"sectorsieve --help\" for the commands.\n").c_str(), stderr);
  return EXIT_RUN_FAILED;
}

// The first argument of args that starts like an option and is none of command's, or empty.
// Options' values are skipped; "-" alone is standard input, and nothing after "--" is an option.
std::string UnknownOption(const CLI::App& command, const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") break;
    if (arg.size() < 2 || arg[0] != '-') continue;
    const std::string name = arg.substr(0, arg.find('='));
    const CLI::Option* option = nullptr;
    if (name.starts_with("--")) {
      option = command.get_option_no_throw(name);
    } else {
      // Short flags may come together ("-kv"); the last may take a value.
      for (std::size_t k = 1; k < name.size(); ++k) {
        option = command.get_option_no_throw(std::string("-") + name[k]);
        if (!option || option->get_expected_min() > 0) break;
      }
    }
    if (!option) return arg;
    // A value in the next argument ("--codepage 932", "--as -"); not after "=", not for a flag.
    if (name == arg && option->get_expected_min() > 0) ++i;
  }
  return {};
}

// Parses args into typed; a status to end with when there is nothing to run: the help asked
// for, or arguments that name no command or do not parse.
std::optional<int> Parse(CLI::App& app, std::vector<std::string> args) {
  const auto command = [&](const std::string& name) -> CLI::App* {
    for (CLI::App* known : app.get_subcommands([](CLI::App*) { return true; }))
      if (known->get_name() == name) return known;
    return nullptr;
  };
  // "help" and "help COMMAND" as COMMAND --help has it; no command gets the usage.
  if (!args.empty() && args[0] == "help") {
    if (args.size() > 2) {
      std::fputs("sectorsieve: help takes one COMMAND\n", stderr);
      return EXIT_RUN_FAILED;
    }
    if (args.size() == 1) {
      std::fputs(app.help().c_str(), stdout);
      return EXIT_ALL_WRITTEN;
    }
    CLI::App* about = command(args[1]);
    if (!about) return NotACommand(app, args[1]);
    std::fputs(about->help("sectorsieve").c_str(), stdout);
    return EXIT_ALL_WRITTEN;
  }
  if (args.empty()) {
    std::fputs(app.help().c_str(), stderr);
    return EXIT_RUN_FAILED;
  }
  const std::string& first = args[0];
  if (first.starts_with("-") && first != "--help" && first != "-h" && first != "--version") {
    std::fputs(("sectorsieve: unknown option \"" + Printable(first) +
                "\": options come after the COMMAND, as in \"sectorsieve extract -v ARCHIVE "
                "FOLDER\", and --version prints the version\nRun \"sectorsieve --help\" for the "
                "commands.\n")
                   .c_str(),
               stderr);
    return EXIT_RUN_FAILED;
  }
  CLI::App* typed = first.starts_with("-") ? nullptr : command(first);
  if (!first.starts_with("-") && !typed) return NotACommand(app, first);
  const std::string more = "Run \"sectorsieve " +
                           (typed ? typed->get_name() + " " : std::string()) +
                           "--help\" for more.\n";
  if (typed)
    if (const std::string unknown = UnknownOption(*typed, args); !unknown.empty()) {
      std::fputs(
          ("sectorsieve: unknown option \"" + Printable(unknown) + "\" of " + typed->get_name() +
           "; a name that starts with \"-\" goes after \"--\": sectorsieve " + typed->get_name() +
           " -- " + Printable(unknown) + "\n" + more)
              .c_str(),
          stderr);
      return EXIT_RUN_FAILED;
    }
  try {
    // CLI11 takes the arguments last first.
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "sectorsieve: %s\n%s", e.what(), more.c_str());
    return EXIT_RUN_FAILED;
  }
  return std::nullopt;
}

int Run(int argc, char** argv) {
  CLI::App app(
      "Lists, checks, extracts, packs and changes IMG archives: a .img file of 2048-byte sectors "
      "with a .dir file of the same name beside it.",
      "sectorsieve");
  app.set_version_flag("--version", "sectorsieve " SECTORSIEVE_VERSION);
  app.require_subcommand(1);
  // Options start with "-" on every platform: on Windows "/json" or "/dir/a.img" is a path.
  app.allow_windows_style_options(false);

  Typed typed;
  const std::vector<Command> commands = {ListCommand(app, typed),   ExtractCommand(app, typed),
                                         CheckCommand(app, typed),  PackCommand(app, typed),
                                         AddCommand(app, typed),    RemoveCommand(app, typed),
                                         RenameCommand(app, typed), CompactCommand(app, typed)};
  // An argument's name says what it is: "ARCHIVE", not "ARCHIVE TEXT".
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
    for (CLI::Option* argument :
         command->get_options([](const CLI::Option* o) { return o->get_positional(); }))
      argument->type_name("");
  // Set once the commands are made, which would each repeat it otherwise.
  app.footer(
      "Run \"sectorsieve help COMMAND\" for a command's arguments and options.\n\n"
      "Exit status: 0 when everything was done, 1 when some entries could not be extracted\n"
      "(or check found some that would not be), a NAME is not in the archive, or a change\n"
      "was made but the system could not confirm it is safely on disk,\n"
      "2 when the command could not be carried out, 130 when interrupted by Ctrl+C (128 and\n"
      "the signal's number for SIGTERM and SIGHUP).");
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
