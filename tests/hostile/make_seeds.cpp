// Writes the fuzzer's seed corpus: a few archive pairs, sound and broken, packed with the
// project's own packer and joined into fuzz inputs. Usage: make_seeds <folder>
// The checked-in corpus/seed folder is this program's output.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "archive_writer.h"
#include "fuzz_input.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using sectorsieve::imgpack::ArchiveWriter;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Filler(std::size_t count, char seed) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(seed + i * 7);
  return bytes;
}

struct Seed {
  const char* file;
  std::function<void(ArchiveWriter&)> pack;
  std::size_t cutImg = 0;        // bytes taken off the end of the data file
  std::string dirFragment = {};  // bytes added after the last whole record
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <folder>\n");
    return 2;
  }
  const fs::path folder = argv[1];
  const fs::path work = fs::temp_directory_path() / "sectorsieve-make-seeds";
  fs::create_directories(folder);
  fs::create_directories(work);

  const Seed seeds[] = {
      {"sound",
       [](ArchiveWriter& w) {
         w.Append("a.txt", Filler(100, 'a'));
         w.Append("b.bin", Filler(3000, 'b'));
         w.Append("c.dat", "");
       }},
      {"short-data-file",
       [](ArchiveWriter& w) {
         w.Append("a.txt", Filler(100, 'a'));
         w.Append("b.bin", Filler(5000, 'b'));
       },
       1000},
      {"dir-fragment", [](ArchiveWriter& w) { w.Append("a.txt", Filler(100, 'a')); }, 0,
       std::string(17, '\x01')},
      {"unsafe-names",
       [](ArchiveWriter& w) {
         w.Append("good.bin", Filler(10, 'g'));
         w.Put("..\\up.bin", 0, 1);
         w.Put("\\abs.bin", 0, 1);
         w.Put("C:x.bin", 0, 1);
         w.Put("a<b>c|d?e*f\"g", 0, 1);
         w.Put("CON.txt", 0, 1);
         w.Put("lpt9", 0, 1);
         w.Put("sub\\f.bin", 0, 1);
         w.Put("sub\\", 0, 1);
         w.Put("tab\there", 0, 1);
       }},
      {"bad-numbers",
       [](ArchiveWriter& w) {
         w.Append("good.bin", Filler(4096, 'g'));
         w.Put("neg-offset", -1, 1);
         w.Put("neg-size", 0, -1);
         w.Put("huge-offset", 0x7FFFFFFF, 1);
         w.Put("huge-size", 0, 0x7FFFFFFF);
         w.Put("at-end", 2, 0);
         w.Put("past-end", 2, 2);
       }},
      {"stripped-names",
       [](ArchiveWriter& w) {
         w.Append("ab\0cd"s, Filler(10, 'x'));
         w.Append("\x10lead.bin"s, Filler(10, 'y'));
         w.Append("abcd", Filler(10, 'z'));
         w.Put(" space", 0, 1);
         w.Put(""s, 0, 1);
         w.Put("123456789012345678901234", 0, 1);
       }},
      {"dot-folders",
       [](ArchiveWriter& w) {
         w.Append(".\\here.bin", Filler(10, 'h'));
         w.Append("././/here2.bin", Filler(10, 'i'));
         w.Put(".\\..\\up.bin", 0, 1);
         w.Put(".\\", 0, 1);
         w.Put("nosub\\.\\f.bin", 0, 1);
       }},
      // The fuzz target's destination holds a link "lnk" to a folder outside and a link
      // "held.bin" to a file outside. "COM\xB2" once broke an oracle that knew no superscripts.
      {"devices-links-temporaries",
       [](ArchiveWriter& w) {
         w.Append("COM\xB2", Filler(10, 'c'));
         w.Append("held.bin", Filler(10, 'h'));
         w.Put("lpt\xB9.txt", 0, 1);
         w.Put("CONIN$", 0, 1);
         w.Put("conout$.log", 0, 1);
         w.Put("lnk\\out.bin", 0, 1);
         w.Put(".\\lnk/out.bin", 0, 1);
         w.Put(".sectorsieve-1.tmp", 0, 1);
         w.Put("SECTOR~1.TMP", 0, 1);
       }},
      {"empty", [](ArchiveWriter&) {}},
      {"many-failures",
       [](ArchiveWriter& w) {
         w.Append("good.bin", Filler(10, 'g'));
         for (int i = 0; i < 25; ++i) w.Put("bad" + std::to_string(i), -1 - i, 1);
       }},
  };

  for (const Seed& seed : seeds) {
    const fs::path base = work / seed.file;
    {
      ArchiveWriter writer(base);
      seed.pack(writer);
      writer.Close();
    }
    std::string img = Slurp(fs::path(base) += ".img");
    img.resize(img.size() - std::min(seed.cutImg, img.size()));
    const std::string dir = Slurp(fs::path(base) += ".dir") + seed.dirFragment;
    std::ofstream out(folder / seed.file, std::ios::binary | std::ios::trunc);
    const std::string input = sectorsieve::hostile::JoinInput(dir, img);
    out.write(input.data(), static_cast<std::streamsize>(input.size()));
  }
  fs::remove_all(work);
  return 0;
}
