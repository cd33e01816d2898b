// E1: `add` replacing one 1 MiB entry of a 2 GiB archive of 10,000 entries, against rebuilding
// the archive with `pack`; E2: `remove` of one entry, the same; E3: `compact` of a 2 GiB archive
// half of whose data file is unused, against `cp` of the 1 GiB in use. Every side runs as a
// whole process, as a user starts it, and flushes what it wrote: the program does so before
// each rename, so the copy is followed by `sync` of the copied file.

#include "edit_rows.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int ENTRIES = 10000;
constexpr std::int64_t ENTRY_BYTES = 214700;  // 10,000 of them make 2 GiB
constexpr std::int64_t TARGET_BYTES = 1 << 20;

// Runs args (the program's own name first) and returns the seconds it took; throws when it
// does not end with status 0.
double Timed(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  ::posix_spawn_file_actions_init(&quiet);
  ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(args[0] + " " + args[1] + " failed");
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string EntryName(int i) { return "e" + std::to_string(i) + ".bin"; }

void WriteFile(const fs::path& path, std::int64_t bytes, unsigned seed) {
  std::vector<char> data(static_cast<std::size_t>(bytes));
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>((i * 131 + seed * 7 + i / 4096) & 0xFF);
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
}

// Touches bytes of memory and gives them back. On a virtual machine that hands freed memory
// back to its host, the first touch of a page costs more than copying it; compact frees the
// old data file's pages as it copies, so a copy timed right after it would find memory ready
// that compact had to fetch. Each E3 side starts right after this instead.
void ReadyMemory(std::size_t bytes) {
  const std::vector<char> memory(bytes, 1);
  // Read back, so that the filling is not left out as unused.
  if (memory[bytes / 2] != 1) throw std::logic_error("memory not touched");
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Pairs(const std::vector<double>& a, const std::vector<double>& b) {
  std::string text;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char pair[32];
    std::snprintf(pair, sizeof pair, "%s%.4f", i ? ", " : "", a[i] / b[i]);
    text += pair;
  }
  return text;
}

}  // namespace

void RunEditRows(const fs::path& root, int pairs) {
  const fs::path folder = root / "edit-files";
  const std::string img = (root / "edit.img").string();
  fs::create_directories(folder);
  for (int i = 0; i < ENTRIES; ++i)
    WriteFile(folder / EntryName(i), i == 0 ? TARGET_BYTES : ENTRY_BYTES, static_cast<unsigned>(i));
  std::vector<double> pack, add, remove, compact, copy;
  for (int pair = 0; pair < pairs; ++pair) {
    pack.push_back(Timed({SECTORSIEVE_CLI, "pack", "--force", folder.string(), img}));
    WriteFile(folder / EntryName(0), TARGET_BYTES, 1000u + static_cast<unsigned>(pair));
    add.push_back(Timed({SECTORSIEVE_CLI, "add", img, (folder / EntryName(0)).string()}));
    remove.push_back(Timed({SECTORSIEVE_CLI, "remove", img, EntryName(ENTRIES - 1)}));
    // Every other entry goes: half the data file is unused.
    std::vector<std::string> half = {SECTORSIEVE_CLI, "remove", img};
    for (int i = 1; i < ENTRIES - 1; i += 2) half.push_back(EntryName(i));
    Timed(half);
    ReadyMemory(std::size_t{2} << 30);
    compact.push_back(Timed({SECTORSIEVE_CLI, "compact", img}));
    const std::string copied = (root / "edit-copy.bin").string();
    ReadyMemory(std::size_t{2} << 30);
    copy.push_back(Timed({"cp", img, copied}) + Timed({"sync", copied}));
    fs::remove(copied);
  }
  std::printf(
      "\nE1   add replacing one 1 MiB entry of 2 GiB, 10,000 entries: %.3f s; pack %.2f s; "
      "ratio %.4f (pairs %s; target at most 0.01: %s)\n",
      Median(add), Median(pack), Median(add) / Median(pack), Pairs(add, pack).c_str(),
      Median(add) / Median(pack) <= 0.01 ? "met" : "not met");
  std::printf("E2   remove of one entry: %.3f s; ratio %.4f (pairs %s; target at most 0.01: %s)\n",
              Median(remove), Median(remove) / Median(pack), Pairs(remove, pack).c_str(),
              Median(remove) / Median(pack) <= 0.01 ? "met" : "not met");
  std::printf(
      "E3   compact of 2 GiB, half unused: %.2f s; cp and sync of the 1 GiB in use %.2f s; "
      "ratio %.2f (pairs %s; target at most 1.3: %s)\n",
      Median(compact), Median(copy), Median(compact) / Median(copy), Pairs(compact, copy).c_str(),
      Median(compact) / Median(copy) <= 1.3 ? "met" : "not met");
  fs::remove_all(folder);
  fs::remove(img);
  fs::remove((root / "edit.dir").string());
}
