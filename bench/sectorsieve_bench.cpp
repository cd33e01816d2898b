// Times a whole extraction (LoadDirectory, then an ExtractionRun as the window makes it) against
// `cp -r` of the same tree, pair by pair in one run, and the peak memory of the extraction.
// W2cli times W2 through the command line program, a whole process as a user starts it.
// W4 races finishing files on a pool of 8 against finishing them in series, where closing a
// file costs time.
//
// E1 to E3 time the command line's changes of an archive in place (edit_rows.cpp).
//
//   sectorsieve_bench [--workload W1|W2|W2cli|W3|W4|D1|E|all] [--pairs N] [--finishers N]
//                     [--dir PATH]

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "edit_rows.h"
#include "extraction_run.h"
#include "imgpack.h"
#include "modArchive.h"
#include "picking_bench.h"
#include "posix_handles.h"
#include "unique_handle.h"

namespace {

namespace fs = std::filesystem;
using sectorsieve::scope_exit;
using sectorsieve::unique_fd;
using sectorsieve::unique_handle;

constexpr std::int64_t KiB = 1024;
constexpr std::int64_t MiB = 1024 * KiB;
constexpr std::int64_t GiB = 1024 * MiB;
// Against `cp -r` of the same tree: W1's large files leave the run little of its own to pay,
// W2's small ones a rename each; W2cli adds a whole process.
double TimeTarget(const std::string& workload) {
  return workload == "W1" ? 0.70 : workload == "W2" ? 0.85 : 1.00;
}
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
  bool throughProgram = false;  // extracted by `sectorsieve extract`, not by the core in a child
  Extractor extractor;
  // The other side of each pair: `cp -r` of the tree, or the same extraction done otherwise.
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
  } else if (name == "W2" || name == "W2cli" || name == "W4") {
    // W2cli has W2's seed, so both extract the same archive.
    const int count = name == "W4" ? 20000 : 100000;
    w.shape = name == "W2"   ? "100,000 entries of 2 to 8 KiB"
              : name == "W4" ? "20,000 of 2-8 KiB, 2 ms per close"
                             : "W2 through sectorsieve extract";
    w.throughProgram = name == "W2cli";
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

// Peak resident memory of this process so far, from the kernel's high-water mark.
std::int64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmHWM:")) return std::stoll(line.substr(6)) * KiB;
  return -1;
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
    void Rename(const std::string& temp, const std::string& name) override {
      real_->Rename(temp, name);
    }
    void Remove(const std::string& temp) noexcept override { real_->Remove(temp); }

   private:
    std::unique_ptr<sectorsieve::OutputFolder> real_;
  };
};

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Extraction {
  double seconds;
  std::int64_t peakBytes;
};

// Runs work in a child process so that its peak memory is its own; times it from the fork.
Extraction TimeInChild(const std::function<void()>& work) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  unique_fd readEnd(fds[0]);
  unique_fd writeEnd(fds[1]);

  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // An interrupt ends the child at once; the parent notices and cleans up.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    int code = 0;
    try {
      work();
      const std::int64_t peak = PeakResidentBytes();
      if (::write(writeEnd.get(), &peak, sizeof peak) != sizeof peak) code = 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "the child failed: %s\n", e.what());
      code = 1;
    }
    // Leaves without the parent's cleanup: the parent still owns the folders.
    std::fflush(stderr);
    ::_exit(code);
  }
  writeEnd.reset();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  const double seconds = Seconds(Clock::now() - start);
  std::int64_t peak = -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      ::read(readEnd.get(), &peak, sizeof peak) != sizeof peak)
    throw std::runtime_error("the child did not finish");
  return {seconds, peak};
}

// Extracts as the program's run does.
Extraction TimeExtraction(const fs::path& base, const fs::path& destination, Extractor how) {
  return TimeInChild([&] {
    SlowCloseFileSystem slow;
    sectorsieve::modArchive archive(how.slowClose ? slow : sectorsieve::SystemFileSystem());
    const sectorsieve::Archive loaded = archive.LoadDirectory(base.string());
    sectorsieve::ExtractionRun run(archive, how.finishers);
    const auto failures = run.Run(loaded, {destination.string() + "\\", std::nullopt, {}});
    if (!failures.empty()) throw std::runtime_error(failures[0].what());
  });
}

// Runs `sectorsieve extract --quiet` as a whole process; its peak memory comes from wait4.
// expectedStatus: 0 when every entry must be written, 1 when they must all be refused.
Extraction TimeProgram(const fs::path& base, const fs::path& destination, int expectedStatus = 0) {
  const std::string img = (fs::path(base) += ".img").string();
  const std::string dst = destination.string();
  char* const args[] = {const_cast<char*>(SECTORSIEVE_CLI), const_cast<char*>("extract"),
                        const_cast<char*>("--quiet"),       const_cast<char*>(img.c_str()),
                        const_cast<char*>(dst.c_str()),     nullptr};
  posix_spawn_file_actions_t quiet;
  ::posix_spawn_file_actions_init(&quiet);
  ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  scope_exit destroy([&] { ::posix_spawn_file_actions_destroy(&quiet); });
  const auto start = Clock::now();
  pid_t pid = 0;
  if (::posix_spawn(&pid, SECTORSIEVE_CLI, &quiet, nullptr, args, environ) != 0)
    throw std::runtime_error("cannot start " SECTORSIEVE_CLI);
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  const double seconds = Seconds(Clock::now() - start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedStatus)
    throw std::runtime_error("sectorsieve extract did not finish as expected");
  return {seconds, static_cast<std::int64_t>(usage.ru_maxrss) * KiB};
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
  const Extraction run = TimeProgram(base, root / "nameless-out", 1);
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

double TimeCopy(const fs::path& tree, const fs::path& destination) {
  const std::string src = tree.string();
  const std::string dst = destination.string();
  char* const args[] = {const_cast<char*>("cp"), const_cast<char*>("-r"),
                        const_cast<char*>(src.c_str()), const_cast<char*>(dst.c_str()), nullptr};
  const auto start = Clock::now();
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "cp", nullptr, nullptr, args, environ) != 0)
    throw std::runtime_error("cannot start cp");
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  const double seconds = Seconds(Clock::now() - start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("cp -r failed");
  return seconds;
}

// The extraction must give exactly the tree that cp copies, or the race means nothing.
void CheckSameTree(const Workload& w, const fs::path& tree, const fs::path& extracted) {
  std::vector<char> a(1 * MiB), b(1 * MiB);
  std::size_t files = 0;
  for (const auto& item : fs::directory_iterator(extracted)) {
    (void)item;
    ++files;
  }
  if (files != w.sizes.size())
    throw std::runtime_error("the extraction wrote " + std::to_string(files) + " files, not " +
                             std::to_string(w.sizes.size()));
  for (std::size_t i = 0; i < w.sizes.size(); ++i) {
    std::ifstream x(tree / EntryName(i), std::ios::binary);
    std::ifstream y(extracted / EntryName(i), std::ios::binary);
    while (x && y) {
      x.read(a.data(), static_cast<std::streamsize>(a.size()));
      y.read(b.data(), static_cast<std::streamsize>(b.size()));
      if (x.gcount() != y.gcount() || !std::equal(a.begin(), a.begin() + x.gcount(), b.begin()))
        throw std::runtime_error(EntryName(i) + " was extracted with other bytes");
    }
  }
}

// What the extraction races against in each pair.
std::string Against(const Workload& w) {
  return w.baseline ? "pool of " + std::to_string(w.baseline->finishers) : "cp -r";
}

double TimeBaseline(const Workload& w, const fs::path& tree, const fs::path& base,
                    const fs::path& destination) {
  if (!w.baseline) return TimeCopy(tree, destination);
  fs::create_directory(destination);
  return TimeExtraction(base, destination, *w.baseline).seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Result {
  const Workload* workload;
  double extract;
  double baseline;
  std::int64_t peakBytes;
  double Ratio() const { return extract / baseline; }
  double RatioTarget() const {
    return workload->baseline ? 1 / POOL_SPEEDUP_TARGET : TimeTarget(workload->name);
  }
  bool Met() const {
    return workload->memoryTarget ? peakBytes < MEMORY_TARGET : Ratio() <= RatioTarget();
  }
};

Result Run(const Workload& w, const fs::path& root, int pairs) {
  const fs::path tree = root / "tree";
  const fs::path base = root / "archive";
  const auto folder = [&](const char* side, int pair) {
    return root / (side + std::to_string(pair));
  };
  std::cout << w.name << ": generating " << w.shape << " (" << w.Total() / MiB << " MiB)...\n"
            << std::flush;
  Generate(w, tree, base);

  const std::string against = Against(w);
  std::vector<double> extract, baseline;
  std::int64_t peak = 0;
  // Each step starts with everything before it written back, so that no step pays for the
  // writes of the one before: on ext4 the second step of a pair took up to twice as long.
  const auto extractInto = [&](const fs::path& destination) {
    ::sync();
    return w.throughProgram ? TimeProgram(base, destination)
                            : TimeExtraction(base, destination, w.extractor);
  };
  const auto baselineInto = [&](const fs::path& destination) {
    ::sync();
    return TimeBaseline(w, tree, base, destination);
  };
  for (int pair = 0; pair <= pairs; ++pair) {
    // Which step goes first alternates, so that neither always meets what the other left
    // behind. Every pair writes fresh folders and nothing is removed until the end: on ext4,
    // a step that follows a mass removal took randomly longer.
    const fs::path a = folder("extracted", pair);
    const fs::path b = folder("baseline", pair);
    fs::create_directory(a);
    Extraction x{};
    double c = 0;
    if (pair % 2 == 0) {
      x = extractInto(a);
      CheckStop();
      c = baselineInto(b);
    } else {
      c = baselineInto(b);
      CheckStop();
      x = extractInto(a);
    }
    CheckStop();
    if (pair == 0) {
      CheckSameTree(w, tree, a);
      CheckSameTree(w, tree, b);
      std::cout << "  warm-up  extract " << x.seconds << " s, " << against << " " << c
                << " s (not counted)\n";
    } else {
      extract.push_back(x.seconds);
      baseline.push_back(c);
      peak = std::max(peak, x.peakBytes);
      std::cout << "  pair " << pair << (pair % 2 == 0 ? " (extract first)" : " (baseline first)")
                << "   extract " << x.seconds << " s, " << against << " " << c << " s\n";
    }
    std::cout << std::flush;
  }
  for (int pair = 0; pair <= pairs; ++pair) {
    fs::remove_all(folder("extracted", pair));
    fs::remove_all(folder("baseline", pair));
  }
  fs::remove_all(tree);
  fs::remove(fs::path(base) += ".img");
  fs::remove(fs::path(base) += ".dir");
  return {&w, Median(extract), Median(baseline), peak};
}

void PrintTable(const std::vector<Result>& results, int pairs) {
  std::printf(
      "\nMedians of %d pairs, each pair run back to back after one uncounted warm-up pair.\n",
      pairs);
  std::printf(
      "Caches were not dropped: both sides read from a warm page cache. Pairs alternate which\n"
      "side goes first; every pair writes fresh folders, synced before each step, removed at "
      "the end.\n");
  if (!results.empty())
    std::printf(
        "W1 to W3 finish files on a pool of %u, W4 on a pool of %u; the baseline is `cp -r` of "
        "the\nextracted tree, or for W4 the same extraction finishing in series.\n",
        results.front().workload->extractor.finishers, POOL_FINISHERS);
  std::printf("\n%-4s %-34s %9s %12s %-10s %12s %7s %13s  %-19s %s\n", "", "workload", "MiB",
              "extract (s)", "baseline", "baseline (s)", "ratio", "peak RSS MiB", "target", "met");
  for (const Result& r : results) {
    const Workload& w = *r.workload;
    char target[32];
    if (w.memoryTarget)
      std::snprintf(target, sizeof target, "peak RSS < %lld MiB",
                    static_cast<long long>(MEMORY_TARGET / MiB));
    else
      std::snprintf(target, sizeof target, "ratio <= %.2f", r.RatioTarget());
    std::printf("%-4s %-34s %9.0f %12.3f %-10s %12.3f %7.2f %13.1f  %-19s %s\n", w.name.c_str(),
                w.shape.c_str(), static_cast<double>(w.Total()) / MiB, r.extract,
                Against(w).c_str(), r.baseline, r.Ratio(), static_cast<double>(r.peakBytes) / MiB,
                target, r.Met() ? "yes" : "NO");
  }
}

[[noreturn]] void Usage() {
  std::cerr
      << "usage: sectorsieve_bench [--workload W1|W2|W2cli|W3|W4|D1|E4|E|all] [--pairs N] "
         "[--finishers N] [--dir PATH]\n"
         "  W1  5,000 entries of 2 KiB to 4 MiB, about 500 MiB\n"
         "  W2  100,000 entries of 2 to 8 KiB\n"
         "  W2cli  W2 through `sectorsieve extract --quiet`, a whole process\n"
         "  W3  1 entry of 1 GiB, with the extraction's peak resident memory\n"
         "  W4  20,000 entries of 2 to 8 KiB, each close taking 2 ms longer: finishing on\n"
         "      a pool of 8 against finishing in series\n"
         "  D1  loading a directory of 1,000,000 records: time and peak resident memory; with\n"
         "      D2, the command line extracting 1,000,000 records with empty names\n"
         "  E4  `sectorsieve extract` of one named entry of 1,000,000 records against `list`\n"
         "  --pairs  timed pairs per workload after one warm-up pair (default 5)\n"
         "  --finishers  threads finishing files in W1 to W3 (default: the system's, 1 here;\n"
         "               0 finishes each file before the next)\n"
         "  --dir    where the temporary folder goes (default $TMPDIR or /tmp)\n";
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string which = "all";
  int pairs = 5;
  unsigned finishers = sectorsieve::DefaultFinishers();
  const char* tmp = std::getenv("TMPDIR");
  fs::path dir = tmp && *tmp ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) Usage();
    const std::string value = argv[++i];
    if (arg == "--workload" &&
        (value == "W1" || value == "W2" || value == "W2cli" || value == "W3" || value == "W4" ||
         value == "D1" || value == "E4" || value == "E" || value == "all"))
      which = value;
    else if (arg == "--pairs" && value.find_first_not_of("0123456789") == std::string::npos &&
             !value.empty() && value.size() < 5 && std::stoi(value) > 0)
      pairs = std::stoi(value);
    else if (arg == "--finishers" && value.find_first_not_of("0123456789") == std::string::npos &&
             !value.empty() && value.size() < 3)
      finishers = static_cast<unsigned>(std::stoi(value));
    else if (arg == "--dir")
      dir = value;
    else
      Usage();
  }

  std::vector<Workload> workloads;
  for (const char* name : {"W1", "W2", "W2cli", "W3", "W4"})
    if (which == "all" || which == name) workloads.push_back(MakeWorkload(name, finishers));

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
  try {
    for (const Workload& w : workloads) {
      // The archive, the tree, and both copies of every pair exist at once.
      struct statvfs fsStats {};
      if (::statvfs(root.c_str(), &fsStats) == 0) {
        const auto free = static_cast<std::int64_t>(fsStats.f_bavail) *
                          static_cast<std::int64_t>(fsStats.f_frsize);
        const std::int64_t needed = (2 * (pairs + 1) + 2) * w.Total() + 256 * MiB;
        if (free < needed) {
          std::cerr << w.name << ": skipped, it needs " << needed / MiB << " MiB free in " << dir
                    << " and " << free / MiB << " MiB are free\n";
          continue;
        }
        // A file system made for few large files runs out of inodes first.
        const auto freeFiles = static_cast<std::int64_t>(fsStats.f_favail);
        const auto neededFiles =
            (2 * (pairs + 1) + 1) * static_cast<std::int64_t>(w.sizes.size()) + 1000;
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
    if (which == "all" || which == "D1") RunDirectoryRows(root);
    if (which == "all" || which == "E4") sectorsieve::bench::RunPickingRows(root, pairs);
  } catch (const std::exception& e) {
    std::cerr << "sectorsieve_bench: " << e.what() << "\n";
    return 1;
  }
  if (which == "all" || which == "E") {
    try {
      RunEditRows(root, pairs);
    } catch (const std::exception& e) {
      std::cerr << "sectorsieve_bench: " << e.what() << "\n";
      return 1;
    }
  }
  return 0;
}
