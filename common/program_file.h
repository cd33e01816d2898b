#pragma once

// Where this program's executable file is, for the version record and the pickers' start.

#include <windows.h>

#include <string>

namespace sectorsieve {

// The full path of the executable file, exactly as the system names it; "" if it will not say.
inline std::wstring ProgramFile() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace sectorsieve
