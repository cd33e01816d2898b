#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "wide_text.h"

namespace sectorsieve::testing {

// CreateProcessW for the tests. Wine, rarely and for no reason a test could see, fails to start
// a process: the new one ends before it runs any of its own code. A second try starts it; a
// program that cannot start fails every try, and the error names each try's reason.
inline PROCESS_INFORMATION StartProcess(const wchar_t* application, std::wstring command,
                                        BOOL inheritHandles, DWORD flags, const wchar_t* folder,
                                        STARTUPINFOW& startup) {
  std::string reasons;
  for (int attempt = 0; attempt < 3; ++attempt) {
    PROCESS_INFORMATION info{};
    std::wstring line = command;  // CreateProcessW may write into its command line
    if (::CreateProcessW(application, line.data(), nullptr, nullptr, inheritHandles, flags, nullptr,
                         folder, &startup, &info))
      return info;
    reasons += " " + std::to_string(::GetLastError());
    ::Sleep(100);
  }
  throw std::runtime_error("cannot start " + Utf8(command).value_or("a program") +
                           ": system error" + reasons);
}

}  // namespace sectorsieve::testing
