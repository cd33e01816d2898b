// Wine's CreateSymbolicLink makes nothing; Wine starts a Linux program as it would a Windows
// one, so ln makes the link, between the Linux paths of the two.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "unix_link.h"

namespace sectorsieve::testing {

namespace {

// path may start with "\\\\?\\", which Wine's own reading does without.
std::string UnixPath(std::filesystem::path path) {
  if (path.wstring().starts_with(L"\\\\?\\")) path = path.wstring().substr(4);
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return {};
  char* unix = toUnix(std::filesystem::absolute(path).wstring().c_str());
  if (unix == nullptr) return {};
  std::string result(unix);
  ::HeapFree(::GetProcessHeap(), 0, unix);
  return result;
}

}  // namespace

void MakeUnixLink(const std::filesystem::path& target, const std::filesystem::path& link) {
  const std::string to = UnixPath(target);
  // The link's own name as it is: Wine's reading of a path would drop a trailing dot.
  const std::string folder = UnixPath(link.parent_path());
  ASSERT_FALSE(to.empty() || folder.empty()) << "not running under Wine";
  const std::string at = folder + "/" + link.filename().string();
  std::string command = "Z:\\bin\\ln -s \"" + to + "\" \"" + at + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
      << command;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  // Wine neither waits for a Linux program so started nor knows its exit code: the link
  // itself says when ln is done.
  for (int poll = 0; poll < 1000; ++poll) {
    if (::GetFileAttributesW(link.wstring().c_str()) != INVALID_FILE_ATTRIBUTES) return;
    ::Sleep(10);
  }
  FAIL() << "no link after " << command;
}

}  // namespace sectorsieve::testing
