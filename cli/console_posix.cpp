#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "console.h"

namespace sectorsieve::cli {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "the signal is kept by a signal handler");
std::atomic<bool> gInterrupted{false};
std::atomic<int> gSignal{SIGINT};

extern "C" void OnInterrupt(int signal) {
  gSignal = signal;
  gInterrupted = true;
}

}  // namespace

const std::atomic<bool>& CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  ::sigemptyset(&action.sa_mask);
  // Reads and writes in hand go on; the seam retries what the signal interrupts anyway.
  action.sa_flags = SA_RESTART;
  // Ctrl+C, a service manager or timeout stopping us, the terminal closing: all polite stops.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  return gInterrupted;
}

int InterruptedStatus() { return 128 + gSignal; }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int TerminalWidth() {
  winsize size{};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void BinaryStdout() {}
void BinaryStdin() {}

ConsoleText::ConsoleText() = default;
ConsoleText::~ConsoleText() = default;

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace sectorsieve::cli
