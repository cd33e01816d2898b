// The command line on Linux: on a terminal, under Ctrl+C, and with names in other code pages.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "archive_writer.h"
#include "program.h"
#include "test_support.h"
#include "unix_link.h"

namespace sectorsieve::testing {
namespace {

class CommandLinePosix : public ::testing::Test {
 protected:
  std::string Img() const { return dir_ / "archive.img"; }
  fs::path Out() const { return dir_.path() / "out"; }

  // count entries of one sector each, named e0.bin, e1.bin, ...
  void WriteEntries(int count) const {
    imgpack::ArchiveWriter writer(dir_.path() / "archive");
    for (int i = 0; i < count; ++i)
      writer.Append("e" + std::to_string(i) + ".bin", PatternBytes(2048, static_cast<unsigned>(i)));
    writer.Close();
    fs::create_directory(Out());
  }

  TempDir dir_;
};

// In a child process: becomes the program, run on args.
[[noreturn]] void ExecProgram(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {SECTORSIEVE_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  ::execv(SECTORSIEVE_CLI, pointers.data());
  ::_exit(127);
}

// Runs the program on a pseudo-terminal of width columns; returns its exit status and all it
// wrote there.
std::pair<int, std::string> RunOnTerminal(const std::vector<std::string>& args, int width = 80) {
  int terminal = -1;
  winsize size{};
  size.ws_col = static_cast<unsigned short>(width);
  size.ws_row = 24;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
  if (pid == 0) ExecProgram(args);
  std::string seen;
  char buffer[4096];
  // The terminal reads as failed once the program has gone and its output is drained.
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
  ::close(terminal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, seen};
}

TEST_F(CommandLinePosix, ProgressLineOnlyOnATerminal) {
  WriteEntries(3);

  const auto [status, seen] = RunOnTerminal({"extract", Img(), Out().string()}, 60);
  EXPECT_EQ(status, 0);
  // The last drawing: all the bytes, a full bar, every entry and a rate, within the width.
  const std::size_t last = seen.rfind("100% [");
  ASSERT_NE(last, std::string::npos) << seen;
  const std::string line = seen.substr(last, seen.find('\r', last) - last);
  EXPECT_EQ(line.size(), 59u) << line;
  EXPECT_NE(line.find("[#####"), std::string::npos) << line;
  EXPECT_NE(line.find("] 3/3 entries  "), std::string::npos) << line;
  EXPECT_TRUE(line.ends_with("/s")) << line;

  // --quiet prints nothing but errors; --verbose names the entries instead of a progress line.
  const auto [quietStatus, quietSeen] =
      RunOnTerminal({"extract", "--quiet", Img(), (dir_.path() / "out").string()});
  EXPECT_EQ(quietStatus, 0);
  EXPECT_EQ(quietSeen, "");
  const auto [verboseStatus, verboseSeen] =
      RunOnTerminal({"extract", "--verbose", Img(), (dir_.path() / "out").string()});
  EXPECT_EQ(verboseStatus, 0);
  EXPECT_EQ(verboseSeen.find('%'), std::string::npos) << verboseSeen;
  EXPECT_TRUE(verboseSeen.starts_with("e0.bin\r\ne1.bin\r\ne2.bin\r\nExtracted 3 of 3 entries"))
      << verboseSeen;

  const Output piped = RunProgram({"extract", Img(), Out().string()});
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(piped.out.find('\r'), std::string::npos);
}

// Starts the program on args with standard output on the file out, or closed when out is
// null. Standard error stays the test's own.
pid_t StartProgram(const std::vector<std::string>& args, const char* out = "/dev/null") {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (out)
      ::dup2(::open(out, O_WRONLY), 1);
    else
      ::close(1);
    ExecProgram(args);
  }
  return pid;
}

// The exit status of a program StartProgram started, once it ends; -1 if a signal ended it.
int ExitOf(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whole files named e<i>.bin, each with its entry's bytes, and nothing else but, where a
// process was killed, what it may have left under its temporary names.
void ExpectOnlyWholeFiles(const fs::path& out, std::size_t fewerThan, pid_t killed = 0) {
  const std::set<std::string> written = ListTree(out);
  EXPECT_LT(written.size(), fewerThan);
  const std::string leftover = ".sectorsieve-p" + std::to_string(killed) + "-";
  for (const std::string& name : written) {
    if (killed && name.starts_with(leftover)) continue;
    ASSERT_TRUE(name.starts_with("e") && name.ends_with(".bin")) << "left behind: " << name;
    const auto i = static_cast<unsigned>(std::stoul(name.substr(1)));
    EXPECT_EQ(ReadBytes(out / name), PatternBytes(2048, i)) << name;
  }
}

class CommandLineSignals : public CommandLinePosix, public ::testing::WithParamInterface<int> {};

TEST_P(CommandLineSignals, APoliteStopEndsAfterTheEntryInHandLeavingOnlyWholeFiles) {
  constexpr int kEntries = 20000;
  WriteEntries(kEntries);
  const pid_t pid = StartProgram({"extract", Img(), Out().string()});
  // Stopped once the run has written something, long before it could be done.
  int status = 0;
  pid_t ended = 0;
  while (fs::is_empty(Out()) && (ended = ::waitpid(pid, &status, WNOHANG)) == 0)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  ASSERT_EQ(ended, 0) << "the program ended before it wrote anything";
  ::kill(pid, GetParam());

  EXPECT_EQ(ExitOf(pid), 128 + GetParam());
  ExpectOnlyWholeFiles(Out(), kEntries);
}

INSTANTIATE_TEST_SUITE_P(Stops, CommandLineSignals, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(::sigabbrev_np(info.param)); });

TEST_F(CommandLinePosix, AKilledRunLeavesNothingThatLastsAndConcurrentRunsAgree) {
  constexpr int kEntries = 5000;
  WriteEntries(kEntries);
  const pid_t killed = StartProgram({"extract", Img(), Out().string()});
  while (fs::is_empty(Out())) std::this_thread::sleep_for(std::chrono::microseconds(200));
  ::kill(killed, SIGKILL);
  ExitOf(killed);
  ExpectOnlyWholeFiles(Out(), kEntries + 1, killed);
  // Leftovers of a process that is gone go; those of one that runs stay.
  const std::string tag = "-0123456789abcdef-0.tmp";
  const std::string gone = ".sectorsieve-p" + std::to_string(killed) + tag;
  const std::string running = ".sectorsieve-p" + std::to_string(::getpid()) + tag;
  WriteBytes(Out() / gone, "partial");
  WriteBytes(Out() / running, "partial");

  // Two runs at once into the same folder.
  const pid_t first = StartProgram({"extract", Img(), Out().string()});
  const pid_t second = StartProgram({"extract", Img(), Out().string()});
  EXPECT_EQ(ExitOf(first), 0);
  EXPECT_EQ(ExitOf(second), 0);

  EXPECT_FALSE(fs::exists(Out() / gone));
  ASSERT_TRUE(fs::exists(Out() / running));
  fs::remove(Out() / running);
  ExpectOnlyWholeFiles(Out(), kEntries + 1);
  EXPECT_EQ(ListTree(Out()).size(), static_cast<std::size_t>(kEntries));
}

// Every file extract gives of the archive at img, by name; what the extraction said when it
// failed.
std::map<std::string, std::string> Extracted(const std::string& img, const fs::path& out) {
  fs::remove_all(out);
  fs::create_directory(out);
  const Output run = RunProgram({"extract", img, out.string()});
  if (run.status != 0) return {{"failed", run.err}};
  std::map<std::string, std::string> files;
  for (const std::string& name : ListTree(out)) files[name] = ReadBytes(out / name);
  return files;
}

struct KilledChange {
  const char* label;
  std::vector<std::string> args;  // "@" stands for the test's folder
};

class CommandLineKilled : public CommandLinePosix,
                          public ::testing::WithParamInterface<KilledChange> {
 protected:
  // An archive of four files with one removed, and a folder of new files for pack and add.
  void Stage() const {
    for (const std::string name : {"archive.img", "archive.dir", "out"})
      fs::remove_all(dir_.path() / name);
    fs::create_directories(dir_.path() / "in");
    for (int i = 0; i < 4; ++i)
      WriteBytes(dir_.path() / "in" / ("f" + std::to_string(i)),
                 PatternBytes(std::size_t{300} << 10, static_cast<unsigned>(i)));
    ASSERT_EQ(RunProgram({"pack", (dir_.path() / "in").string(), Img()}).status, 0);
    ASSERT_EQ(RunProgram({"remove", Img(), "f1"}).status, 0);
    for (int i = 0; i < 4; ++i)
      WriteBytes(dir_.path() / "in" / ("f" + std::to_string(i)),
                 PatternBytes(std::size_t{400} << 10, static_cast<unsigned>(i + 7)));
  }
  std::vector<std::string> Args() const {
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args)
      args.push_back(a.starts_with("@") ? (dir_.path() / a.substr(1)).string() : a);
    return args;
  }
};

// SIGKILL at random moments of a real process: the archive reads as before or after, and the
// next command on it leaves no temporary file.
TEST_P(CommandLineKilled, LeavesTheArchiveWholeAndNothingPastTheNextCommand) {
  Stage();
  const auto before = Extracted(Img(), Out());
  ASSERT_EQ(RunProgram(Args()).status, 0);
  const auto after = Extracted(Img(), Out());
  ASSERT_EQ(after.count("failed"), 0u);
  std::mt19937 random(27);
  for (int round = 0; round < 8; ++round) {
    Stage();
    const pid_t killed = StartProgram(Args());
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
    ::kill(killed, SIGKILL);
    ExitOf(killed);
    const auto now = Extracted(Img(), Out());
    EXPECT_TRUE(now == before || now == after) << "round " << round;
    for (const std::string& name : ListTree(dir_.path()))
      EXPECT_EQ(name.find(".sectorsieve"), std::string::npos) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, CommandLineKilled,
    ::testing::Values(KilledChange{"Pack", {"pack", "--force", "@in", "@archive.img"}},
                      KilledChange{"Add", {"add", "@archive.img", "@in/f0", "@in/f2", "@in/f3"}},
                      KilledChange{"Compact", {"compact", "@archive.img"}}),
    [](const auto& info) { return std::string(info.param.label); });

// Starts a process that runs the program on each of commands in turn, and ends with status 0
// when every one did.
pid_t StartSeries(const std::vector<std::vector<std::string>>& commands) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& args : commands)
      if (ExitOf(StartProgram(args)) != 0) ::_exit(1);
    ::_exit(0);
  }
  return pid;
}

// Processes that change one archive at once, with readers beside them: every change is in the
// archive at the end, each entry with its own bytes, and nothing of the program's is left.
TEST_F(CommandLinePosix, ChangesAtOnceComeOneAfterAnotherAndReadersBesideThemLoseNone) {
  fs::create_directories(dir_.path() / "in");
  WriteBytes(dir_.path() / "in" / "base", PatternBytes(70000, 99));
  ASSERT_EQ(RunProgram({"pack", (dir_.path() / "in").string(), Img()}).status, 0);
  std::map<std::string, std::string> expected{{"base", PatternBytes(70000, 99)}};
  std::vector<std::vector<std::vector<std::string>>> series;
  for (unsigned writer = 0; writer < 3; ++writer) {
    series.emplace_back();
    for (unsigned i = 0; i < 8; ++i) {
      const std::string name = "w" + std::to_string(writer) + "-" + std::to_string(i);
      expected[name] = PatternBytes(50000 + 3000 * i, writer * 100 + i);
      WriteBytes(dir_.path() / name, expected[name]);
      series.back().push_back({"add", Img(), (dir_.path() / name).string()});
      if (i % 3 == 2) series.back().push_back({"compact", Img()});
    }
  }
  series.emplace_back(40, std::vector<std::string>{"list", Img()});
  std::vector<pid_t> running;
  for (const auto& commands : series) running.push_back(StartSeries(commands));
  for (const pid_t pid : running) EXPECT_EQ(ExitOf(pid), 0);

  const auto extracted = Extracted(Img(), Out());
  EXPECT_EQ(extracted.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    const auto found = extracted.find(name);
    // Extraction gives whole sectors.
    EXPECT_TRUE(found != extracted.end() &&
                found->second == bytes + std::string((2048 - bytes.size() % 2048) % 2048, '\0'))
        << name;
  }
  for (const std::string& name : ListTree(dir_.path()))
    EXPECT_EQ(name.find(".sectorsieve"), std::string::npos) << name;
}

TEST_F(CommandLinePosix, OnlyPlainFilesAreArchives) {
  WriteEntries(1);
  fs::remove(dir_.path() / "archive.dir");
  ASSERT_EQ(::mkfifo((dir_.path() / "archive.dir").c_str(), 0644), 0);
  fs::create_directory(dir_.path() / "z");
  fs::copy(Img(), dir_.path() / "z" / "zero.img");
  MakeUnixLink("/dev/zero", dir_.path() / "z" / "zero.dir");
  fs::create_directory(dir_.path() / "folder.dir");
  fs::copy(Img(), dir_.path() / "folder.img");
  const struct {
    std::string img, said;
  } cases[] = {{Img(), "\" could not be read: it is not a plain file"},
               {dir_.path() / "z" / "zero.img", "\" could not be read: it is not a plain file"},
               {dir_ / "folder.img", "\" could not be read: it is a folder, not a file"}};
  for (const auto& c : cases) {
    for (const std::string verb : {"list", "extract"}) {
      const Output run = verb == "list" ? RunProgram({"list", c.img})
                                        : RunProgram({"extract", c.img, Out().string()});
      EXPECT_EQ(run.status, 2) << verb << " " << c.img;
      EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    }
  }
  EXPECT_TRUE(fs::is_empty(Out()));
}

TEST_F(CommandLinePosix, NamesAreShownWithTheirControlCharactersEscaped) {
  WriteBytes(dir_.path() / "archive.dir", Record(0, 1, "a\nb.txt: forged") +
                                              Record(0, 1, "\x1b]0;t\x07x") +
                                              Record(0, 1,
                                                     "c\xC2\x9B"
                                                     "2J"));
  WriteBytes(Img(), PatternBytes(2048));
  fs::create_directory(Out());

  const Output listed = RunProgram({"list", "--codepage", "1252", Img()});
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 3) << listed.out;
  EXPECT_NE(listed.out.find("a\\x0ab.txt:"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("\\x1b]0;t\\x07x"), std::string::npos) << listed.out;
  const Output run = RunProgram({"extract", Img(), Out().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("a\\x0ab.txt: forged: has a name"), std::string::npos) << run.err;
  const Output json = RunProgram({"list", "--json", Img()});
  EXPECT_NE(json.out.find("\"bytes\": \"1b5d303b740778\""), std::string::npos) << json.out;
}

// The summaries on standard output show paths as standard error does.
TEST_F(CommandLinePosix, PathsInTheSummariesAreShownWithTheirControlCharactersEscaped) {
  const fs::path in = dir_.path() / "in\x1b[2J";
  fs::create_directory(in);
  WriteBytes(in / "a.bin", "a");
  const std::string img = dir_ / "p\x1b]0;t\x07.img";

  const Output packed = RunProgram({"pack", in.string(), img});
  EXPECT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.out, "Packed 1 file into " + dir_ / "p\\x1b]0;t\\x07.img and " +
                            dir_ / "p\\x1b]0;t\\x07.dir.\n");
  const Output run = RunProgram({"extract", img, in.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(
      run.out.starts_with("Extracted 1 of 1 entries (2.0 KiB) into " + dir_ / "in\\x1b[2J in "))
      << run.out;
}

struct BrokenPipeCase {
  const char* label;
  bool ignored;  // whether the program starts with SIGPIPE ignored, as some shells leave it
  int status;    // -1: ended by SIGPIPE
};

class CommandLineBrokenPipe : public CommandLinePosix,
                              public ::testing::WithParamInterface<BrokenPipeCase> {};

// "list | head -1": like other Unix tools the program ends by SIGPIPE, quietly; where SIGPIPE
// is ignored, it is output that could not be written.
TEST_P(CommandLineBrokenPipe, ListIntoAPipeThatClosed) {
  WriteEntries(2);
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ::close(pipe[0]);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe[1], 1);
    if (GetParam().ignored) ::signal(SIGPIPE, SIG_IGN);
    ExecProgram({"list", Img()});
  }
  ::close(pipe[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (GetParam().status < 0) {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == GetParam().status) << status;
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, CommandLineBrokenPipe,
                         ::testing::Values(BrokenPipeCase{"Default", false, -1},
                                           BrokenPipeCase{"Ignored", true, 2}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLinePosix, OutputThatIsLostIsAFailure) {
  WriteEntries(2);
  for (const char* out : {"/dev/full", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(ExitOf(StartProgram({"list", Img()}, out)), 2) << (out ? out : "closed");
    EXPECT_EQ(ExitOf(StartProgram({"list", "--json", Img()}, out)), 2) << (out ? out : "closed");
  }
}

// A file system of 256 KiB, mounted for as long as it lives; fails the test without root.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(fs::path at) : at_(std::move(at)) {
    fs::create_directory(at_);
    mounted_ = ::mount("sectorsieve-test", at_.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount(at_.c_str());
  }
  bool Mounted() const { return mounted_; }

 private:
  fs::path at_;
  bool mounted_ = false;
};

TEST_F(CommandLinePosix, AFailingOrInterruptedPackLeavesTheOldPairByteForByte) {
  const fs::path small = dir_.path() / "small";
  SmallFileSystem mounted(small);
  if (!mounted.Mounted()) GTEST_SKIP() << "mounting a small file system needs root";
  const fs::path in = dir_.path() / "in";
  fs::create_directory(in);
  WriteBytes(in / "a.txt", "old");
  const std::string img = (small / "arch.img").string();
  ASSERT_EQ(RunProgram({"pack", in.string(), img}).status, 0);
  const std::string oldImg = ReadBytes(img);
  const std::string oldDir = ReadBytes(small / "arch.dir");
  const auto expectOldPair = [&] {
    EXPECT_EQ(ReadBytes(img), oldImg);
    EXPECT_EQ(ReadBytes(small / "arch.dir"), oldDir);
    EXPECT_EQ(ListTree(small), (std::set<std::string>{"arch.img", "arch.dir"}));
  };

  WriteBytes(in / "big.bin", PatternBytes(1 << 20));
  const Output full = RunProgram({"pack", "--force", in.string(), img});
  EXPECT_EQ(full.status, 2);
  EXPECT_NE(full.err.find("cannot write"), std::string::npos) << full.err;
  expectOldPair();

  // Many small files, packed long enough to be interrupted on the way, where there is room.
  fs::remove(in / "big.bin");
  for (int i = 0; i < 5000; ++i) WriteBytes(in / ("f" + std::to_string(i)), "x");
  const fs::path roomy = dir_.path() / "roomy";
  fs::create_directory(roomy);
  fs::copy(img, roomy / "arch.img");
  fs::copy(small / "arch.dir", roomy / "arch.dir");
  const pid_t pid = StartProgram({"pack", "--force", in.string(), (roomy / "arch.img").string()});
  while (ListTree(roomy).size() < 3) std::this_thread::sleep_for(std::chrono::microseconds(100));
  ::kill(pid, SIGINT);
  EXPECT_EQ(ExitOf(pid), 130);
  EXPECT_EQ(ReadBytes(roomy / "arch.img"), oldImg);
  EXPECT_EQ(ReadBytes(roomy / "arch.dir"), oldDir);
  EXPECT_EQ(ListTree(roomy), (std::set<std::string>{"arch.img", "arch.dir"}));
}

struct CodePageCase {
  const char* label;
  std::string codePage;
  std::string entryName;  // bytes in the code page
  std::string fileName;   // UTF-8, or "" when the name must not convert
};

class CommandLineCodePages : public CommandLinePosix,
                             public ::testing::WithParamInterface<CodePageCase> {};

TEST_P(CommandLineCodePages, NamesBecomeUtf8FileNames) {
  const CodePageCase& c = GetParam();
  WriteBytes(dir_.path() / "archive.dir", Record(0, 1, "plain.bin") + Record(0, 1, c.entryName));
  WriteBytes(Img(), PatternBytes(2048));
  fs::create_directory(Out());

  const Output listed = RunProgram({"list", "--json", "--codepage", c.codePage, Img()});
  const Output run = RunProgram({"extract", "--codepage", c.codePage, Img(), Out().string()});

  if (!c.fileName.empty()) {
    EXPECT_NE(listed.out.find("\"name\": \"" + c.fileName + "\""), std::string::npos) << listed.out;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ListTree(Out()), (std::set<std::string>{"plain.bin", c.fileName}));
  } else {
    const std::string why =
        "has a name that does not convert from code page " + c.codePage + " to UTF-8";
    EXPECT_NE(listed.out.find("\"refusal\": \"" + why + "\""), std::string::npos) << listed.out;
    const Output checked = RunProgram({"check", "--codepage", c.codePage, Img()});
    EXPECT_NE(checked.out.find("would not be extracted: it " + why), std::string::npos)
        << checked.out;
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
    EXPECT_EQ(ListTree(Out()), std::set<std::string>{"plain.bin"});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, CommandLineCodePages,
    ::testing::Values(CodePageCase{"Accent1252", "1252", "caf\xE9.txt", "caf\xC3\xA9.txt"},
                      // The second byte of "表" is that of "\": it must not split the name.
                      CodePageCase{"TrailBackslash932", "932", "\x95\x5C.txt", "\xE8\xA1\xA8.txt"},
                      CodePageCase{"Undefined1252", "1252", "bad\x81.bin", ""},
                      CodePageCase{"BadTrail932", "932", "x\x81\x7F", ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLinePosix, OnlyTheWindowsAnsiCodePagesAreTaken) {
  WriteEntries(1);
  // EBCDIC's 500, 37 and 1047 read "K" as "." and "a" as "/".
  for (const char* page : {"77", "500", "37", "1047", "65001", "1249", "1259"}) {
    const Output run = RunProgram({"extract", "--codepage", page, Img(), Out().string()});
    EXPECT_EQ(run.status, 2) << page;
    EXPECT_NE(run.err.find(std::string("code page ") + page +
                           " is not one this program knows; use one of 874, 932, 936, 949, "
                           "950 and 1250 to 1258"),
              std::string::npos)
        << run.err;
  }
  EXPECT_TRUE(fs::is_empty(Out()));
  for (const char* page : {"874", "936", "949", "950", "1250", "1258"})
    EXPECT_EQ(RunProgram({"list", "--codepage", page, Img()}).status, 0) << page;
}

TEST_F(CommandLinePosix, PathsAreLinuxPathsAndAnEmptyOneIsNoPath) {
  WriteEntries(2);
  // A "\" is a character of a Linux name, not a separator.
  fs::create_directory(dir_.path() / "x\\y");
  fs::copy(Img(), dir_ / "p\\q.img");
  fs::copy(dir_ / "archive.dir", dir_ / "p\\q.dir");
  EXPECT_EQ(RunProgram({"extract", dir_ / "p\\q.img", dir_ / "x\\y"}).status, 0);
  EXPECT_EQ(ListTree(dir_.path() / "x\\y"), (std::set<std::string>{"e0.bin", "e1.bin"}));
  EXPECT_FALSE(fs::exists(dir_.path() / "x"));

  const struct {
    std::vector<std::string> args;
    std::string said;
  } refused[] = {
      {{"extract", Img(), ""}, "FOLDER is empty"},
      {{"extract", "", Out().string()}, "ARCHIVE is empty"},
      {{"list", ""}, "ARCHIVE is empty"},
      {{"pack", "", Img()}, "FOLDER is empty"},
      {{"extract", Img(), dir_ / "archive.dir"}, "is not a folder that can be opened: Not a"},
      {{"extract", Img(), dir_ / std::string(5000, 'x')}, ": File name too long"},
  };
  for (const auto& r : refused) {
    const Output run = RunProgram(r.args);
    EXPECT_EQ(run.status, 2) << r.said;
    EXPECT_NE(run.err.find(r.said), std::string::npos) << run.err;
  }
  EXPECT_TRUE(fs::is_empty(Out()));
}

TEST_F(CommandLinePosix, NoEntryIsWrittenThroughALinkInTheFolder) {
  fs::create_directories(Out() / "sub");
  fs::create_directory(dir_.path() / "away");
  MakeUnixLink(dir_.path() / "away", Out() / "lnk");
  WriteBytes(dir_.path() / "archive.dir",
             Record(0, 1, "lnk\\evil.txt") + Record(0, 1, "sub/ok.txt"));
  WriteBytes(Img(), PatternBytes(2048));

  const Output run = RunProgram({"extract", Img(), Out().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("lnk\\evil.txt: is not written through \"" + (Out() / "lnk").string() +
                         "\", which is a link"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::is_symlink(Out() / "lnk"));
  EXPECT_EQ(ListTree(Out() / "sub"), std::set<std::string>{"ok.txt"});
  EXPECT_TRUE(fs::is_empty(dir_.path() / "away"));
}

// The archive's folder reached through a link is still the archive's: its files stay. A link
// at an entry's name is what the entry replaces, even where it leads to the archive.
TEST_F(CommandLinePosix, TheArchiveStaysWhateverLinksLeadToIt) {
  const std::string data = PatternBytes(2 * 2048);
  const std::string records = Record(0, 1, "archive.img") + Record(1, 1, "to-img");
  WriteBytes(dir_.path() / "archive.dir", records);
  WriteBytes(Img(), data);
  MakeUnixLink(dir_.path(), Out());
  MakeUnixLink(Img(), dir_.path() / "to-img");

  const Output run = RunProgram({"extract", Img(), Out().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "archive.img: would replace the archive being read\n");
  EXPECT_FALSE(fs::is_symlink(dir_.path() / "to-img"));
  EXPECT_EQ(ReadBytes(dir_.path() / "to-img"), data.substr(2048));
  EXPECT_TRUE(ReadBytes(Img()) == data) << "the data file changed";
  EXPECT_TRUE(ReadBytes(dir_.path() / "archive.dir") == records) << "the directory file changed";
}

TEST_F(CommandLinePosix, ARunStaysInTheFolderItOpenedWhenItsPathIsSwappedForALink) {
  constexpr int kEntries = 20000;
  WriteEntries(kEntries);
  fs::create_directory(dir_.path() / "away");
  const pid_t pid = StartProgram({"extract", Img(), Out().string()});
  while (fs::is_empty(Out())) std::this_thread::sleep_for(std::chrono::microseconds(200));
  fs::rename(Out(), dir_.path() / "moved");
  MakeUnixLink(dir_.path() / "away", Out());

  EXPECT_EQ(ExitOf(pid), 0);
  EXPECT_TRUE(fs::is_empty(dir_.path() / "away"));
  EXPECT_EQ(ListTree(dir_.path() / "moved").size(), static_cast<std::size_t>(kEntries));
}

TEST_F(CommandLinePosix, TheLargestSparseEntryTakesLittleRoomAndKeepsItsBytes) {
  // 4 TiB, the most a record can claim, with a pattern sector every 512 GiB.
  constexpr std::int32_t kSectors = 0x7FFFFFFF;
  constexpr std::size_t kEvery = std::size_t{1} << 28;
  WriteBytes(dir_.path() / "archive.dir", Record(0, kSectors, "huge.bin"));
  WriteSparseData(Img(), kSectors, kEvery);
  struct stat img {};
  ASSERT_EQ(::stat(Img().c_str(), &img), 0);
  if (img.st_size != std::int64_t{kSectors} * 2048)
    GTEST_SKIP() << "no room for a sparse 4 TiB file";
  fs::create_directory(Out());

  const Output run = RunProgram({"extract", Img(), Out().string()});
  EXPECT_EQ(run.status, 0) << run.err;
  const fs::path huge = Out() / "huge.bin";
  struct stat written {};
  ASSERT_EQ(::stat(huge.c_str(), &written), 0);
  EXPECT_EQ(written.st_size, img.st_size);
  EXPECT_LT(written.st_blocks * 512, 1 << 20);
  std::ifstream in(huge, std::ios::binary);
  for (std::size_t s :
       {std::size_t{0}, kEvery, 7 * kEvery, std::size_t{kSectors} - 1, std::size_t{kSectors} - 2}) {
    std::string sector(2048, '\0');
    in.seekg(static_cast<std::streamoff>(s * 2048));
    in.read(sector.data(), 2048);
    EXPECT_TRUE(sector == (s % kEvery == 0 || s + 1 == kSectors
                               ? PatternBytes(2048, static_cast<unsigned>(s))
                               : std::string(2048, '\0')))
        << "sector " << s;
  }
}

}  // namespace
}  // namespace sectorsieve::testing
