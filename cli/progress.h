#pragma once

// What the extract command tells the person or script that runs it.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "extraction.h"
#include "native_names.h"

namespace sectorsieve::cli {

// Failures as "name: reason" lines on err, and on a terminal one progress line that updates
// in place between them, a few times a second.
class RunReport final : public RunObserver {
 public:
  // width: the terminal's columns, which the progress line fits. Where out is given, each
  // entry's name is written there as the run takes it.
  RunReport(std::FILE* err, bool showProgress, const NameCodec& names, int width = 80,
            std::FILE* out = nullptr);

  void Loaded(const Archive& archive) override;
  void EntryStarted(const Archive::Entry& entry) override;
  void EntryDone(const RunProgress& soFar) override;
  void EntryFailed(const EntryError& failure) override;
  // Clears the progress line, so that what follows starts on a clean line.
  void Finish();
  double Seconds() const;

 private:
  void Draw(const std::string& text);

  std::FILE* err_;
  std::FILE* out_;
  bool showProgress_;
  int width_;
  const NameCodec& names_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDrawn_{};
  std::string line_;  // the progress line as last drawn
};

// "1,5 MiB" and the like: bytes in the largest unit that keeps a number of at least 1.
std::string SizeText(std::int64_t bytes);
// " 42% [#######             ] 12/40 entries  1.2 MiB/s  0:05 left", width columns at most.
std::string ProgressText(const RunProgress& soFar, double seconds, int width = 80);
// A warning where the archive's directory file ends in part of a record, or empty.
std::string TrailingBytesWarning(const Archive& archive, const NameCodec& names);
// One line that says how the run ended.
std::string Summary(const RunOutcome& outcome, const std::string& destination, double seconds);
// text with every control character escaped ("\x1b", "\u009b"), so that a name can neither
// fake a line nor command the terminal.
std::string Printable(std::string_view text);
// The columns UTF-8 text takes on a terminal: two for a wide East Asian character, none for a
// combining mark, one for anything else (a byte that is no UTF-8 included).
std::size_t DisplayWidth(std::string_view text);
// text that may mix UTF-8 with a name in names' code page, as the console shows it.
std::string Displayed(const std::string& text, const NameCodec& names);

}  // namespace sectorsieve::cli
