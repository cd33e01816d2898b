// Times a whole extraction (LoadDirectory, then an ExtractionRun as the window makes it) against
// `cp -r` of the same tree, round by round in one run, and the peak memory of the extraction.
// W1 and W2 also time the tools people would use instead (GNU tar, bsdtar and unzip, each from
// an archive of its own) and the floor: a program that only creates each file and has the
// kernel copy its bytes. W2cli times W2 through the command line program, a whole process as
// a user starts it, and W2cli1 the same with every side pinned to one processor.
// W4 races finishing files on a pool of 8 against finishing them in series, where closing a
// file costs time. W5 times the Windows console program under Wine against the Win32 floor.
// C5 measures how long the contents window stops answering at a million entries, under Wine.
//
// E1 to E3 time the command line's changes of an archive in place (edit_rows.cpp), C1 to C4
// the contents window's list (contents_bench.cpp).
//
//   sectorsieve_bench [--workload W1|W2|W2cli|W2cli1|W3|W4|W5|D1|E4|C|C5|E|all]... [--pairs N]
//                     [--finishers N] [--dir PATH] [--windows WIN64-BUILD]

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "archive_writer.h"
#include "contents_bench.h"
#include "edit_rows.h"
#include "extraction_run.h"
#include "modArchive.h"
#include "picking_bench.h"
#include "unique_handle.h"

namespace {

namespace fs = std::filesystem;
using sectorsieve::scope_exit;

constexpr std::int64_t KiB = 1024;
constexpr std::int64_t MiB = 1024 * KiB;
constexpr std::int64_t GiB = 1024 * MiB;
// Against `cp -r` of the same tree: W1's large files leave the run little of its own to pay,
// W2's small ones a rename each; W2cli adds a whole process.
// W5 against the floor of Windows' own file functions.
double TimeTarget(const std::string& workload) {
  return workload == "W1" ? 0.70 : workload == "W2" ? 0.85 : workload == "W5" ? 1.20 : 1.00;
}
// Against the floor, on two processors and on one.
constexpr double FLOOR_TARGET = 1.15;
constexpr std::int64_t MEMORY_TARGET = 32 * MiB;
// W4: what closing a new file costs where a scanner looks at each one, and the speed-up
// that finishing on a pool must reach against finishing in series.
constexpr auto SLOW_CLOSE = std::chrono::milliseconds(2);
constexpr double POOL_SPEEDUP_TARGET = 4.0;
constexpr unsigned POOL_FINISHERS = 8;

volatile std::sig_atomic_t gStop = 0;
extern "C" void OnStopSignal(int) { gStop = 1; }

void CheckStop() {
  if (gStop) throw std::runtime_error("interrupted");
}

// How one side of a pair extracts.
struct Extractor {
  unsigned finishers = sectorsieve::DefaultFinishers();
  bool slowClose = false;
};

struct Workload {
  std::string name;
  std::string shape;
  std::vector<std::int64_t> sizes;  // bytes, whole sectors
  bool memoryTarget = false;
  bool throughProgram = false;     // extracted by `sectorsieve extract`, not by the core in a child
  bool oneCore = false;            // every side pinned to the first processor, as `taskset -c 0`
  bool underWine = false;          // the Windows programs, against the Win32 floor
  std::vector<std::string> peers;  // tools that race too: "GNU tar", "bsdtar", "unzip"
  bool floor = false;              // and the floor; unnamedFloor, the floor of unnamed files
  bool unnamedFloor = false;
  Extractor extractor;
  // What the extraction is measured against: `cp -r` of the tree, or the same extraction done
  // otherwise.
  std::optional<Extractor> baseline;
  std::int64_t Total() const {
    std::int64_t t = 0;
    for (std::int64_t s : sizes) t += s;
    return t;
  }
};

// Deterministic contents and sizes: the same run gives the same archives every time.
struct SplitMix64 {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
};

// finishers: the pool of W1 to W3's extractions; W4 sets both sides itself.
Workload MakeWorkload(const std::string& name, unsigned finishers) {
  const std::int64_t sector = sectorsieve::SECTOR_SIZE;
  Workload w;
  w.name = name;
  w.extractor.finishers = finishers;
  SplitMix64 rng{name == "W1" ? 1u : name == "W4" ? 4u : 2u};
  if (name == "W1") {
    // Mostly small entries and a few large ones, as archives tend to be: sizes skewed by a
    // high power so that 5,000 of them come to about 500 MiB; the extremes are always there.
    w.shape = "5,000 entries of 2 KiB to 4 MiB";
    const std::int64_t maxSectors = 4 * MiB / sector;
    for (int i = 0; i < 5000; ++i)
      w.sizes.push_back(
          sector * (1 + static_cast<std::int64_t>((maxSectors - 1) * std::pow(rng.Unit(), 39))));
    w.sizes[0] = sector;
    w.sizes[1] = maxSectors * sector;
    w.peers = {"GNU tar", "bsdtar", "unzip"};
    w.floor = true;
  } else if (name == "W2" || name == "W2cli" || name == "W2cli1" || name == "W4" || name == "W5") {
    // W2cli and W2cli1 have W2's seed, so all three extract the same archive.
    const int count = name == "W4" || name == "W5" ? 20000 : 100000;
    w.shape = name == "W2"      ? "100,000 entries of 2 to 8 KiB"
              : name == "W4"    ? "20,000 of 2-8 KiB, 2 ms per close"
              : name == "W5"    ? "20,000 of 2-8 KiB, Windows, Wine"
              : name == "W2cli" ? "W2 through sectorsieve extract"
                                : "W2cli on one processor";
    w.underWine = name == "W5";
    w.throughProgram = name == "W2cli" || name == "W2cli1";
    w.oneCore = name == "W2cli1";
    if (name == "W2") w.peers = {"GNU tar", "bsdtar", "unzip"};
    if (w.throughProgram) w.peers = {"GNU tar"};
    w.floor = name != "W4" && name != "W5";
    w.unnamedFloor = w.throughProgram;
    for (int i = 0; i < count; ++i)
      w.sizes.push_back(sector * (1 + static_cast<std::int64_t>(rng.Next() % 4)));
    if (name == "W4") {
      w.extractor = {POOL_FINISHERS, true};
      w.baseline = Extractor{1, true};
    }
  } else {
    w.shape = "1 entry of 1 GiB";
    w.sizes.push_back(GiB);
    w.memoryTarget = true;
  }
  return w;
}

std::string EntryName(std::size_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "e%06zu.bin", i);
  return name;
}

// Writes the extracted tree that `cp -r` copies and the archive that holds the same bytes.
void Generate(const Workload& w, const fs::path& tree, const fs::path& base) {
  fs::create_directory(tree);
  sectorsieve::imgpack::ArchiveWriter writer(base);
  std::vector<char> chunk(4 * MiB);
  for (std::size_t i = 0; i < w.sizes.size(); ++i) {
    CheckStop();
    const fs::path file = tree / EntryName(i);
    {
      std::ofstream out(file, std::ios::binary);
      SplitMix64 rng{0x5EC7 + i};
      for (std::int64_t done = 0; done < w.sizes[i];) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), w.sizes[i] - done));
        for (std::size_t k = 0; k < n; k += 8) {
          const std::uint64_t v = rng.Next();
          std::memcpy(chunk.data() + k, &v, 8);
        }
        out.write(chunk.data(), static_cast<std::streamsize>(n));
        done += static_cast<std::int64_t>(n);
      }
      if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
    }
    writer.AppendFile(EntryName(i), file);
  }
  writer.Close();
}

// The real file system, except that closing a new file takes SLOW_CLOSE longer.
class SlowCloseFileSystem final : public sectorsieve::ForwardingFileSystem {
 public:
  SlowCloseFileSystem() : ForwardingFileSystem(sectorsieve::SystemFileSystem()) {}
  std::unique_ptr<sectorsieve::OutputFolder> OpenFolder(const std::string& path) override {
    return std::make_unique<SlowCloseFolder>(inner_.OpenFolder(path));
  }

 private:
  class SlowCloseFile final : public sectorsieve::OutputFile {
   public:
    explicit SlowCloseFile(std::unique_ptr<sectorsieve::OutputFile> real)
        : real_(std::move(real)) {}
    const std::string& Name() const override { return real_->Name(); }
    void Write(const char* data, std::size_t count) override { real_->Write(data, count); }
    // The real file's way of copying and of leaving holes: the one users run.
    std::int64_t CopyFrom(sectorsieve::InputFile& source, std::int64_t offset,
                          std::int64_t count) override {
      return real_->CopyFrom(source, offset, count);
    }
    bool AppendHole(std::int64_t count) override { return real_->AppendHole(count); }
    void Close() override {
      std::this_thread::sleep_for(SLOW_CLOSE);
      real_->Close();
    }

   private:
    std::unique_ptr<sectorsieve::OutputFile> real_;
  };

  class SlowCloseFolder final : public sectorsieve::OutputFolder {
   public:
    explicit SlowCloseFolder(std::unique_ptr<sectorsieve::OutputFolder> real)
        : real_(std::move(real)) {}
    std::unique_ptr<sectorsieve::OutputFile> CreateTemp() override {
      return std::make_unique<SlowCloseFile>(real_->CreateTemp());
    }
    std::unique_ptr<sectorsieve::OutputFile> Create(const std::string& name) override {
      return std::make_unique<SlowCloseFile>(real_->Create(name));
    }
    void Rename(const std::string& temp, const std::string& name) override {
      real_->Rename(temp, name);
    }
    void Remove(const std::string& temp) noexcept override { real_->Remove(temp); }
    bool Holds(const std::string& name) override { return real_->Holds(name); }
    void Keep(std::vector<sectorsieve::FileId> files) override { real_->Keep(std::move(files)); }
    std::string Shown(std::string_view name) const override { return real_->Shown(name); }

   private:
    std::unique_ptr<sectorsieve::OutputFolder> real_;
  };
};

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// What one timed step cost, as the kernel tells it of the process that ran it.
struct Extraction {
  double seconds;
  std::int64_t peakBytes;
  std::int64_t readBytes = 0;  // read from the device under the file system: not from the cache
  double kernelSeconds = 0;
  // Processor time, its own and the kernel's for it: what the machine's other work, which
  // makes the seconds above wait for a processor, moves least.
  double processorSeconds = 0;
};

Extraction CostOf(double seconds, const struct rusage& usage) {
  const auto time = [](const struct timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {seconds, static_cast<std::int64_t>(usage.ru_maxrss) * KiB,
          static_cast<std::int64_t>(usage.ru_inblock) * 512, time(usage.ru_stime),
          time(usage.ru_utime) + time(usage.ru_stime)};
}

// The child's half of `taskset -c 0`.
void PinToFirstProcessor() {
  cpu_set_t first;
  CPU_ZERO(&first);
  CPU_SET(0, &first);
  if (::sched_setaffinity(0, sizeof first, &first) != 0) ::_exit(126);
}

// Waits for the child that started at start; its whole cost comes from wait4.
Extraction WaitFor(pid_t pid, Clock::time_point start, int& status) {
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  return CostOf(Seconds(Clock::now() - start), usage);
}

// Runs work in a child process so that its peak memory is its own; times it from the fork.
Extraction TimeInChild(const std::function<void()>& work, bool oneCore = false) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // An interrupt ends the child at once; the parent notices and cleans up.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (oneCore) PinToFirstProcessor();
    int code = 0;
    try {
      work();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "the child failed: %s\n", e.what());
      code = 1;
    }
    // Leaves without the parent's cleanup: the parent still owns the folders.
    std::fflush(stderr);
    ::_exit(code);
  }
  int status = 0;
  const Extraction cost = WaitFor(pid, start, status);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("the child did not finish");
  return cost;
}

// Extracts as the program's run does.
Extraction TimeExtraction(const fs::path& base, const fs::path& destination, Extractor how,
                          bool oneCore = false) {
  return TimeInChild(
      [&] {
        SlowCloseFileSystem slow;
        sectorsieve::modArchive archive(how.slowClose ? slow : sectorsieve::SystemFileSystem());
        const sectorsieve::Archive loaded = archive.LoadDirectory(base.string());
        sectorsieve::ExtractionRun run(archive, how.finishers);
        const auto failures = run.Run(loaded, {destination.string() + "\\", std::nullopt, {}});
        if (!failures.empty()) throw std::runtime_error(failures[0].what());
      },
      oneCore);
}

// Runs a program as a whole process, its standard output thrown away.
// expectedStatus: what it must exit with.
Extraction TimeCommand(const std::vector<std::string>& command, bool oneCore,
                       int expectedStatus = 0) {
  std::vector<char*> args;
  for (const std::string& arg : command) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (oneCore) PinToFirstProcessor();
    const int quiet = ::open("/dev/null", O_WRONLY);
    if (quiet < 0 || ::dup2(quiet, 1) < 0) ::_exit(126);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  const Extraction cost = WaitFor(pid, start, status);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedStatus)
    throw std::runtime_error(command[0] + " did not finish as expected");
  return cost;
}

// `sectorsieve extract --quiet`, as a user starts it.
Extraction TimeProgram(const fs::path& base, const fs::path& destination, bool oneCore = false,
                       int expectedStatus = 0) {
  return TimeCommand({SECTORSIEVE_CLI, "extract", "--quiet", (fs::path(base) += ".img").string(),
                      destination.string()},
                     oneCore, expectedStatus);
}

// W5: the win64 build folder whose programs Wine runs, in a prefix of the benchmark's own
// there that one wineserver serves from the first round to the last.
fs::path gWindowsBuild;

// A Linux path as Wine's programs reach it.
std::string WinePath(const fs::path& path) {
  std::string wine = "Z:" + fs::absolute(path).string();
  std::replace(wine.begin(), wine.end(), '/', '\\');
  return wine;
}

// The prefix made and its wineserver started, to stay until StopWine; nothing timed pays for
// either.
void StartWine() {
  const fs::path prefix = gWindowsBuild / "wineprefix-bench";
  fs::create_directories(prefix);
  ::setenv("WINEPREFIX", prefix.c_str(), 1);
  ::setenv("WINEDEBUG", "-all", 1);
  ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  if (std::system("wineserver -p && wineboot -i >/dev/null 2>&1") != 0)
    throw std::runtime_error("Wine did not start");
}
void StopWine() { (void)std::system("wineserver -k"); }

// C5: the contents window of a 1,000,000-entry archive, driven under Wine by the window
// end-to-end test's --responsiveness mode, which sends WM_NULL to the window all along and
// prints, for each thing a user does with it, the longest a round trip took: how long the
// window's thread took no messages.
constexpr double RESPONSE_TARGET_MS = 100;

// A virtual display for Wine's windows where the benchmark runs without one: Xvfb picks a free
// number and writes it down the pipe it is given.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    int ends[2];
    if (::pipe(ends) != 0) throw std::runtime_error("no pipe for Xvfb");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ends[0]);
      const std::string fd = std::to_string(ends[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(ends[1]);
    std::string number;
    char c = 0;
    while (pid_ > 0 && ::read(ends[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(ends[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start");
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
  }
  ~VirtualDisplay() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    ::unsetenv("DISPLAY");
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

 private:
  pid_t pid_ = -1;
};

// Runs the mode in the prefix StartWine made and prints C5; returns whether the target was met.
bool RunResponsivenessRow(const fs::path& root) {
  // With no window manager Wine waits two seconds for one to confirm each window it hides, on
  // the window's own thread: the prefix draws its windows itself, as the tests' prefixes do.
  (void)std::system(
      "wine reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /d N /f >/dev/null 2>&1");
  const fs::path folder = root / "responsiveness";
  fs::create_directories(folder);
  const auto quoted = [](std::string text) {
    for (std::size_t at = text.find('\''); at != std::string::npos; at = text.find('\'', at + 4))
      text.replace(at, 1, "'\\''");
    return "'" + text + "'";
  };
  const std::string command =
      "wine " + quoted((gWindowsBuild / "tests" / "window" / "window_end_to_end.exe").string()) +
      " " + quoted(WinePath(gWindowsBuild / "app" / "SectorSieve.exe")) + " --responsiveness " +
      quoted(WinePath(folder)) + " 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> out(::popen(command.c_str(), "r"), ::pclose);
  if (!out) throw std::runtime_error("cannot run " + command);
  std::vector<std::string> lines;
  std::vector<std::pair<std::string, double>> steps;
  std::optional<double> longest;
  for (std::array<char, 4096> line{}; std::fgets(line.data(), line.size(), out.get());) {
    std::string text = line.data();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    lines.push_back(text);
    const std::size_t at = text.rfind(": longest ");
    double ms = 0;
    if (text.starts_with("longest: ") && std::sscanf(text.c_str(), "longest: %lf ms", &ms) == 1)
      longest = ms;
    else if (at != std::string::npos &&
             std::sscanf(text.c_str() + at, ": longest %lf ms", &ms) == 1)
      steps.emplace_back(text.substr(0, at), ms);
  }
  const int status = ::pclose(out.release());
  if (!longest || status != 0) {
    std::printf("\nC5   could not drive the contents window through every step:\n");
    for (const std::string& line : lines) std::printf("     %s\n", line.c_str());
    return false;
  }
  const bool met = *longest <= RESPONSE_TARGET_MS;
  std::printf(
      "\nC5   the longest the contents window did not answer, at 1,000,000 entries: %.0f ms "
      "(target at most %.0f: %s)\n",
      *longest, RESPONSE_TARGET_MS, met ? "met" : "not met");
  for (const auto& [step, ms] : steps) std::printf("       %-74s %6.0f ms\n", step.c_str(), ms);
  return met;
}

// D1: a directory of a million records (a hostile one may have 33 million) loaded as the run
// loads it, asking to go on between pieces as the window does.
constexpr int DIRECTORY_RECORDS = 1000000;

Extraction TimeDirectoryLoad(const fs::path& root) {
  const fs::path base = root / "directory";
  {
    std::ofstream dir(fs::path(base) += ".dir", std::ios::binary);
    std::array<char, sectorsieve::DIR_RECORD_SIZE> record{};
    for (int i = 0; i < DIRECTORY_RECORDS; ++i) {
      const std::string name = "entry" + std::to_string(i) + ".bin";
      std::copy(name.begin(), name.end(), record.begin() + sectorsieve::RECORD_NAME_FIELD);
      dir.write(record.data(), record.size());
    }
  }
  const Extraction load = TimeInChild([&] {
    sectorsieve::modArchive archive(sectorsieve::SystemFileSystem());
    if (archive.LoadDirectory(base.string(), [] { return true; }).size() != DIRECTORY_RECORDS)
      throw std::runtime_error("records lost");
  });
  fs::remove(fs::path(base) += ".dir");
  return load;
}

// D2: the command line on a directory of a million records with empty names, every one of
// them refused: what the failures it holds cost.
Extraction TimeRefusedProgram(const fs::path& root) {
  const fs::path base = root / "nameless";
  {
    std::ofstream dir(fs::path(base) += ".dir", std::ios::binary);
    const std::array<char, sectorsieve::DIR_RECORD_SIZE> record{};
    for (int i = 0; i < DIRECTORY_RECORDS; ++i) dir.write(record.data(), record.size());
  }
  std::ofstream(fs::path(base) += ".img", std::ios::binary);
  fs::create_directory(root / "nameless-out");
  const Extraction run = TimeProgram(base, root / "nameless-out", false, 1);
  fs::remove(fs::path(base) += ".dir");
  fs::remove(fs::path(base) += ".img");
  fs::remove(root / "nameless-out");
  return run;
}

// D1 and D2: a directory of a million records, loaded and refused.
void RunDirectoryRows(const fs::path& root) {
  const Extraction load = TimeDirectoryLoad(root);
  std::printf(
      "\nD1   loading a directory of %d records: %.3f s, peak RSS %.1f MiB "
      "(target at most 48 MiB: %s)\n",
      DIRECTORY_RECORDS, load.seconds, static_cast<double>(load.peakBytes) / MiB,
      load.peakBytes <= 48 * MiB ? "met" : "not met");
  const Extraction refused = TimeRefusedProgram(root);
  std::printf(
      "D2   sectorsieve extract of %d records with empty names, all refused: %.3f s, "
      "peak RSS %.1f MiB (target at most 96 MiB: %s)\n",
      DIRECTORY_RECORDS, refused.seconds, static_cast<double>(refused.peakBytes) / MiB,
      refused.peakBytes <= 96 * MiB ? "met" : "not met");
}

// Every side must give exactly the tree that was packed, or the race means nothing.
void CheckSameTree(const Workload& w, const fs::path& tree, const fs::path& extracted,
                   const std::string& side) {
  std::vector<char> a(1 * MiB), b(1 * MiB);
  std::size_t files = 0;
  for (const auto& item : fs::directory_iterator(extracted)) {
    (void)item;
    ++files;
  }
  if (files != w.sizes.size())
    throw std::runtime_error(side + " wrote " + std::to_string(files) + " files, not " +
                             std::to_string(w.sizes.size()));
  for (std::size_t i = 0; i < w.sizes.size(); ++i) {
    std::ifstream x(tree / EntryName(i), std::ios::binary);
    std::ifstream y(extracted / EntryName(i), std::ios::binary);
    while (x && y) {
      x.read(a.data(), static_cast<std::streamsize>(a.size()));
      y.read(b.data(), static_cast<std::streamsize>(b.size()));
      if (x.gcount() != y.gcount() || !std::equal(a.begin(), a.begin() + x.gcount(), b.begin()))
        throw std::runtime_error(side + " wrote " + EntryName(i) + " with other bytes");
    }
  }
}

// One way to lay the tree down: run writes it into an empty folder that exists.
struct Side {
  std::string name;
  std::function<Extraction(const fs::path& destination)> run;
};

// A tool people would use instead: how it packs the tree, outside the timing, and unpacks it.
struct Peer {
  const char* name;
  const char* extension;
  std::vector<std::string> (*pack)(const std::string& archive, const std::string& tree);
  std::vector<std::string> (*unpack)(const std::string& archive, const std::string& to);
};

const Peer PEERS[] = {
    {"GNU tar", ".tar",
     [](const std::string& archive, const std::string& tree) {
       return std::vector<std::string>{"tar", "-cf", archive, "-C", tree, "."};
     },
     [](const std::string& archive, const std::string& to) {
       return std::vector<std::string>{"tar", "-xf", archive, "-C", to};
     }},
    {"bsdtar", ".bsd.tar",
     [](const std::string& archive, const std::string& tree) {
       return std::vector<std::string>{"bsdtar", "-cf", archive, "-C", tree, "."};
     },
     [](const std::string& archive, const std::string& to) {
       return std::vector<std::string>{"bsdtar", "-xf", archive, "-C", to};
     }},
    // Stored, not compressed, as the .img holds its entries.
    {"unzip", ".zip",
     [](const std::string& archive, const std::string& tree) {
       return std::vector<std::string>{"zip", "-q", "-0", "-r", "-j", archive, tree};
     },
     [](const std::string& archive, const std::string& to) {
       return std::vector<std::string>{"unzip", "-q", archive, "-d", to};
     }},
};

// The extraction first, then what it is measured against: its baseline (`cp -r` of the tree,
// or for W4 the same extraction finishing in series), the floors, then the peers.
std::vector<Side> MakeSides(const Workload& w, const fs::path& tree, const fs::path& base) {
  const bool one = w.oneCore;
  std::vector<Side> sides;
  if (w.underWine) {
    const std::string dir = WinePath(fs::path(base) += ".dir");
    const std::string img = WinePath(fs::path(base) += ".img");
    const std::string cli = (gWindowsBuild / "cli" / "sectorsieve-cli.exe").string();
    const std::string floor = (gWindowsBuild / "bench" / "sectorsieve_floor_win.exe").string();
    sides.push_back(
        {"sectorsieve-cli.exe", [cli, img](auto& to) {
           return TimeCommand({"wine", cli, "extract", "--quiet", img, WinePath(to)}, false);
         }});
    sides.push_back({"floor", [floor, dir, img](auto& to) {
                       return TimeCommand({"wine", floor, dir, img, WinePath(to)}, false);
                     }});
    sides.push_back({"floor, temporary names", [floor, dir, img](auto& to) {
                       return TimeCommand({"wine", floor, "--temp", dir, img, WinePath(to)}, false);
                     }});
    return sides;
  }
  sides.push_back({w.throughProgram ? "sectorsieve extract" : "extract", [&w, base](auto& to) {
                     return w.throughProgram ? TimeProgram(base, to, w.oneCore)
                                             : TimeExtraction(base, to, w.extractor, w.oneCore);
                   }});
  if (w.baseline)
    sides.push_back({"pool of " + std::to_string(w.baseline->finishers),
                     [&w, base](auto& to) { return TimeExtraction(base, to, *w.baseline); }});
  else
    // Into the folder that exists, as every other side writes.
    sides.push_back({"cp -r", [tree, one](auto& to) {
                       return TimeCommand({"cp", "-r", (tree / ".").string(), to.string()}, one);
                     }});
  const std::string dir = (fs::path(base) += ".dir").string();
  const std::string img = (fs::path(base) += ".img").string();
  if (w.floor)
    sides.push_back({"floor", [dir, img, one](auto& to) {
                       return TimeCommand({SECTORSIEVE_FLOOR, dir, img, to.string()}, one);
                     }});
  if (w.unnamedFloor)
    sides.push_back(
        {"floor, unnamed files", [dir, img, one](auto& to) {
           return TimeCommand({SECTORSIEVE_FLOOR, "--unnamed", dir, img, to.string()}, one);
         }});
  for (const Peer& peer : PEERS) {
    if (std::find(w.peers.begin(), w.peers.end(), peer.name) == w.peers.end()) continue;
    const std::string archive = (fs::path(base) += peer.extension).string();
    TimeCommand(peer.pack(archive, tree.string()), false);
    sides.push_back({peer.name, [&peer, archive, one](auto& to) {
                       return TimeCommand(peer.unpack(archive, to.string()), one);
                     }});
  }
  return sides;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct SideResult {
  std::string name;
  std::vector<double> seconds;  // one per counted round
  std::vector<double> processorSeconds;
  std::int64_t readBytes = 0;
  double Median() const { return ::Median(seconds); }
};

struct Result {
  const Workload* workload;
  std::vector<SideResult> sides;  // as MakeSides orders them
  std::int64_t peakBytes;
  double Extract() const { return sides[0].Median(); }
  double Baseline() const { return sides[1].Median(); }
  double Ratio() const { return Extract() / Baseline(); }
  const SideResult* Floor() const {
    for (const SideResult& s : sides)
      if (s.name == "floor") return &s;
    return nullptr;
  }
  double RatioTarget() const {
    return workload->baseline ? 1 / POOL_SPEEDUP_TARGET : TimeTarget(workload->name);
  }
  bool Met() const {
    if (workload->memoryTarget) return peakBytes < MEMORY_TARGET;
    const bool floorMet =
        !workload->throughProgram || !Floor() || Extract() / Floor()->Median() <= FLOOR_TARGET;
    return Ratio() <= RatioTarget() && floorMet;
  }
};

Result Run(const Workload& w, const fs::path& root, int pairs) {
  const fs::path tree = root / "tree";
  const fs::path base = root / "archive";
  std::cout << w.name << ": generating " << w.shape << " (" << w.Total() / MiB << " MiB)...\n"
            << std::flush;
  Generate(w, tree, base);
  const std::vector<Side> sides = MakeSides(w, tree, base);

  Result result{&w, {}, 0};
  for (const Side& side : sides) result.sides.push_back({side.name, {}, {}, 0});
  // Every step writes into an empty folder that exists, after the folder of the step before is
  // removed and everything is written back. So each step starts from the same state: no
  // step pays for the writes of another, and each takes its memory from what the one before
  // gave back. When every step kept its folder, each took memory the machine had not yet used:
  // on this virtual machine the kernel's copy of the bytes then ran at a tenth of its speed,
  // and whichever step first went past what was used before paid it (W1's `cp -r` took 1.02 s
  // of kernel time where the extraction before it took 0.29 s).
  const fs::path out = root / "out";
  for (int round = 0; round <= pairs; ++round) {
    // Which side goes first moves on each round, so that each meets every position.
    for (std::size_t k = 0; k < sides.size(); ++k) {
      const std::size_t i = (k + static_cast<std::size_t>(round)) % sides.size();
      fs::remove_all(out);
      fs::create_directory(out);
      ::sync();
      CheckStop();
      const Extraction step = sides[i].run(out);
      CheckStop();
      if (round == 0) {
        CheckSameTree(w, tree, out, sides[i].name);
      } else {
        result.sides[i].seconds.push_back(step.seconds);
        result.sides[i].processorSeconds.push_back(step.processorSeconds);
        result.sides[i].readBytes += step.readBytes;
        if (i == 0) result.peakBytes = std::max(result.peakBytes, step.peakBytes);
      }
      std::cout << "  " << (round == 0 ? "warm-up" : "round " + std::to_string(round)) << "  "
                << sides[i].name << " " << step.seconds << " s (processor " << step.processorSeconds
                << " s, kernel " << step.kernelSeconds << " s"
                << (step.readBytes
                        ? ", read " + std::to_string(step.readBytes / KiB) + " KiB from the device"
                        : std::string())
                << ")\n"
                << std::flush;
    }
  }
  fs::remove_all(out);
  fs::remove_all(tree);
  fs::remove(fs::path(base) += ".img");
  fs::remove(fs::path(base) += ".dir");
  for (const Peer& peer : PEERS) fs::remove(fs::path(base) += peer.extension);
  return result;
}

void PrintTable(const std::vector<Result>& results, int pairs) {
  std::printf("\nMedians of %d rounds, after one uncounted warm-up round.\n", pairs);
  std::printf(
      "Caches were not dropped: every side reads from a warm page cache. Each round runs every\n"
      "side once, a different one first each round, into an empty folder, after the one before\n"
      "is removed and everything is written back.\n");
  if (!results.empty())
    std::printf(
        "W1 to W3 finish files on a pool of %u, W4 on a pool of %u; the baseline is `cp -r` of "
        "the\nextracted tree, or for W4 the same extraction finishing in series. W2cli1 pins "
        "every side\nto one processor; the command line then decides its own pool.\n",
        results.front().workload->extractor.finishers, POOL_FINISHERS);
  std::printf("\n%-6s %-34s %6s %12s %-10s %12s %7s %12s %13s  %-19s %s\n", "", "workload", "MiB",
              "extract (s)", "baseline", "baseline (s)", "ratio", "x the floor", "peak RSS MiB",
              "target", "met");
  for (const Result& r : results) {
    const Workload& w = *r.workload;
    char target[48];
    if (w.memoryTarget)
      std::snprintf(target, sizeof target, "peak RSS < %lld MiB",
                    static_cast<long long>(MEMORY_TARGET / MiB));
    else if (w.throughProgram && r.Floor())
      std::snprintf(target, sizeof target, "ratio <= %.2f, floor <= %.2f", r.RatioTarget(),
                    FLOOR_TARGET);
    else
      std::snprintf(target, sizeof target, "ratio <= %.2f", r.RatioTarget());
    char floor[16] = "";
    if (r.Floor()) std::snprintf(floor, sizeof floor, "%.2f", r.Extract() / r.Floor()->Median());
    std::printf("%-6s %-34s %6.0f %12.3f %-10s %12.3f %7.2f %12s %13.1f  %-19s %s\n",
                w.name.c_str(), w.shape.c_str(), static_cast<double>(w.Total()) / MiB, r.Extract(),
                r.sides[1].name.c_str(), r.Baseline(), r.Ratio(), floor,
                static_cast<double>(r.peakBytes) / MiB, target, r.Met() ? "yes" : "NO");
  }
  // What a side read from the device rather than the cache: a folder's metadata, or its data
  // if the cache lost it.
  std::printf(
      "\nEvery side: median seconds (fastest to slowest round) and median processor seconds, "
      "each\nagainst the baseline's, and what it read from the device in all its rounds rather "
      "than\nfrom the cache.\n");
  for (const Result& r : results) {
    std::printf("%s\n", r.workload->name.c_str());
    for (const SideResult& s : r.sides) {
      const auto [low, high] = std::minmax_element(s.seconds.begin(), s.seconds.end());
      const double processor = ::Median(s.processorSeconds);
      std::printf(
          "  %-20s %7.3f s (%.3f to %.3f) %5.2fx   processor %6.3f s %5.2fx   read %.1f MiB\n",
          s.name.c_str(), s.Median(), *low, *high, s.Median() / r.Baseline(), processor,
          processor / ::Median(r.sides[1].processorSeconds),
          static_cast<double>(s.readBytes) / MiB);
    }
  }
}

[[noreturn]] void Usage() {
  std::cerr
      << "usage: sectorsieve_bench [--workload W1|W2|W2cli|W2cli1|W3|W4|W5|D1|E4|C|C5|E|all]... "
         "[--pairs N] "
         "[--finishers N] [--dir PATH] [--windows WIN64-BUILD]\n"
         "  --workload  one of these, again for more; all of them by default\n"
         "  W1  5,000 entries of 2 KiB to 4 MiB, about 500 MiB; with GNU tar, bsdtar, unzip\n"
         "      and the floor\n"
         "  W2  100,000 entries of 2 to 8 KiB; the same\n"
         "  W2cli  W2 through `sectorsieve extract --quiet`, a whole process, with the floor\n"
         "  W2cli1  W2cli with every side pinned to one processor (taskset -c 0)\n"
         "  W3  1 entry of 1 GiB, with the extraction's peak resident memory\n"
         "  W4  20,000 entries of 2 to 8 KiB, each close taking 2 ms longer: finishing on\n"
         "      a pool of 8 against finishing in series\n"
         "  W5  20,000 entries of 2 to 8 KiB: sectorsieve-cli.exe extract under Wine against\n"
         "      the Win32 floor (sectorsieve_floor_win.exe), and that floor with temporary\n"
         "      names; only with --windows\n"
         "  D1  loading a directory of 1,000,000 records: time and peak resident memory; with\n"
         "      D2, the command line extracting 1,000,000 records with empty names\n"
         "  E4  `sectorsieve extract` of one named entry of 1,000,000 records against `list`\n"
         "  C   C1 to C4: the contents window's list of 1,000,000 entries: reading it against\n"
         "      `list`, filtering, sorting by size, and its bytes per entry beyond the value\n"
         "  C5  the longest the contents window does not answer while it is driven through\n"
         "      1,000,000 entries under Wine (window_end_to_end.exe --responsiveness), on a\n"
         "      virtual display of its own without DISPLAY; only with --windows\n"
         "  E   E1 to E3: `add` and `remove` in a 2 GiB archive of 10,000 entries against\n"
         "      `pack`, and `compact` of a 2 GiB archive half unused against `cp`\n"
         "  --pairs  timed rounds per workload after one warm-up round (default 5)\n"
         "  --finishers  threads finishing files in W1 to W3 (default: the system's, 1 where\n"
         "               two processors are free, else 0: each file finished before the next)\n"
         "  --dir    where the temporary folder goes (default $TMPDIR or /tmp)\n"
         "  --windows  the win64 build folder (build/win64) whose programs W5 and C5 run under\n"
         "             Wine\n";
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> which;
  int pairs = 5;
  unsigned finishers = sectorsieve::DefaultFinishers();
  const char* tmp = std::getenv("TMPDIR");
  fs::path dir = tmp && *tmp ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) Usage();
    const std::string value = argv[++i];
    if (arg == "--workload" &&
        (value == "W1" || value == "W2" || value == "W2cli" || value == "W2cli1" || value == "W3" ||
         value == "W4" || value == "W5" || value == "D1" || value == "E4" || value == "C" ||
         value == "C5" || value == "E" || value == "all"))
      which.push_back(value);
    else if (arg == "--pairs" && value.find_first_not_of("0123456789") == std::string::npos &&
             !value.empty() && value.size() < 5 && std::stoi(value) > 0)
      pairs = std::stoi(value);
    else if (arg == "--finishers" && value.find_first_not_of("0123456789") == std::string::npos &&
             !value.empty() && value.size() < 3)
      finishers = static_cast<unsigned>(std::stoi(value));
    else if (arg == "--dir")
      dir = value;
    else if (arg == "--windows")
      gWindowsBuild = fs::absolute(value);
    else
      Usage();
  }

  const auto chosen = [&](const std::string& name) {
    return which.empty() || std::find(which.begin(), which.end(), "all") != which.end() ||
           std::find(which.begin(), which.end(), name) != which.end();
  };
  std::vector<Workload> workloads;
  for (const char* name : {"W1", "W2", "W2cli", "W2cli1", "W3", "W4"})
    if (chosen(name)) workloads.push_back(MakeWorkload(name, finishers));
  if (chosen("W5") && gWindowsBuild.empty() &&
      std::find(which.begin(), which.end(), "W5") != which.end()) {
    std::cerr << "sectorsieve_bench: W5 needs --windows, the win64 build folder\n";
    return 2;
  }
  if (chosen("W5") && !gWindowsBuild.empty()) workloads.push_back(MakeWorkload("W5", finishers));
  if (gWindowsBuild.empty() && std::find(which.begin(), which.end(), "C5") != which.end()) {
    std::cerr << "sectorsieve_bench: C5 needs --windows, the win64 build folder\n";
    return 2;
  }
  const bool responsiveness = chosen("C5") && !gWindowsBuild.empty();

  std::string pattern = (dir / "sectorsieve-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "sectorsieve_bench: cannot create a folder in " << dir << ": "
              << std::strerror(errno) << "\n";
    return 1;
  }
  const fs::path root = pattern;
  scope_exit removeRoot([&] {
    std::error_code ec;
    fs::remove_all(root, ec);
  });
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  ::sigaction(SIGINT, &stop, nullptr);
  ::sigaction(SIGTERM, &stop, nullptr);

  std::vector<Result> results;
  // Wine's server and desktop start on the display C5's windows need.
  std::optional<VirtualDisplay> display;
  bool wine = false;
  scope_exit stopWine([&] {
    if (wine) StopWine();
  });
  try {
    const char* shown = std::getenv("DISPLAY");
    if (responsiveness && !(shown && *shown)) display.emplace();
    for (const Workload& w : workloads) {
      if (w.underWine && !wine) {
        wine = true;
        StartWine();
      }
      // The archive, the tree, the peers' archives and one step's folder exist at once.
      struct statvfs fsStats {};
      if (::statvfs(root.c_str(), &fsStats) == 0) {
        const auto free = static_cast<std::int64_t>(fsStats.f_bavail) *
                          static_cast<std::int64_t>(fsStats.f_frsize);
        const auto files = static_cast<std::int64_t>(w.sizes.size());
        const auto copies = static_cast<std::int64_t>(3 + w.peers.size());
        const std::int64_t needed = copies * (w.Total() + files * KiB) + 256 * MiB;
        if (free < needed) {
          std::cerr << w.name << ": skipped, it needs " << needed / MiB << " MiB free in " << dir
                    << " and " << free / MiB << " MiB are free\n";
          continue;
        }
        // A file system made for few large files runs out of inodes first.
        const auto freeFiles = static_cast<std::int64_t>(fsStats.f_favail);
        const auto neededFiles = 2 * files + 1000;
        if (freeFiles < neededFiles) {
          std::cerr << w.name << ": skipped, it needs " << neededFiles << " free inodes in " << dir
                    << " and " << freeFiles << " are free\n";
          continue;
        }
      }
      results.push_back(Run(w, root, pairs));
    }
  } catch (const std::exception& e) {
    std::cerr << "sectorsieve_bench: " << e.what() << "\n";
    return 1;
  }
  PrintTable(results, pairs);
  try {
    if (chosen("D1")) RunDirectoryRows(root);
    if (chosen("E4")) sectorsieve::bench::RunPickingRows(root, pairs);
    if (chosen("C")) sectorsieve::bench::RunContentsRows(root, pairs);
    if (responsiveness) {
      if (!wine) {
        wine = true;
        StartWine();
      }
      RunResponsivenessRow(root);
    }
  } catch (const std::exception& e) {
    std::cerr << "sectorsieve_bench: " << e.what() << "\n";
    return 1;
  }
  if (chosen("E")) {
    try {
      RunEditRows(root, pairs);
    } catch (const std::exception& e) {
      std::cerr << "sectorsieve_bench: " << e.what() << "\n";
      return 1;
    }
  }
  return 0;
}
