#include <fcntl.h>
#include <io.h>
#include <windows.h>
// The shell's header needs the types of windows.h.
#include <shellapi.h>

#include <cstdio>
#include <stdexcept>

#include "console.h"
#include "unique_handle.h"
#include "wide_text.h"
#include "win_handles.h"

namespace sectorsieve::cli {

namespace {

std::atomic<bool> gInterrupted{false};

bool IsConsole(std::FILE* stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))), &mode) !=
         0;
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      gInterrupted = true;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends as soon as this returns: wait here while the run finishes the entry
      // in hand and cleans up, for as long as the system allows, until it ends the process.
      gInterrupted = true;
      ::Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

const std::atomic<bool>& CatchInterrupts() {
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  return gInterrupted;
}

int InterruptedStatus() { return 130; }

int TerminalWidth() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void BinaryStdout() {
  std::fflush(stdout);
  ::_setmode(::_fileno(stdout), _O_BINARY);
}

void BinaryStdin() { ::_setmode(::_fileno(stdin), _O_BINARY); }

ConsoleText::ConsoleText() : saved_(::GetConsoleOutputCP()) {
  // No console, nothing to set: redirected output is UTF-8 bytes as they are.
  if (saved_ == 0) return;
  ::SetConsoleOutputCP(CP_UTF8);
  // In text mode the C library reads the bytes in its own locale before the console sees
  // them, and unless told otherwise it hands a console one byte at a time, which is no UTF-8
  // character; the console, which starts a new line at "\n" by itself, gets each text whole.
  for (std::FILE* stream : {stdout, stderr}) {
    if (!IsConsole(stream)) continue;
    ::_setmode(::_fileno(stream), _O_BINARY);
    std::setvbuf(stream, nullptr, _IONBF, 0);
  }
}

ConsoleText::~ConsoleText() {
  if (saved_ == 0) return;
  // What is still buffered is shown in the code page it was written for.
  for (std::FILE* stream : {stdout, stderr}) {
    std::fflush(stream);
    if (IsConsole(stream)) ::_setmode(::_fileno(stream), _O_TEXT);
  }
  ::SetConsoleOutputCP(saved_);
}

std::vector<std::string> Arguments(int, char**) {
  int count = 0;
  const unique_argument_list wide(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!wide) throw std::invalid_argument("the command line could not be read");
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    auto utf8 = Utf8(wide.get()[i]);
    if (!utf8)
      throw std::invalid_argument("argument " + std::to_string(i) +
                                  " is not Unicode text: it holds half of a surrogate pair");
    args.push_back(std::move(*utf8));
  }
  return args;
}

}  // namespace sectorsieve::cli
