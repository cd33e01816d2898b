// Wine's CreateSymbolicLink makes nothing; Wine starts a Linux program as it would a Windows
// one, so ln makes the link, between the Linux paths of the two.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "unix_link.h"

namespace sectorsieve::testing {

namespace {

std::string UnixPath(const std::filesystem::path& path) {
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
  const std::string at = UnixPath(link);
  ASSERT_FALSE(to.empty() || at.empty()) << "not running under Wine";
  std::string command = "Z:\\bin\\ln -s \"" + to + "\" \"" + at + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
      << command;
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  ASSERT_EQ(code, 0u) << command;
}

}  // namespace sectorsieve::testing
