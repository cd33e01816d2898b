#include "progress.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "messages.h"

namespace sectorsieve::cli {

namespace {

using Clock = std::chrono::steady_clock;
// Often enough to look alive, rarely enough to cost nothing next to small entries.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string Fixed1(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// Bytes of the UTF-8 sequence that b starts, or 0 for a byte that starts none.
std::size_t Utf8Length(unsigned char b) {
  return b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
}

bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = Utf8Length(b);
    if (n == 0 || i + n > text.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

}  // namespace

RunReport::RunReport(std::FILE* err, bool showProgress, const NameCodec& names, int width,
                     std::FILE* out)
    : err_(err), out_(out), showProgress_(showProgress), width_(width), names_(names) {}

void RunReport::Loaded(const Archive& archive) {
  std::fputs(TrailingBytesWarning(archive, names_).c_str(), err_);
}

void RunReport::EntryStarted(const Archive::Entry& entry) {
  if (out_) std::fputs((Printable(names_.Shown(EntryLabel(entry.Record()))) + "\n").c_str(), out_);
}

double RunReport::Seconds() const {
  return std::chrono::duration<double>(Clock::now() - start_).count();
}

void RunReport::Draw(const std::string& text) {
  // Spaces rub out what a longer line left; the console needs no escape sequences for that.
  const std::size_t width = line_.size();
  std::string out = "\r" + text;
  if (text.size() < width) out += std::string(width - text.size(), ' ') + "\r" + text;
  std::fputs(out.c_str(), err_);
  std::fflush(err_);
  line_ = text;
}

void RunReport::EntryDone(const RunProgress& soFar) {
  if (!showProgress_) return;
  const auto now = Clock::now();
  if (soFar.done != soFar.entries && now - lastDrawn_ < kRedrawEvery) return;
  lastDrawn_ = now;
  Draw(ProgressText(soFar, Seconds(), width_));
}

void RunReport::EntryFailed(const EntryError& failure) {
  const std::string progress = line_;
  Finish();
  std::fputs(
      (Printable(names_.Shown(failure.entry())) + ": " + Displayed(failure.reason(), names_) + "\n")
          .c_str(),
      err_);
  if (!progress.empty()) Draw(progress);
  std::fflush(err_);
}

void RunReport::Finish() {
  if (line_.empty()) return;
  Draw("");
  line_.clear();
}

std::string SizeText(std::int64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  for (; value >= 1024 && unit + 1 < std::size(kUnits); ++unit) value /= 1024;
  return Fixed1(value) + " " + kUnits[unit];
}

std::string ProgressText(const RunProgress& soFar, double seconds, int width) {
  const double fraction =
      soFar.totalBytes > 0
          ? std::min(1.0, static_cast<double>(soFar.bytes) / static_cast<double>(soFar.totalBytes))
      : soFar.entries > 0 ? static_cast<double>(soFar.done) / soFar.entries
                          : 1.0;
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
  std::string tail =
      " " + std::to_string(soFar.done) + "/" + std::to_string(soFar.entries) + " entries";
  if (seconds > 0) {
    const double rate = static_cast<double>(soFar.bytes) / seconds;
    tail += "  " + SizeText(static_cast<std::int64_t>(rate)) + "/s";
    if (rate > 0 && soFar.totalBytes > soFar.bytes) {
      const auto left =
          static_cast<long>(static_cast<double>(soFar.totalBytes - soFar.bytes) / rate);
      char time[32];
      std::snprintf(time, sizeof time, "  %ld:%02ld left", left / 60, left % 60);
      tail += time;
    }
  }
  // The bar takes what the numbers leave of the line, one column spare for the cursor.
  const int barWidth = width - 1 - static_cast<int>(std::strlen(percent) + 3 + tail.size());
  if (barWidth < 10) return std::string(percent) + tail;
  const int filled = static_cast<int>(fraction * barWidth);
  return std::string(percent) + " [" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(barWidth - filled), ' ') + "]" + tail;
}

std::string TrailingBytesWarning(const Archive& archive, const NameCodec& names) {
  if (archive.TrailingBytes() == 0) return {};
  return "sectorsieve: warning: " +
         Printable(Displayed(PartialRecord(archive.Paths().dir, archive.TrailingBytes()), names)) +
         ", which no entry is read from: the archive is damaged, or is no archive\n";
}

std::string Summary(const RunOutcome& outcome, const std::string& destination, double seconds) {
  const std::string written = std::to_string(outcome.written.entries) + " of " +
                              std::to_string(outcome.entries) + " entries (" +
                              SizeText(outcome.written.bytes) + ") into " + destination;
  std::string took = " in " + Fixed1(seconds) + " s.";
  if (outcome.replaced > 0)
    took += " " + std::to_string(outcome.replaced) + " replaced by a later entry of the same name.";
  if (outcome.kept > 0)
    took += " " + std::to_string(outcome.kept) + " kept, as files of their names were there.";
  switch (ExitStatus(outcome)) {
    case EXIT_ALL_WRITTEN:
      return "Extracted " + written + took;
    case EXIT_SOME_FAILED:
      return "Extracted " + written + took + " " + std::to_string(outcome.failures.size()) +
             " could not be extracted.";
    case EXIT_INTERRUPTED:
      return "Interrupted: extracted " + written + took;
    default:
      return "Extraction failed: extracted " + written + took;
  }
}

namespace {

// Code points that take no column (combining marks, zero-width spaces and joiners) and those
// that take two (East Asian wide and fullwidth), as terminals' wcwidth counts them.
constexpr std::pair<char32_t, char32_t> kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
    {0x064B, 0x065F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};
constexpr std::pair<char32_t, char32_t> kDoubleWidth[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},  {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},  {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};

bool In(char32_t c, std::span<const std::pair<char32_t, char32_t>> ranges) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [c](const auto& r) { return c >= r.first && c <= r.second; });
}

}  // namespace

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = Utf8Length(b);
    if (n <= 1 || i + n > text.size()) {
      ++width;
      ++i;
      continue;
    }
    char32_t c = b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k)
      c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    width += In(c, kZeroWidth) ? 0 : In(c, kDoubleWidth) ? 2 : 1;
    i += n;
  }
  return width;
}

std::string Displayed(const std::string& text, const NameCodec& names) {
  return Printable(IsUtf8(text) ? text : names.Shown(text));
}

std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    // U+0080 to U+009F, which some terminals obey as well: CSI is U+009B.
    const bool c1 = b == 0xC2 && i + 1 < text.size() &&
                    (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
    if (c1) {
      const auto c = static_cast<unsigned char>(text[++i]);
      shown += {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
    } else if (b < 0x20 || b == 0x7F) {
      shown += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
    } else {
      shown += static_cast<char>(b);
    }
  }
  return shown;
}

}  // namespace sectorsieve::cli
