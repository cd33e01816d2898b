#include "picking_bench.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "format.h"
#include "unique_handle.h"

extern char** environ;

namespace sectorsieve::bench {

namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 1000000;
constexpr double kTarget = 1.2;

}  // namespace

double TimeCommand(std::vector<std::string> args, int status) {
  args.insert(args.begin(), SECTORSIEVE_CLI);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  ::posix_spawn_file_actions_init(&quiet);
  ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  scope_exit destroy([&] { ::posix_spawn_file_actions_destroy(&quiet); });
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (::posix_spawn(&pid, SECTORSIEVE_CLI, &quiet, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " SECTORSIEVE_CLI);
  int result = 0;
  while (::waitpid(pid, &result, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(result) || WEXITSTATUS(result) != status)
    throw std::runtime_error("sectorsieve " + args[1] + " did not end as expected");
  return took.count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool RunPickingRows(const fs::path& root, int pairs) {
  // A million empty entries and, in the middle, the one picked: a sector of its own.
  const fs::path base = root / "picking";
  const std::string picked = "entry500000.bin";
  {
    std::ofstream dir(fs::path(base) += ".dir", std::ios::binary);
    std::array<char, DIR_RECORD_SIZE> record{};
    for (int i = 0; i < kRecords; ++i) {
      record.fill('\0');
      const std::string name = "entry" + std::to_string(i) + ".bin";
      std::copy(name.begin(), name.end(), record.begin() + RECORD_NAME_FIELD);
      if (name == picked) record[RECORD_SIZE_FIELD] = 1;
      dir.write(record.data(), record.size());
    }
    std::ofstream(fs::path(base) += ".img", std::ios::binary) << std::string(SECTOR_SIZE, 'x');
  }
  const std::string img = (fs::path(base) += ".img").string();
  const fs::path out = root / "picking-out";
  fs::create_directory(out);
  std::vector<double> extracts, lists, ratios;
  std::printf("\nE4: %d records, extract of one named entry against list (%d pairs)\n", kRecords,
              pairs);
  for (int pair = 0; pair < pairs; ++pair) {
    const double list = TimeCommand({"list", img}, 0);
    const double extract = TimeCommand({"extract", "--quiet", img, out.string(), picked}, 0);
    if (fs::file_size(out / picked) != SECTOR_SIZE)
      throw std::runtime_error("the picked entry was not extracted whole");
    fs::remove(out / picked);
    std::printf("  pair %d: extract %.3f s, list %.3f s, ratio %.2f\n", pair + 1, extract, list,
                extract / list);
    extracts.push_back(extract);
    lists.push_back(list);
    ratios.push_back(extract / list);
  }
  fs::remove(out);
  fs::remove(fs::path(base) += ".dir");
  fs::remove(fs::path(base) += ".img");
  const double ratio = Median(ratios);
  std::printf(
      "E4   extract of 1 of %d entries: %.3f s, list: %.3f s, ratio %.2f (median of "
      "pairs; target at most %.1f: %s)\n",
      kRecords, Median(extracts), Median(lists), ratio, kTarget,
      ratio <= kTarget ? "met" : "not met");
  return ratio <= kTarget;
}

}  // namespace sectorsieve::bench
