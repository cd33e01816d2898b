#pragma once

// What the command line needs of the console it runs in.

#include <atomic>
#include <string>
#include <vector>

namespace sectorsieve::cli {

// From now on every polite stop only raises the flag returned: the run stops at the next
// piece of the entry in hand, which it abandons. Those are Ctrl+C, SIGTERM and SIGHUP on
// Linux; Ctrl+C, Ctrl+Break and the console's close, logoff and shutdown on Windows.
const std::atomic<bool>& CatchInterrupts();
// The exit status that tells which stop came, as a shell reports a process it ended: 128 and
// the signal's number (130 for Ctrl+C).
int InterruptedStatus();

// True when standard error is a terminal (a console on Windows) that a person watches.
bool StderrIsTerminal();
// The columns of that terminal; 80 when it does not say.
int TerminalWidth();

// For as long as it lives, the console shows the program's text, UTF-8, as the characters it
// means (on Windows, whose console shows its own code page otherwise); elsewhere it does
// nothing.
class ConsoleText {
 public:
  ConsoleText();
  ~ConsoleText();
  ConsoleText(const ConsoleText&) = delete;
  ConsoleText& operator=(const ConsoleText&) = delete;

 private:
  unsigned saved_ = 0;
};

// Makes standard output carry bytes exactly as written from here on (on Windows, where a
// redirected one turns every "\n" into "\r\n" otherwise); elsewhere it does nothing.
void BinaryStdout();
// The same for standard input: bytes exactly as they come.
void BinaryStdin();

// The arguments after the program's name, in UTF-8 on Windows too, taken exactly from the
// Unicode command line; one that is not Unicode text throws std::invalid_argument.
std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace sectorsieve::cli
