#include "contents_bench.h"

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "contents_list.h"
#include "format.h"
#include "picking_bench.h"

namespace sectorsieve::bench {

namespace {

namespace fs = std::filesystem;
using ui::ContentsColumn;
using ui::ContentsList;

constexpr int kRecords = 1000000;
constexpr int kLargestSectors = 1000;
constexpr double kReadTarget = 1.2;      // x list
constexpr double kFilterTarget = 0.050;  // s
constexpr double kSortTarget = 0.150;    // s
constexpr double kBytesPerEntryTarget = 16;

// The archive's names are ASCII, which every code page converts as it is.
std::optional<std::string> Ascii(std::string_view name) { return std::string(name); }

// Large blocks come from mmap, which the heap's count leaves out.
std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

double ThreadCpu() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Seconds that work takes, and this thread's processor seconds in cpu: on a busy machine the
// first waits for the processor, the second does not.
template <typename Work>
double Seconds(Work work, double* cpu = nullptr) {
  const auto start = std::chrono::steady_clock::now();
  const double startCpu = ThreadCpu();
  work();
  if (cpu) *cpu = ThreadCpu() - startCpu;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

bool RunContentsRows(const fs::path& root, int pairs) {
  // A million entries of sizes spread over 0 to 999 sectors, within a data file of holes.
  const fs::path base = root / "contents";
  {
    std::ofstream dir(fs::path(base) += ".dir", std::ios::binary);
    std::string record(DIR_RECORD_SIZE, '\0');
    for (int i = 0; i < kRecords; ++i) {
      record.assign(DIR_RECORD_SIZE, '\0');
      const std::string name = "entry" + std::to_string(i) + ".bin";
      record.replace(RECORD_NAME_FIELD, name.size(), name);
      const auto size = static_cast<std::uint32_t>((i * 2654435761u) % kLargestSectors);
      for (int b = 0; b < 4; ++b)
        record[RECORD_SIZE_FIELD + b] = static_cast<char>((size >> (8 * b)) & 0xFF);
      dir.write(record.data(), DIR_RECORD_SIZE);
    }
  }
  const fs::path img = fs::path(base) += ".img";
  std::ofstream(img, std::ios::binary).close();
  fs::resize_file(img, std::uintmax_t{kLargestSectors} * SECTOR_SIZE);

  FileSystem& fs = SystemFileSystem();
  const auto read = [&] {
    return ContentsList(ArchiveReader(fs).LoadDirectory(base.string()), fs.Ansi(), Ascii,
                        [&](std::string_view name) { return fs.Shown(name); });
  };
  std::printf("\nC1-C4: the contents window's list of %d entries (%d rounds)\n", kRecords, pairs);
  std::vector<double> reads, lists, ratios, checks, filters, sorts, filterCpus, sortCpus, others,
      otherCpus;
  for (int round = 0; round < pairs; ++round) {
    const double list = TimeCommand({"list", img.string()}, 0);
    const double window = Seconds([&] {
      if (read().Total() != kRecords) throw std::runtime_error("entries lost");
    });
    ContentsList contents = read();
    const double check =
        Seconds([&] { contents.SetCheck(CheckArchive(contents.Value(), fs.Ansi(), Ascii)); });
    double filterCpu = 0;
    const double filter = Seconds([&] { contents.SetFilter("*77.bin"); }, &filterCpu);
    if (contents.Rows() != kRecords / 100) throw std::runtime_error("the filter picked wrong");
    contents.SetFilter("");
    double sortCpu = 0;
    const double sort = Seconds([&] { contents.SortBy(ContentsColumn::Size, false); }, &sortCpu);
    // Every other column, either way: a click on any header is a message of the window's.
    double slowest = 0, slowestCpu = 0;
    for (const ContentsColumn column :
         {ContentsColumn::Index, ContentsColumn::Name, ContentsColumn::Size, ContentsColumn::Offset,
          ContentsColumn::Status})
      for (const bool descending : {false, true}) {
        double cpu = 0;
        slowest = std::max(slowest, Seconds([&] { contents.SortBy(column, descending); }, &cpu));
        slowestCpu = std::max(slowestCpu, cpu);
      }
    others.push_back(slowest);
    otherCpus.push_back(slowestCpu);
    std::printf(
        "  round %d: read %.3f s, list %.3f s (ratio %.2f); check %.3f s; filter %.3f s; sort "
        "%.3f s\n",
        round + 1, window, list, window / list, check, filter, sort);
    checks.push_back(check);
    filterCpus.push_back(filterCpu);
    sortCpus.push_back(sortCpu);
    reads.push_back(window);
    lists.push_back(list);
    ratios.push_back(window / list);
    filters.push_back(filter);
    sorts.push_back(sort);
  }

  // What the list holds beyond the value it was made from, measured on the heap in use, at its
  // most: sorted by a column other than the index and filtered by a pattern every name matches.
  Archive value = ArchiveReader(fs).LoadDirectory(base.string());
  const std::size_t before = HeapInUse();
  ContentsList held(std::move(value), fs.Ansi(), Ascii,
                    [&](std::string_view name) { return fs.Shown(name); });
  held.SortBy(ContentsColumn::Size, false);
  held.SetFilter("*");
  const double perEntry = static_cast<double>(HeapInUse() - before) / kRecords;
  fs::remove(fs::path(base) += ".dir");
  fs::remove(img);

  const double ratio = Median(ratios);
  const double filter = Median(filters);
  const double sort = Median(sorts);
  const auto met = [](bool yes) { return yes ? "met" : "not met"; };
  std::printf(
      "C1   reading %d entries for the window: %.3f s, list: %.3f s, ratio %.2f "
      "(median of rounds; target at most %.1f: %s)\n",
      kRecords, Median(reads), Median(lists), ratio, kReadTarget, met(ratio <= kReadTarget));
  std::printf("C1   then what check finds, shown when it comes: %.3f s more\n", Median(checks));
  std::printf(
      "C2   filtering %d names by \"*77.bin\": %.3f s, processor %.3f s (target at most %.3f s: "
      "%s)\n",
      kRecords, filter, Median(filterCpus), kFilterTarget, met(filter <= kFilterTarget));
  std::printf(
      "C3   sorting %d entries by size: %.3f s, processor %.3f s (target at most %.3f s: %s)\n",
      kRecords, sort, Median(sortCpus), kSortTarget, met(sort <= kSortTarget));
  std::printf(
      "C3   the slowest of every column either way: %.3f s, processor %.3f s (the same target: "
      "%s)\n",
      Median(others), Median(otherCpus), met(Median(others) <= kSortTarget));
  std::printf(
      "C4   the list beyond the value, sorted by size and filtered by \"*\": %.1f bytes per "
      "entry (target at most %.0f: %s)\n",
      perEntry, kBytesPerEntryTarget, met(perEntry <= kBytesPerEntryTarget));
  return ratio <= kReadTarget && filter <= kFilterTarget && sort <= kSortTarget &&
         perEntry <= kBytesPerEntryTarget;
}

}  // namespace sectorsieve::bench
