#include "program_win.h"

#include <windows.h>

#include <stdexcept>

#include "start_process_win.h"
#include "test_support.h"
#include "wide_text.h"
#include "win_handles.h"

namespace sectorsieve::testing {

namespace {

unique_hfile Inheritable(const fs::path& path, bool read = false) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return unique_hfile(::CreateFileW(path.c_str(), read ? GENERIC_READ : GENERIC_WRITE,
                                    FILE_SHARE_READ, &inherit, read ? OPEN_EXISTING : CREATE_ALWAYS,
                                    0, nullptr));
}

// The program's full path, and the command line that starts it with args.
std::pair<std::wstring, std::wstring> CommandLine(const std::vector<std::string>& args) {
  std::wstring program(MAX_PATH * 2, L'\0');
  program.resize(::GetFullPathNameW(Utf16(SECTORSIEVE_CLI).c_str(),
                                    static_cast<DWORD>(program.size()), program.data(), nullptr));
  // Arguments in tests hold no quotes. A backslash right before the closing quote is
  // doubled: the system's parser would take the two for a quote within the argument.
  std::wstring command = L"\"" + program + L"\"";
  for (const std::string& a : args) {
    std::wstring arg = Utf16(a);
    if (arg.ends_with(L'\\')) arg += L'\\';
    command += L" \"" + arg + L"\"";
  }
  return {program, command};
}

}  // namespace

unique_kernel_handle StartProgram(const std::vector<std::string>& args) {
  const auto [program, command] = CommandLine(args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  const PROCESS_INFORMATION info =
      StartProcess(program.c_str(), command, FALSE, CREATE_NO_WINDOW, nullptr, startup);
  const unique_kernel_handle thread(info.hThread);
  return unique_kernel_handle(info.hProcess);
}

Output RunProgram(const std::vector<std::string>& args, const std::string& input) {
  const TempDir files;
  const fs::path in = files.path() / "in";
  const fs::path out = files.path() / "out";
  const fs::path err = files.path() / "err";
  WriteBytes(in, input);
  Output result;
  {
    const auto inFile = Inheritable(in, true);
    const auto outFile = Inheritable(out);
    const auto errFile = Inheritable(err);
    const auto [program, command] = CommandLine(args);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inFile.get();
    startup.hStdOutput = outFile.get();
    startup.hStdError = errFile.get();
    const PROCESS_INFORMATION info =
        StartProcess(program.c_str(), command, TRUE, CREATE_NO_WINDOW, nullptr, startup);
    const unique_kernel_handle process(info.hProcess);
    const unique_kernel_handle thread(info.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    result.status = static_cast<int>(code);
  }
  result.out = result.outBytes = ReadBytes(out);
  result.err = ReadBytes(err);
  // The console program writes lines as the system does.
  for (std::string* text : {&result.out, &result.err})
    for (std::size_t at; (at = text->find("\r\n")) != std::string::npos;) text->erase(at, 1);
  return result;
}

}  // namespace sectorsieve::testing
