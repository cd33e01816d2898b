// The floor that an extraction is measured against: each entry of an archive created under
// its name in FOLDER and its bytes copied by the kernel, in directory order, on one thread.
// No checks, no temporary names, nothing else: what laying the bytes down costs, and no more.
// With --unnamed, each file is made without a name and linked to its name once written, as
// the extraction makes them so that a killed run leaves no part of a file under a name.
//
//   sectorsieve_floor [--unnamed] ARCHIVE.dir ARCHIVE.img FOLDER

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "floor_record.h"

using namespace floor_record;

int main(int argc, char** argv) {
  const bool unnamed = argc == 5 && std::strcmp(argv[1], "--unnamed") == 0;
  if (argc != 4 + unnamed) return 2;
  argv += unnamed;
  std::FILE* dir = std::fopen(argv[1], "rb");
  const int img = ::open(argv[2], O_RDONLY);
  const int out = ::open(argv[3], O_RDONLY | O_DIRECTORY);
  if (!dir || img < 0 || out < 0) return 2;
  unsigned char record[RECORD];
  while (std::fread(record, RECORD, 1, dir) == 1) {
    const Entry entry = Read(record);
    off_t at = entry.offset;
    std::int64_t left = entry.bytes;
    const int fd = unnamed ? ::openat(out, ".", O_TMPFILE | O_WRONLY, 0644)
                           : ::openat(out, entry.name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    while (left > 0) {
      const ssize_t n = ::copy_file_range(img, &at, fd, nullptr, static_cast<std::size_t>(left), 0);
      if (n <= 0) return 1;
      left -= n;
    }
    if (unnamed) {
      char self[32];
      std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
      if (::linkat(AT_FDCWD, self, out, entry.name, AT_SYMLINK_FOLLOW) != 0) return 1;
    }
    ::close(fd);
  }
  return 0;
}
