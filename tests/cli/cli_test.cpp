// The command line as a user runs it, on every platform: list, extract and pack.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imgpack.h"
#include "program.h"
#include "sectorsieve_version.h"
#include "test_support.h"

namespace sectorsieve::testing {
namespace {

#ifdef _WIN32
const std::string kSeparator = "\\";
#else
const std::string kSeparator = "/";
#endif

class CommandLine : public ::testing::Test {
 protected:
  std::string Img() const { return dir_ / "archive.img"; }
  std::string Out() const { return (dir_.path() / "out").string(); }
  void MakeOut() const { fs::create_directory(Out()); }

  // An archive of the given records over the given data file, built field by field.
  void WriteArchive(const std::string& records, const std::string& data) const {
    WriteBytes(dir_ / "archive.dir", records);
    WriteBytes(Img(), data);
  }

  TempDir dir_;
};

TEST_F(CommandLine, ListsWhatPackWroteInDirectoryOrder) {
  const fs::path in = dir_.path() / "in";
  fs::create_directory(in);
  WriteBytes(in / "b.bin", PatternBytes(5000));
  WriteBytes(in / "a.txt", "hello");
  ASSERT_EQ(RunProgram({"pack", in.string(), Img()}).status, 0);

  const Output text = RunProgram({"list", Img()});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out,
            "     0  a.txt                               0         2048\n"
            "     1  b.bin                            2048         6144\n");

  const Output json = RunProgram({"list", "--json", Img()});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out,
            "[\n"
            "  {\"index\": 0, \"name\": \"a.txt\", \"bytes\": \"612e747874\", \"offset\": 0, "
            "\"size\": 2048, \"refusal\": null},\n"
            "  {\"index\": 1, \"name\": \"b.bin\", \"bytes\": \"622e62696e\", \"offset\": 2048, "
            "\"size\": 6144, \"refusal\": null}\n"
            "]\n");
}

// "bytes" is the name field as stored, but its padding: what tells apart names shown alike.
TEST_F(CommandLine, ListJsonGivesTheStoredBytesOfEachName) {
  const struct {
    std::string field;
    const char* hex;
  } cases[] = {
      {"a.bin", "612e62696e"},
      {std::string("a\0b", 3), "610062"},
      {"x\x10y", "781079"},
      {std::string("a.bin\0junk", 10), "612e62696e006a756e6b"},
      {"a.bin   ", "612e62696e202020"},
      {"name with space", "6e616d652077697468207370616365"},
      {std::string(24, 'z'), "7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a7a"},
  };
  std::string records;
  for (const auto& c : cases) records += Record(0, 1, c.field);
  WriteArchive(records, PatternBytes(2048));
  const Output json = RunProgram({"list", "--json", Img()});
  EXPECT_EQ(json.status, 0) << json.err;
  std::size_t at = 0;
  for (const auto& c : cases) {
    at = json.out.find("\"bytes\": \"", at);
    ASSERT_NE(at, std::string::npos) << json.out;
    at += 10;
    EXPECT_EQ(json.out.substr(at, json.out.find('"', at) - at), c.hex);
  }
}

TEST_F(CommandLine, ListOfAnEmptyArchiveIsAnEmptyArray) {
  WriteArchive("", "");
  EXPECT_EQ(RunProgram({"list", "--json", Img()}).out, "[]\n");
  EXPECT_EQ(RunProgram({"list", Img()}).out, "");
}

struct RefusalCase {
  const char* label;
  std::string record;
  std::string shownName;  // as list and extract name the entry
  std::string reason;
};

class CommandLineRefuses : public CommandLine, public ::testing::WithParamInterface<RefusalCase> {};

// list says why extraction would refuse an entry, in the words extraction then uses.
TEST_P(CommandLineRefuses, ListAndExtractGiveTheSameReason) {
  const RefusalCase& c = GetParam();
  WriteArchive(Record(0, 1, "good.bin") + c.record, PatternBytes(2 * 2048));
  MakeOut();

  const Output listed = RunProgram({"list", "--json", Img()});
  EXPECT_NE(listed.out.find("\"refusal\": \"" + c.reason + "\"}"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("\"refusal\": null"), std::string::npos) << listed.out;

  const Output extracted = RunProgram({"extract", Img(), Out()});
  EXPECT_EQ(extracted.status, 1);
  EXPECT_EQ(extracted.err, c.shownName + ": " + c.reason + "\n");
  EXPECT_EQ(ListTree(Out()), std::set<std::string>{"good.bin"});
  EXPECT_NE(extracted.out.find("1 could not be extracted"), std::string::npos) << extracted.out;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, CommandLineRefuses,
    ::testing::Values(
        RefusalCase{"NegativeOffset", Record(-1, 1, "neg.bin"), "neg.bin", "has a negative offset"},
        RefusalCase{"NegativeSize", Record(0, -1, "neg.bin"), "neg.bin", "has a negative size"},
        RefusalCase{"ParentFolder", Record(0, 1, "..\\up.bin"), "..\\up.bin",
                    "has a name that leaves the destination folder"},
        RefusalCase{"Device", Record(0, 1, "aux.txt"), "aux.txt",
                    "has a name reserved for a device"},
        RefusalCase{"NoName", Record(0, 1, ""), "entry 1", "has no name"},
        RefusalCase{"BeyondTheEnd", Record(1, 2, "long.bin"), "long.bin",
                    "lies beyond the end of the archive"},
        // Names of a folder, not of a file: "." is the folder it stands in.
        RefusalCase{"Dot", Record(0, 1, "."), ".", "has a name that ends in a folder"},
        RefusalCase{"DotSpace", Record(0, 1, ". "), ".", "has a name that ends in a folder"},
        RefusalCase{"DotInDot", Record(0, 1, "./."), "./.", "has a name that ends in a folder"},
        RefusalCase{"FolderThenDot", Record(0, 1, "e\\."), "e\\.",
                    "has a name that ends in a folder"},
        RefusalCase{"FolderSlashDot", Record(0, 1, "x/."), "x/.",
                    "has a name that ends in a folder"}),
    [](const auto& info) { return std::string(info.param.label); });

struct RunFailureCase {
  const char* label;
  std::vector<std::string> args;  // "@" stands for the test's folder
  std::string said;
};

class CommandLineCannotGoOn : public CommandLine,
                              public ::testing::WithParamInterface<RunFailureCase> {};

TEST_P(CommandLineCannotGoOn, ExitsWithTwoAndSaysWhyNamingTheFile) {
  WriteArchive(Record(0, 1, "a.bin"), PatternBytes(2048));
  std::vector<std::string> args;
  for (std::string a : GetParam().args) {
    if (a.starts_with("@")) a = (dir_.path() / a.substr(1)).string();
    args.push_back(a);
  }

  const Output run = RunProgram(args);

  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(GetParam().said), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CommandLineCannotGoOn,
    ::testing::Values(
        RunFailureCase{"NoDirectoryFile", {"extract", "@missing.img", "@"}, "missing.dir\""},
        RunFailureCase{"NotAnImgFile", {"list", "@archive.dir"}, "archive.dir\" does not name"},
        RunFailureCase{"DestinationIsAFile",
                       {"extract", "@archive.img", "@archive.dir"},
                       "archive.dir\" is not a folder"},
        RunFailureCase{"NoDataFileToList", {"list", "@lonely.img"}, "lonely.dir"},
        RunFailureCase{"MissingFolder", {"extract", "@archive.img"}, "FOLDER"},
        RunFailureCase{"PackNoFolder", {"pack", "@nothing", "@packed.img"}, "\" is not a folder"},
        RunFailureCase{"UnknownCodePage",
                       {"list", "--codepage", "1234", "@archive.img"},
                       "code page 1234 is not one this program knows"}),
    [](const auto& info) { return std::string(info.param.label); });

// A directory whose data file is missing, or a folder: both commands refuse it, in one voice,
// whatever its entries.
TEST_F(CommandLine, ListAndExtractRefuseADirectoryWithoutItsDataFileAlike) {
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "a folder in its place" : "missing");
    WriteBytes(dir_ / "archive.dir", "");
    if (folder) fs::create_directory(Img());
    MakeOut();

    const Output listed = RunProgram({"list", Img()});
    const Output extracted = RunProgram({"extract", Img(), Out()});
    EXPECT_EQ(listed.status, 2);
    EXPECT_EQ(extracted.status, 2);
    EXPECT_TRUE(
        listed.err.starts_with("sectorsieve: The archive \"" + Img() + "\" could not be opened: "))
        << listed.err;
    EXPECT_EQ(extracted.err, listed.err);
    EXPECT_TRUE(fs::is_empty(Out()));
  }
}

TEST_F(CommandLine, AnEntryInAFolderThatIsNotThereSaysWhichFolder) {
  WriteArchive(Record(0, 1, "sub\\deeper\\a.bin"), PatternBytes(2048));
  MakeOut();
  fs::create_directory(fs::path(Out()) / "sub");

  const Output run = RunProgram({"extract", Img(), Out()});

  EXPECT_EQ(run.status, 1);
  const std::string out = Out() + kSeparator;
  EXPECT_EQ(run.err, "sub\\deeper\\a.bin: could not be saved as \"" + out + "sub" + kSeparator +
                         "deeper" + kSeparator + "a.bin\": there is no folder \"" + out + "sub" +
                         kSeparator + "deeper\"\n");
}

struct SpellingCase {
  const char* label;
  std::string img, dir;  // the names of the archive's two files
};

class CommandLineSpellings : public CommandLine,
                             public ::testing::WithParamInterface<SpellingCase> {};

// On the command line an archive's extension is taken in any case, and its .dir found as
// people name it; the files' own names are as they are.
TEST_P(CommandLineSpellings, FindTheDirectoryBesideTheDataFile) {
  WriteBytes(dir_ / GetParam().dir, Record(0, 1, "a.bin"));
  WriteBytes(dir_ / GetParam().img, PatternBytes(2048));
  MakeOut();

  const Output listed = RunProgram({"list", dir_ / GetParam().img});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_TRUE(listed.out.starts_with("     0  a.bin ")) << listed.out;
  const Output run = RunProgram({"extract", dir_ / GetParam().img, Out()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadBytes(fs::path(Out()) / "a.bin"), PatternBytes(2048));
}

INSTANTIATE_TEST_SUITE_P(Archives, CommandLineSpellings,
                         ::testing::Values(SpellingCase{"Upper", "DATA.IMG", "DATA.DIR"},
                                           SpellingCase{"Mixed", "data.Img", "data.Dir"},
                                           SpellingCase{"LowerDirectory", "DATA.IMG", "DATA.dir"},
                                           SpellingCase{"UpperDirectory", "data.img", "data.DIR"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLine, HelpAndAnythingButACommandGetTheUsage) {
  const Output help = RunProgram({"help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: sectorsieve [OPTIONS] SUBCOMMAND"), std::string::npos);
  const Output listHelp = RunProgram({"help", "list"});
  EXPECT_EQ(listHelp.status, 0);
  // As list --help has it, and without the exit status every command would repeat.
  EXPECT_NE(listHelp.out.find("Usage: sectorsieve list [OPTIONS] ARCHIVE"), std::string::npos);
  EXPECT_EQ(listHelp.out, RunProgram({"list", "--help"}).out);
  EXPECT_EQ(listHelp.out.find("Exit status"), std::string::npos) << listHelp.out;
  EXPECT_NE(listHelp.out.find("--codepage CP "), std::string::npos) << listHelp.out;
  // Where a user will read it before packing: files come back as whole sectors.
  EXPECT_NE(RunProgram({"help", "pack"}).out.find("(a 6-byte file as 2048 bytes)"),
            std::string::npos);

  const Output none = RunProgram({});
  EXPECT_EQ(none.status, 2);
  EXPECT_TRUE(none.err.starts_with("Lists, ")) << none.err;
}

struct MistypedCase {
  const char* label;
  std::vector<std::string> args;  // "@" stands for the test's folder
  std::string said;               // what standard error holds, after the folder's path
};

class CommandLineMistyped : public CommandLine,
                            public ::testing::WithParamInterface<MistypedCase> {};

// What a user types wrong gets a message that says what was wrong and what to type, and no
// page of usage to find it in.
TEST_P(CommandLineMistyped, SaysWhatWasWrongAndExitsWithTwo) {
  WriteArchive(Record(0, 1, "a.bin"), PatternBytes(2048));
  fs::create_directory(dir_.path() / "folder.img");
  std::vector<std::string> args;
  std::string said = GetParam().said;
  for (std::size_t at; (at = said.find('@')) != std::string::npos;)
    said.replace(at, 1, dir_.path().string() + kSeparator);
  for (std::string a : GetParam().args)
    args.push_back(a.starts_with("@") ? (dir_.path() / a.substr(1)).string() : a);

  const Output run = RunProgram(args);

  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Usage:"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandLineMistyped,
    ::testing::Values(
        MistypedCase{"NoSuchArchive",
                     {"list", "@new.img"},
                     "sectorsieve: There is no archive \"@new.img\": neither it nor \"@new.dir\" "
                     "exists\n"},
        MistypedCase{"AFolder",
                     {"list", "@folder.img"},
                     "sectorsieve: \"@folder.img\" is a folder, not an archive's .img file\n"},
        MistypedCase{"TheDirectoryFile",
                     {"list", "@archive.dir"},
                     "\"@archive.dir\" does not name an archive's .img file: give its .img file, "
                     "\"@archive.img\"\n"},
        MistypedCase{"TheDirectoryFileInCapitals",
                     {"list", "@archive.DIR"},
                     ": give its .img file, \"@archive.IMG\"\n"},
        MistypedCase{"ANameThatStartsWithADash",
                     {"list", "-x.img"},
                     "sectorsieve: unknown option \"-x.img\" of list; a name that starts with "
                     "\"-\" goes after \"--\": sectorsieve list -- -x.img\n"
                     "Run \"sectorsieve list --help\" for more.\n"},
        MistypedCase{"StdoutWithoutName",
                     {"extract", "--stdout", "@archive.img"},
                     "sectorsieve: NAME is missing: sectorsieve extract --stdout ARCHIVE NAME\n"},
        MistypedCase{"ExtractWithoutFolder",
                     {"extract", "@archive.img"},
                     "sectorsieve: FOLDER is missing: sectorsieve extract ARCHIVE FOLDER"},
        MistypedCase{"LowerV", {"-v"}, "sectorsieve: unknown option \"-v\": options come after"},
        MistypedCase{"UpperV", {"-V"}, "sectorsieve: unknown option \"-V\": options come after"},
        MistypedCase{"HelpOfNoCommand",
                     {"help", "nosuch"},
                     "sectorsieve: \"nosuch\" is not a command\nRun \"sectorsieve --help\" for "
                     "the commands.\n"},
        MistypedCase{"Typo",
                     {"lsit", "@archive.img"},
                     "sectorsieve: \"lsit\" is not a command; did you mean \"list\"?\n"},
        MistypedCase{"FarFromAnyCommand",
                     {"frobnicate"},
                     "sectorsieve: \"frobnicate\" is not a command\nRun"},
        MistypedCase{"PointsToTheCommandsHelp",
                     {"remove", "@archive.img"},
                     "Run \"sectorsieve remove --help\" for more.\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// An argument that starts with "/" is a path on every platform, never an option.
TEST_F(CommandLine, OnlyDashesStartOptions) {
  const Output run = RunProgram({"list", "/json"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "sectorsieve: \"/json\" does not name an archive's .img file\n");
}

// Every file that cannot be packed is told in one run, so that all can be mended at once.
TEST_F(CommandLine, PackTellsEveryFileItRefusesAndLeavesNoArchive) {
  const fs::path in = dir_.path() / "in";
  fs::create_directory(in);
  WriteBytes(in / "fine.txt", "x");
  WriteBytes(in / "has space", "x");
  WriteBytes(in / "name-of-twenty-five-bytes", "x");
  fs::create_directory(in / "sub");

  const Output run = RunProgram({"pack", in.string(), dir_ / "packed.img"});

  EXPECT_EQ(run.status, 2);
  const std::string at = "sectorsieve: cannot pack \"" + (in / "").string();
  EXPECT_EQ(run.err, at + "has space\": its name holds a space\n" + at +
                         "name-of-twenty-five-bytes\": its name is longer than 24 bytes\n" + at +
                         "sub\": it is a folder, and only plain files can be packed\n"
                         "sectorsieve: nothing was packed: 3 files cannot be packed\n");
  EXPECT_FALSE(fs::exists(dir_.path() / "packed.img"));
  EXPECT_FALSE(fs::exists(dir_.path() / "packed.dir"));
}

// pack makes a new archive; one that is there is replaced only when the user says so.
TEST_F(CommandLine, PackRefusesAnArchiveThatIsThereUnlessForced) {
  const fs::path in = dir_.path() / "in";
  fs::create_directory(in);
  WriteArchive(Record(0, 1, "old.bin"), PatternBytes(2048));
  WriteBytes(in / "new.txt", "new");
  for (const std::string there : {"archive.img", "archive.dir"}) {
    SCOPED_TRACE(there);
    fs::remove(dir_.path() / (there == "archive.img" ? "archive.dir" : "archive.img"));
    const std::string before = ReadBytes(dir_.path() / there);
    const Output refused = RunProgram({"pack", in.string(), Img()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "sectorsieve: \"" + (dir_ / there) +
                               "\" exists already: add files to it with \"sectorsieve add\", or "
                               "replace it with \"sectorsieve pack --force\"\n");
    EXPECT_EQ(ReadBytes(dir_.path() / there), before);
    WriteArchive(Record(0, 1, "old.bin"), PatternBytes(2048));
  }
  const Output forced = RunProgram({"pack", "--force", in.string(), Img()});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(ReadBytes(dir_ / "archive.dir"), Record(0, 1, "new.txt"));
}

// As tar -k: files already there stay as they are, and the summary counts them.
TEST_F(CommandLine, KeepLeavesTheFilesThatAreThere) {
  WriteArchive(Record(0, 1, "a.bin") + Record(1, 1, "b.bin") + Record(2, 1, "c.bin"),
               PatternBytes(3 * 2048));
  MakeOut();
  WriteBytes(fs::path(Out()) / "a.bin", "mine");
  WriteBytes(fs::path(Out()) / "b.bin", "mine too");

  const Output kept = RunProgram({"extract", "-k", Img(), Out()});
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_NE(kept.out.find("Extracted 1 of 3 entries (2.0 KiB)"), std::string::npos) << kept.out;
  EXPECT_NE(kept.out.find(" 2 kept, as files of their names were there."), std::string::npos)
      << kept.out;
  EXPECT_EQ(ReadBytes(fs::path(Out()) / "a.bin"), "mine");
  EXPECT_EQ(ReadBytes(fs::path(Out()) / "b.bin"), "mine too");
  EXPECT_EQ(ReadBytes(fs::path(Out()) / "c.bin"), PatternBytes(3 * 2048).substr(2 * 2048));

  const Output replaced = RunProgram({"extract", Img(), Out()});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(ReadBytes(fs::path(Out()) / "a.bin"), PatternBytes(2048));
}

// As unzip -d and 7-Zip's -o: a FOLDER that is not there is made, and the user told.
TEST_F(CommandLine, AFolderThatIsNotThereIsMadeWithItsParents) {
  WriteArchive(Record(0, 1, "a.bin"), PatternBytes(2048));
  const fs::path deep = dir_.path() / "new" / "deeper";
  const Output run = RunProgram({"extract", Img(), deep.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "sectorsieve: created the folder \"" + deep.string() + "\"\n");
  EXPECT_EQ(ReadBytes(deep / "a.bin"), PatternBytes(2048));

  // Nothing is made for an archive that is not there.
  const Output none = RunProgram({"extract", dir_ / "none.img", (dir_.path() / "x").string()});
  EXPECT_EQ(none.status, 2);
  EXPECT_FALSE(fs::exists(dir_.path() / "x"));
}

// As tar has them: -v names each entry, -q prints nothing but errors; one archive, step by step.
TEST_F(CommandLine, VerboseNamesEachEntryAndQuietPrintsOnlyErrors) {
  const fs::path in = dir_.path() / "in";
  fs::create_directory(in);
  WriteBytes(in / "a.txt", "a");
  WriteBytes(in / "b.txt", "b");
  WriteBytes(dir_.path() / "c.txt", "c");
  const std::string img = Img(), out = Out(), c = (dir_.path() / "c.txt").string();
  const struct {
    std::vector<std::string> args;
    std::string out;  // all of it, or its start where a summary with a time follows
  } steps[] = {
      {{"pack", "-v", in.string(), img}, "a.txt\nb.txt\nPacked 2 files into "},
      {{"extract", "-v", img, out}, "a.txt\nb.txt\nExtracted 2 of 2 entries "},
      {{"extract", "-q", img, out}, ""},
      {{"add", "-v", img, c}, "c.txt\nAdded 1 file to "},
      {{"add", "-q", img, c}, ""},
      {{"remove", "-v", img, "?.TXT"}, "a.txt\nb.txt\nc.txt\nRemoved 3 entries from "},
      {{"add", "-q", img, c, "--as", "d.txt"}, ""},
      {{"rename", "-v", img, "d.txt", "e.txt"}, "d.txt -> e.txt\nRenamed 1 entry in "},
      {{"rename", "-q", img, "e.txt", "f.txt"}, ""},
      {{"compact", "-q", img}, ""},
      {{"pack", "-q", "--force", in.string(), img}, ""},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.args[0] + " " + step.args[1]);
    const Output run = RunProgram(step.args);
    EXPECT_LE(run.status, 1) << run.err;
    EXPECT_TRUE(step.out.empty() ? run.out.empty() : run.out.starts_with(step.out)) << run.out;
  }
  // -q keeps the errors.
  const Output missing = RunProgram({"remove", "-q", img, "none"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "none: not in the archive\n");
}

// "-" is standard input, as Unix tools take it: its bytes under the name --as gives.
TEST_F(CommandLine, AddTakesStandardInputAsAFileNamedByAs) {
  const std::string bytes = "line\r\nnext\x1a" + PatternBytes(3000);
  const Output added = RunProgram({"add", Img(), "-", "--as", "piped.bin"}, bytes);
  EXPECT_EQ(added.status, 0) << added.err;
  EXPECT_TRUE(RunProgram({"extract", "--stdout", Img(), "piped.bin"}).outBytes == Sectors(bytes));
  EXPECT_EQ(ListTree(dir_.path()), (std::set<std::string>{"archive.dir", "archive.img"}));

  const Output unnamed = RunProgram({"add", Img(), "-"}, bytes);
  EXPECT_EQ(unnamed.status, 2);
  EXPECT_EQ(unnamed.err,
            "sectorsieve: FILE \"-\" is standard input: give the entry's name with --as\n");
}

// A directory that is not a whole number of records is damaged, or no directory at all.
TEST_F(CommandLine, APartialRecordIsWarnedOfAndCheckCountsIt) {
  WriteArchive(Record(0, 1, "a.bin") + "tail", PatternBytes(2048));
  MakeOut();
  const std::string warning = "sectorsieve: warning: \"" + dir_ / "archive.dir" +
                              "\" ends in 4 bytes that are no whole record, which no entry is read "
                              "from: the archive is damaged, or is no archive\n";
  const Output listed = RunProgram({"list", Img()});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.err, warning);
  const Output extracted = RunProgram({"extract", Img(), Out()});
  EXPECT_EQ(extracted.status, 0);
  EXPECT_EQ(extracted.err, warning);
  const Output checked = RunProgram({"check", Img()});
  EXPECT_EQ(checked.status, 1);
  EXPECT_TRUE(checked.out.starts_with("\"" + dir_ / "archive.dir" +
                                      "\" ends in 4 bytes that are no whole record"))
      << checked.out;
  EXPECT_NE(RunProgram({"check", "--json", Img()}).out.find("\"trailingBytes\": 4}"),
            std::string::npos);
}

TEST_F(CommandLine, PackThenExtractGivesBackEveryFile) {
  const fs::path in = dir_.path() / "in";
  fs::create_directory(in);
  const std::vector<std::pair<std::string, std::size_t>> files = {
      {"empty", 0}, {"sector.bin", 2048}, {"odd.dat", 2049}, {"big.raw", 5 * 1024 * 1024}};
  unsigned seed = 0;
  for (const auto& [name, size] : files) WriteBytes(in / name, PatternBytes(size, ++seed));
  MakeOut();

  ASSERT_EQ(RunProgram({"pack", in.string(), Img()}).status, 0);
  const Output run = RunProgram({"extract", Img(), Out()});

  EXPECT_EQ(run.status, 0) << run.err;
  // Not on a terminal: no progress line, only the summary.
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind("Extracted 4 of 4 entries (5.0 MiB) into " + Out() + " in ", 0), 0u)
      << run.out;
  EXPECT_EQ(ListTree(Out()).size(), files.size());
  for (const auto& [name, size] : files) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadBytes(fs::path(Out()) / name), Sectors(ReadBytes(in / name)));
  }
}

TEST_F(CommandLine, TheSummaryCountsOnlyWhatWasWritten) {
  // Two empty entries and one that claims far more than the archive holds.
  WriteArchive(Record(0, 0, "a") + Record(0, 0, "b") + Record(0, 0x7FFFFFFF, "huge"), "");
  MakeOut();
  const Output run = RunProgram({"extract", Img(), Out()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("Extracted 2 of 3 entries (0 bytes) into ", 0), 0u) << run.out;
}

// Into the archive's own folder, no entry replaces the archive, however it is spelled.
TEST_F(CommandLine, NoEntryReplacesTheArchiveItReads) {
  const std::string records =
      Record(0, 1, "archive.img") + Record(1, 1, ".\\archive.dir") + Record(2, 1, "other.bin");
  const std::string data = PatternBytes(3 * 2048);
  WriteArchive(records, data);

  const Output run = RunProgram({"extract", Img(), dir_.path().string()});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "archive.img: would replace the archive being read\n"
            ".\\archive.dir: would replace the archive being read\n");
  EXPECT_TRUE(ReadBytes(Img()) == data) << "the data file changed";
  EXPECT_TRUE(ReadBytes(dir_ / "archive.dir") == records) << "the directory file changed";
  EXPECT_EQ(ReadBytes(dir_.path() / "other.bin"), data.substr(2 * 2048, 2048));
}

// "Папка-日本", which no ANSI code page holds; "日本語.txt" and "表" in UTF-8 and in 932, where
// the second byte of "表" is that of "\".
const std::string kFolder = "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0-\xE6\x97\xA5\xE6\x9C\xAC";
const std::string kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";
const std::string kNihongo932 = "\x93\xFA\x96\x7B\x8C\xEA.txt";
const std::string kHyou = "\xE8\xA1\xA8", kHyou932 = "\x95\x5C";
// "あ", whose UTF-8 ends in a byte that leads a character in 932.
const std::string kArchive = "\xE3\x81\x82";

struct UnicodeCase {
  const char* label;
  std::string folder;  // the destination's name
  std::string second;  // the second entry's name, after kNihongo932
  std::string listed;  // in the listing
  std::string
      failed;  // the start of extract's complaint, as list words it; "" when all are written
};

class CommandLineUnicode : public CommandLine, public ::testing::WithParamInterface<UnicodeCase> {};

TEST_P(CommandLineUnicode, NamesInTheCodePageAskedForBecomeUnicodeFilesInAFolderOfAnyName) {
  const UnicodeCase& c = GetParam();
  const std::string data = PatternBytes(2 * 2048);
  const std::string img = Utf8Path(dir_.path() / PathFromUtf8(kArchive + ".img"));
  WriteBytes(dir_.path() / PathFromUtf8(kArchive + ".dir"),
             Record(0, 1, kNihongo932) + Record(1, 1, c.second));
  WriteBytes(PathFromUtf8(img), data);
  const fs::path out = dir_.path() / PathFromUtf8(c.folder);
  fs::create_directories(out / PathFromUtf8(kHyou));  // extraction makes no folders

  const Output listed = RunProgram({"list", "--codepage", "932", img});
  EXPECT_NE(listed.out.find("     0  " + kNihongo + " "), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find(c.listed), std::string::npos) << listed.out;
  const Output run = RunProgram({"extract", "--codepage", "932", img, Utf8Path(out)});
  EXPECT_EQ(run.status, c.failed.empty() ? 0 : 1) << run.err;
  EXPECT_EQ(run.err.empty(), c.failed.empty()) << run.err;
  EXPECT_TRUE(run.err.starts_with(c.failed)) << run.err;
  EXPECT_NE(run.out.find(" into " + Utf8Path(out) + " in "), std::string::npos) << run.out;

  // The library cannot list a folder past the old path limit: it is looked at under a short name.
  fs::rename(out, dir_.path() / "seen");
  const std::string hyou = kHyou + "/" + kHyou + ".txt";
  std::set<std::string> tree = {kArchive + ".dir", kArchive + ".img", "seen/", "seen/" + kNihongo,
                                "seen/" + kHyou + "/"};
  if (c.failed.empty()) tree.insert("seen/" + hyou);
  EXPECT_EQ(ListTree(dir_.path()), tree);
  EXPECT_TRUE(ReadBytes(dir_.path() / "seen" / PathFromUtf8(kNihongo)) == data.substr(0, 2048));
  EXPECT_TRUE(ReadBytes(dir_.path() / "seen" / PathFromUtf8(hyou)) ==
              (c.failed.empty() ? data.substr(2048) : ""));
}

INSTANTIATE_TEST_SUITE_P(
    CodePage932, CommandLineUnicode,
    ::testing::Values(
        UnicodeCase{"CyrillicAndJapaneseFolder", kFolder, kHyou932 + "\\" + kHyou932 + ".txt",
                    "     1  " + kHyou + "\\" + kHyou + ".txt ", ""},
        UnicodeCase{"PastTheOldPathLimit", kFolder + std::string(220, 'x'),
                    kHyou932 + "\\" + kHyou932 + ".txt",
                    "     1  " + kHyou + "\\" + kHyou + ".txt ", ""},
        // A lead byte before a byte that ends no character.
        UnicodeCase{"NoCharacter", kFolder, "x\x81\x7F.bin",
                    "  refused: has a name that does not convert from code page 932 to ",
                    "x\\x81\\x7F.bin: has a name that does not convert from code page 932 to "}),
    [](const auto& info) { return std::string(info.param.label); });

// Columns line up on a terminal: "日本語" takes six columns, half-width "ｱ" one.
TEST_F(CommandLine, ListPadsNamesByTheColumnsTheyTake) {
  WriteArchive(Record(0, 1, "a.bin") + Record(0, 1, kNihongo932) + Record(0, 1, "\xB1.bin"),
               PatternBytes(2048));
  const std::string numbers = "            0         2048\n";
  const Output listed = RunProgram({"list", "--codepage", "932", Img()});
  EXPECT_EQ(listed.out, "     0  a.bin" + std::string(19, ' ') + numbers + "     1  " + kNihongo +
                            std::string(14, ' ') + numbers + "     2  \xEF\xBD\xB1.bin" +
                            std::string(19, ' ') + numbers);
}

TEST_F(CommandLine, PackWritesNamesInTheCodePageAskedForFromAFolderOfAnyName) {
  const fs::path in = dir_.path() / PathFromUtf8(kFolder);
  fs::create_directory(in);
  WriteBytes(in / PathFromUtf8(kHyou + ".txt"), "x");
  MakeOut();

  const Output packed = RunProgram({"pack", "--codepage", "932", Utf8Path(in), Img()});
  ASSERT_EQ(packed.status, 0);
  EXPECT_EQ(packed.out, "Packed 1 file into " + Img() + " and " + dir_ / "archive.dir" + ".\n");
  EXPECT_EQ(ReadBytes(dir_.path() / "archive.dir"), Record(0, 1, kHyou932 + ".txt"));
  EXPECT_EQ(RunProgram({"extract", "--codepage", "932", Img(), Out()}).status, 0);
  EXPECT_EQ(ReadBytes(Out() / PathFromUtf8(kHyou + ".txt")), "x" + std::string(2047, '\0'));
}

#ifdef _WIN32
// Windows takes "out." and "out " for "out": the folder checked is the one written into.
TEST_F(CommandLine, AFolderWithTrailingDotsOrSpacesIsTheOneWindowsMeans) {
  WriteArchive(Record(0, 1, "a.bin"), PatternBytes(2048));
  MakeOut();
  for (const std::string tail : {".", " ", ". .", "\\..\\out."}) {
    SCOPED_TRACE(tail);
    const Output run = RunProgram({"extract", Img(), Out() + tail});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ListTree(dir_.path()),
              (std::set<std::string>{"archive.dir", "archive.img", "out/", "out/a.bin"}));
  }
}
#endif
struct EditStep {
  std::vector<std::string> args;  // "@" stands for the test's folder
  int status;
  std::string out;  // the start of what it prints
  std::string err;
};

// Each step on the archive of the one before, as a user would type them.
TEST_F(CommandLine, EditCommandsChangeTheArchiveInPlaceAndSayWhatTheyDid) {
  WriteBytes(dir_.path() / "a.txt", "one");
  WriteBytes(dir_.path() / "b.bin", PatternBytes(3000));
  WriteBytes(dir_.path() / "c.txt", "three");
  const std::vector<EditStep> steps = {
      {{"add", "@e.img", "@a.txt", "@b.bin"}, 0, "Added 2 files to ", ""},
      {{"add", "@e.img", "@c.txt", "--as", "A.TXT"}, 0, "Added 1 file to ", ""},
      {{"remove", "@e.img", "*.BIN", "nothing*"},
       1,
       "Removed 1 entry from ",
       "nothing*: not in the archive\n"},
      {{"rename", "@e.img", "a.txt", "z.txt"}, 0, "Renamed 1 entry in ", ""},
      {{"rename", "@e.img", "gone", "y.txt"}, 1, "", "gone: not in the archive\n"},
      {{"add", "@e.img", "@a.txt", "@c.txt", "--as", "x"}, 2, "", "sectorsieve: --as names one"},
      {{"add", "@e.img", "@a.txt", "--as", "sub/a.txt"},
       2,
       "",
       "sectorsieve: \"sub/a.txt\" cannot be an entry's name: its name holds a \"/\""},
      {{"add", "@e.img", "@gone\x01.txt"}, 2, "", "sectorsieve: cannot read \""},
      {{"compact", "@e.img"}, 0, "Freed 6.0 KiB in ", ""},
  };
  for (const EditStep& step : steps) {
    std::vector<std::string> args;
    for (std::string a : step.args)
      args.push_back(a.starts_with("@") ? (dir_.path() / a.substr(1)).string() : a);
    SCOPED_TRACE(args[0]);
    const Output run = RunProgram(args);
    EXPECT_EQ(run.status, step.status) << run.err;
    EXPECT_TRUE(run.out.starts_with(step.out)) << run.out;
    EXPECT_TRUE(run.err.starts_with(step.err)) << run.err;
  }
  MakeOut();
  ASSERT_EQ(RunProgram({"extract", dir_ / "e.img", Out()}).status, 0);
  EXPECT_EQ(ListTree(Out()), (std::set<std::string>{"z.txt"}));
  EXPECT_EQ(ReadBytes(fs::path(Out()) / "z.txt"), Sectors("three"));
  EXPECT_EQ(fs::file_size(dir_.path() / "e.img"), 2048u);
}

struct OneWayCase {
  const char* label;
  unsigned codePage;
  std::string name;  // UTF-8
};

class CommandLineOneWayNames : public CommandLine,
                               public ::testing::WithParamInterface<OneWayCase> {};

// A name that would come back from the code page as another is refused: its file would be
// extracted under a name that was never packed, or over another's.
TEST_P(CommandLineOneWayNames, AreRefusedByPackAndAdd) {
  const OneWayCase& c = GetParam();
  const fs::path in = dir_.path() / "in";
  fs::create_directory(in);
  WriteBytes(in / PathFromUtf8(c.name + ".txt"), "x");
  const std::string codePage = std::to_string(c.codePage);
  const Output pack = RunProgram({"pack", "--codepage", codePage, in.string(), Img()});
  EXPECT_EQ(pack.status, 2);
  EXPECT_NE(pack.err.find("cannot hold exactly"), std::string::npos) << pack.err;
  EXPECT_FALSE(fs::exists(Img()));
  const Output add = RunProgram(
      {"add", "--codepage", codePage, Img(), Utf8Path(in / PathFromUtf8(c.name + ".txt"))});
  EXPECT_EQ(add.status, 2);
  EXPECT_NE(add.err.find("cannot hold exactly"), std::string::npos) << add.err;
  EXPECT_FALSE(fs::exists(Img()));
}

INSTANTIATE_TEST_SUITE_P(CodePages, CommandLineOneWayNames,
                         ::testing::Values(OneWayCase{"Cent932", 932, "\xC2\xA2"},
                                           OneWayCase{"Pound932", 932, "\xC2\xA3"},
                                           OneWayCase{"Not932", 932, "\xC2\xAC"},
                                           OneWayCase{"EmDash932", 932, "\xE2\x80\x94"},
                                           OneWayCase{"DoubleBar932", 932, "\xE2\x80\x96"},
                                           OneWayCase{"Overline932", 932, "\xE2\x80\xBE"},
                                           OneWayCase{"Minus932", 932, "\xE2\x88\x92"},
                                           OneWayCase{"WaveDash932", 932, "\xE3\x80\x9C"},
                                           OneWayCase{"Yen932", 932, "\xC2\xA5"},
                                           OneWayCase{"GraveToneMark1258", 1258, "a\xCD\x80"},
                                           OneWayCase{"AcuteToneMark1258", 1258, "a\xCD\x81"}),
                         [](const auto& info) { return std::string(info.param.label); });

// Names and patterns as list, extract and extract --stdout take them: one archive of five
// entries per code page, each entry one sector whose bytes tell it apart.
struct PickCase {
  const char* label;
  const char* codePage;
  std::vector<std::string> patterns;  // UTF-8, as typed
  std::vector<int> picked;            // the entries listed and extracted, in directory order
  int kept;                           // the entry --stdout writes; -1 when it writes none
  std::string complaint;              // the start of what is said on standard error
};

// 1252: "café.bin" and "CAFÉ.BIN" are one name to Windows; "Photo 1.jpg" is the file "Photo".
const std::vector<std::string> kNames1252 = {"Bee.TXT",     "a.txt",      "caf\xE9.bin",
                                             "CAF\xC9.BIN", "sub\\x.dat", "Photo 1.jpg"};
// 932: "表.txt" and "ソ.bin", whose second bytes are those of "\", and "ab.txt".
const std::vector<std::string> kNames932 = {"\x95\x5C.txt", "\x83\x5C.bin", "ab.txt"};

class CommandLinePicks : public CommandLine, public ::testing::WithParamInterface<PickCase> {};

TEST_P(CommandLinePicks, ListExtractAndStdoutTakeTheSameEntries) {
  const PickCase& c = GetParam();
  const auto& names = std::string(c.codePage) == "932" ? kNames932 : kNames1252;
  std::string dir;
  for (std::size_t i = 0; i < names.size(); ++i)
    dir += Record(static_cast<std::int32_t>(i), 1, names[i]);
  const std::string data = PatternBytes(names.size() * 2048);
  WriteArchive(dir, data);
  MakeOut();
  fs::create_directory(fs::path(Out()) / "sub");
  const int status = c.complaint.empty() ? 0 : 1;

  std::vector<std::string> args = {"list", "--codepage", c.codePage, Img()};
  args.insert(args.end(), c.patterns.begin(), c.patterns.end());
  const Output listed = RunProgram(args);
  EXPECT_EQ(listed.status, status) << listed.err;
  EXPECT_TRUE(listed.err.starts_with(c.complaint)) << listed.err;
  std::string indices;
  for (std::size_t at = 0; at < listed.out.size(); at = listed.out.find('\n', at) + 1)
    indices += listed.out.substr(at, 6) + ",";
  std::string expected;
  for (const int i : c.picked) expected += std::string(5, ' ') + std::to_string(i) + ",";
  EXPECT_EQ(indices, expected) << listed.out;

  args = {"extract", "--codepage", c.codePage, Img(), Out()};
  args.insert(args.end(), c.patterns.begin(), c.patterns.end());
  const Output extracted = RunProgram(args);
  EXPECT_EQ(extracted.status, status) << extracted.err;
  EXPECT_TRUE(extracted.err.starts_with(c.complaint)) << extracted.err;
  EXPECT_NE(extracted.out.find(" of " + std::to_string(c.picked.size()) + " entries"),
            std::string::npos)
      << extracted.out;

  if (c.patterns.size() != 1) return;
  const Output written =
      RunProgram({"extract", "--stdout", "--codepage", c.codePage, Img(), c.patterns[0]});
  EXPECT_EQ(written.status, c.kept < 0 ? 1 : 0) << written.err;
  EXPECT_TRUE(written.out == (c.kept < 0 ? "" : data.substr(c.kept * 2048, 2048)));
}

INSTANTIATE_TEST_SUITE_P(
    Names, CommandLinePicks,
    ::testing::Values(
        PickCase{"ExactName", "1252", {"a.txt"}, {1}, 1, ""},
        PickCase{"AnyCase", "1252", {"A.TXT"}, {1}, 1, ""},
        PickCase{"TrailingDot", "1252", {"a.txt."}, {1}, 1, ""},
        PickCase{"Star", "1252", {"b*"}, {0}, 0, ""},
        PickCase{"QuestionMarkIsOneCharacter", "1252", {"?.txt"}, {1}, 1, ""},
        // Both spellings are one file: the later one is what extraction leaves.
        PickCase{"AccentInAnyCase", "1252", {"CAF\xC3\x89.bin"}, {2, 3}, 3, ""},
        PickCase{"InAFolder", "1252", {"sub/*"}, {4}, 4, ""},
        PickCase{"NameEndsAtItsSpace", "1252", {"photo"}, {5}, 5, ""},
        PickCase{"SeveralNames", "1252", {"a.txt", "*.dat"}, {1, 4}, -1, ""},
        PickCase{"NoSuchName", "1252", {"none.*"}, {}, -1, "none.*: not in the archive\n"},
        PickCase{"OneOfTwoMissing", "1252", {"x", "a.txt"}, {1}, -1, "x: not in the archive\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// "?" is one character, a double-byte one too, and its trail byte 0x5C is no "\".
INSTANTIATE_TEST_SUITE_P(
    CodePage932, CommandLinePicks,
    ::testing::Values(
        PickCase{"QuestionMarkIsOneDoubleByteCharacter", "932", {"?.txt"}, {0}, 0, ""},
        PickCase{"StarAfterADoubleByteCharacter", "932", {"\xE8\xA1\xA8*"}, {0}, 0, ""},
        PickCase{"TrailByteIsNoFolder", "932", {"*\\*"}, {}, -1, "*\\*: not in the archive\n"},
        PickCase{"FullName", "932", {"\xE3\x82\xBD.BIN"}, {1}, 1, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLine, StdoutRefusesANameOfSeveralFilesAndTellsARefusedOnesReason) {
  WriteArchive(Record(0, 1, "a.bin") + Record(1, 1, "b.bin") + Record(-1, 1, "neg.bin"),
               PatternBytes(2 * 2048));
  const Output several = RunProgram({"extract", "--stdout", Img(), "*.bin"});
  EXPECT_EQ(several.status, 2);
  EXPECT_EQ(several.out, "");
  EXPECT_NE(several.err.find("names 3 files"), std::string::npos) << several.err;
  const Output refused = RunProgram({"extract", "--stdout", Img(), "neg.bin"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "neg.bin: has a negative offset\n");
}

TEST_F(CommandLine, StdoutIntoAFileGivesTheEntrysBytesExactly) {
  // Line ends, a lone CR and a Ctrl+Z: what a text stream would change.
  std::string bytes = "one\ntwo\r\nthree\rfour\x1a" + PatternBytes(3000);
  bytes.resize(2 * 2048, '\n');
  WriteArchive(Record(0, 2, "lines.txt"), bytes);
  const Output out = RunProgram({"extract", "--stdout", Img(), "lines.txt"});
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(out.outBytes.size(), bytes.size());
  EXPECT_EQ(out.outBytes, bytes);
}

// Odd names, each typed as list shows it: every command takes that name, --stdout, extract and
// check agree on the entry extraction keeps, and remove and rename act on each entry of it.
struct OddNameCase {
  const char* label;
  int listed;            // the entry whose listed name is typed
  int kept;              // the entry extraction keeps
  int sector;            // where its bytes are
  int group;             // entries of that name, as Windows compares names
  const char* replaced;  // what check says of the others, or ""
  int skipped;           // entries of the name that extraction leaves to a later one
};

// One archive of odd names; entry i's bytes are the data file's sector i, except as noted.
const std::string kOddRecords = Record(0, 1, std::string("a\0b", 3)) +  // 0: lists as "ab"
                                Record(1, 1, "x\x10y") +                // 1: lists as "xy"
                                Record(2, 1, "dup.bin") +               // 2
                                Record(3, 1, "DUP.BIN") +  // 3: the one extraction keeps
                                Record(4, 1, "twenty-four-bytes-name.b") +  // 4: fills the field
                                Record(5, 1, "ref.bin") +   // 5: kept, as the later one is refused
                                Record(-1, 1, "REF.BIN") +  // 6: refused
                                Record(6, 1, "dot.");       // 7: Windows reads it as "dot"

class CommandLineOddNames : public CommandLine, public ::testing::WithParamInterface<OddNameCase> {
 protected:
  // The name list --json gives entry index.
  std::string ListedName(int index) {
    const Output json = RunProgram({"list", "--json", Img()});
    const std::string key = "{\"index\": " + std::to_string(index) + ", \"name\": \"";
    const std::size_t at = json.out.find(key);
    if (at == std::string::npos) return "";
    const std::size_t start = at + key.size();
    return json.out.substr(start, json.out.find('"', start) - start);
  }
};

TEST_P(CommandLineOddNames, AreTakenByEveryCommandAsListShowsThem) {
  const OddNameCase& c = GetParam();
  const std::string data = PatternBytes(7 * 2048);
  const std::string kept = data.substr(c.sector * 2048, 2048);
  WriteArchive(kOddRecords, data);
  const std::string name = ListedName(c.listed);
  ASSERT_FALSE(name.empty());

  const Output out = RunProgram({"extract", "--stdout", Img(), name});
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_TRUE(out.outBytes == kept) << name;

  // A refused entry of the name is reported; the file is the kept entry's.
  MakeOut();
  const Output extracted = RunProgram({"extract", Img(), Out(), name});
  EXPECT_LE(extracted.status, 1) << extracted.err;
  const std::string file = ListedName(c.kept);
  const std::string fileName = file.substr(0, file.find_last_not_of('.') + 1);
  EXPECT_TRUE(ReadBytes(fs::path(Out()) / fileName) == kept);
  // One file, named as the kept entry, whether the system tells names by case or not.
  std::vector<std::string> files;
  for (const auto& item : fs::directory_iterator(Out()))
    files.push_back(item.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{fileName});
  EXPECT_EQ(extracted.out.find(std::to_string(c.skipped) +
                               " replaced by a later entry of the same name.") != std::string::npos,
            c.skipped > 0)
      << extracted.out;

  const Output check = RunProgram({"check", Img()});
  if (*c.replaced) {
    EXPECT_NE(check.out.find(c.replaced), std::string::npos) << check.out;
  }

  const Output renamed = RunProgram({"rename", Img(), name, "new.bin"});
  EXPECT_EQ(renamed.status, 0) << renamed.err;
  EXPECT_EQ(renamed.out, "Renamed " + std::to_string(c.group) +
                             (c.group == 1 ? " entry" : " entries") + " in " + Img() + ".\n");
  EXPECT_TRUE(RunProgram({"extract", "--stdout", Img(), "new.bin"}).outBytes == kept);

  const Output removed = RunProgram({"remove", Img(), "new.bin"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.out, "Removed " + std::to_string(c.group) +
                             (c.group == 1 ? " entry" : " entries") + " from " + Img() + ".\n");
  EXPECT_EQ(RunProgram({"list", "--json", Img()}).out.find("new.bin"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Records, CommandLineOddNames,
    ::testing::Values(OddNameCase{"NulInside", 0, 0, 0, 1, "", 0},
                      OddNameCase{"DleInside", 1, 1, 1, 1, "", 0},
                      OddNameCase{"CasePairTheLaterKept", 2, 3, 3, 2,
                                  "entry 2 (dup.bin) is replaced by entry 3 (DUP.BIN)", 1},
                      OddNameCase{"CasePairTypedAsTheLater", 3, 3, 3, 2, "", 1},
                      OddNameCase{"TwentyFourBytes", 4, 4, 4, 1, "", 0},
                      OddNameCase{"LaterOneRefused", 5, 5, 5, 2,
                                  "entry 6 (REF.BIN) would not be extracted", 0},
                      OddNameCase{"TrailingDot", 7, 7, 6, 1, "", 0}),
    [](const auto& info) { return std::string(info.param.label); });

// A directory that ends in part of a record is changed only when the user says so.
TEST_F(CommandLine, EditsDropAPartialRecordOnlyWithForce) {
  WriteArchive(Record(0, 1, "a.bin") + "tail", PatternBytes(2048));
  const Output refused = RunProgram({"remove", Img(), "a.bin"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("ends in 4 bytes that are no whole record"), std::string::npos)
      << refused.err;
  EXPECT_EQ(ReadBytes(dir_ / "archive.dir"), Record(0, 1, "a.bin") + "tail");
  const Output forced = RunProgram({"remove", "--force", Img(), "a.bin"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(ReadBytes(dir_ / "archive.dir"), "");
}

struct CheckCase {
  const char* label;
  std::string records;
  std::size_t sectors;  // of the data file
  std::string told;     // every line check prints
  int status;
};

class CommandLineChecks : public CommandLine, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CommandLineChecks, TellWhatExtractionWouldMakeOfTheArchive) {
  const CheckCase& c = GetParam();
  WriteArchive(c.records, PatternBytes(c.sectors * 2048));
  const Output run = RunProgram({"check", Img()});
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_EQ(run.out, c.told);
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Archives, CommandLineChecks,
    ::testing::Values(
        CheckCase{"Sound", Record(0, 1, "a") + Record(1, 1, "b"), 2,
                  "2 entries, 0 would not be extracted, 0 overlap, 0 replaced; 0.0% of the data "
                  "file (0 bytes of 4.0 KiB) belongs to no entry\n",
                  0},
        CheckCase{"OverlapAndGap", Record(0, 2, "a") + Record(1, 1, "b") + Record(3, 1, "c"), 4,
                  "entry 1 (b) overlaps entry 0 (a)\n"
                  "3 entries, 0 would not be extracted, 1 overlap, 0 replaced; 25.0% of the data "
                  "file (2.0 KiB of 8.0 KiB) belongs to no entry\n",
                  0},
        CheckCase{"SameNameAsWindowsReadsIt",
                  Record(0, 1, "x.bin") + Record(1, 1, "X.BIN") + Record(-1, 1, "x.Bin"), 2,
                  "entry 2 (x.Bin) would not be extracted: it has a negative offset\n"
                  "entry 0 (x.bin) is replaced by entry 1 (X.BIN), of the same name\n"
                  "3 entries, 1 would not be extracted, 0 overlap, 1 replaced; 0.0% of the data "
                  "file (0 bytes of 4.0 KiB) belongs to no entry\n",
                  1},
        // Its bytes within the data file are no entry's: compact does not keep them.
        CheckCase{"BeyondTheEndUsesNothing", Record(1, 4, "long") + Record(0, 1, "e"), 3,
                  "entry 0 (long) would not be extracted: it lies beyond the end of the archive\n"
                  "2 entries, 1 would not be extracted, 0 overlap, 0 replaced; 66.7% of the data "
                  "file (4.0 KiB of 6.0 KiB) belongs to no entry\n",
                  1},
        // Extraction makes no folders: into a new folder, these fail as extract says.
        CheckCase{
            "AFolderExtractionDoesNotMake", Record(0, 1, "sub\\deeper\\x.txt") + Record(1, 1, "a"),
            2,
            "entry 0 (sub\\deeper\\x.txt) would not be extracted into a new folder: it needs the "
            "folder \"sub\\deeper\", which extraction does not make\n"
            "2 entries, 0 would not be extracted, 0 overlap, 0 replaced, 1 need a folder; 0.0% of "
            "the data file (0 bytes of 4.0 KiB) belongs to no entry\n",
            1}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLine, CheckAsJson) {
  WriteArchive(Record(0, 2, "a") + Record(1, 1, "b") + Record(0, 1, "A") + Record(0, -1, "n"),
               PatternBytes(3 * 2048));
  const Output run = RunProgram({"check", "--json", Img()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "{\"entries\": 4, \"refused\": [{\"index\": 3, \"name\": \"n\", \"refusal\": \"has a "
            "negative size\"}], \"overlaps\": [{\"index\": 1, \"other\": 0}, {\"index\": 2, "
            "\"other\": 0}], \"replaced\": [{\"index\": 0, \"by\": 2}], \"needFolders\": [], "
            "\"dataBytes\": 6144, \"unusedBytes\": 2048, \"trailingBytes\": 0}\n");
}

// As the packages name it ("1.0"), not as the version record writes it ("1.00").
TEST_F(CommandLine, VersionIsThePackagesVersion) {
  const Output run = RunProgram({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("sectorsieve ") + std::to_string(SECTORSIEVE_VERSION_MAJOR) + "." +
                         std::to_string(SECTORSIEVE_VERSION_MINOR) + "\n");
}

}  // namespace
}  // namespace sectorsieve::testing
