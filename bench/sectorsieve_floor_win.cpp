// The floor that an extraction is measured against on Windows: each entry of an archive
// created under its name in FOLDER, its bytes written and the file closed, in directory order,
// on one thread. No checks, no temporary names, nothing else: what laying the bytes down costs
// through the system's file functions, and no more. With --temp, each file is written under a
// temporary name and renamed over its entry's name once closed, as a program that never shows
// part of a file under a name did it before files could be made under their names.
//
//   sectorsieve_floor_win [--temp] ARCHIVE.dir ARCHIVE.img FOLDER

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "floor_record.h"

using namespace floor_record;

namespace {

// Bytes in the system's code page, as the ANSI file functions take them.
std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            static_cast<int>(wide.size()))));
  return wide;
}

std::vector<char> ReadAll(const std::wstring& path) {
  const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  LARGE_INTEGER size{};
  std::vector<char> bytes;
  DWORD got = 0;
  if (::GetFileSizeEx(h, &size)) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    if (!::ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
        got != bytes.size())
      bytes.clear();
  }
  ::CloseHandle(h);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const bool temp = argc == 5 && std::strcmp(argv[1], "--temp") == 0;
  if (argc != 4 + temp) return 2;
  argv += temp;
  const std::vector<char> dir = ReadAll(Wide(argv[1]));
  const HANDLE img = ::CreateFileW(Wide(argv[2]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  const std::wstring folder = Wide(argv[3]) + L"\\";
  if (dir.empty() || img == INVALID_HANDLE_VALUE) return 2;
  std::vector<char> buffer;
  for (std::size_t at = 0; at + RECORD <= dir.size(); at += RECORD) {
    const auto* record = reinterpret_cast<const unsigned char*>(dir.data() + at);
    const Entry entry = Read(record);
    const auto bytes = static_cast<DWORD>(entry.bytes);
    buffer.resize(bytes);
    OVERLAPPED from{};
    from.Offset = static_cast<DWORD>(entry.offset);
    from.OffsetHigh = static_cast<DWORD>(entry.offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(img, buffer.data(), bytes, &got, &from) || got != bytes) return 1;
    const std::wstring path = folder + Wide(entry.name);
    const std::wstring written = temp ? folder + L".floor-" + std::to_wstring(at) + L".tmp" : path;
    const HANDLE out = ::CreateFileW(written.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    if (out == INVALID_HANDLE_VALUE || !::WriteFile(out, buffer.data(), bytes, &put, nullptr) ||
        put != bytes || !::CloseHandle(out))
      return 1;
    if (temp && !::MoveFileExW(written.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
  }
  ::CloseHandle(img);
  return 0;
}
