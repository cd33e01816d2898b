#include "ansi_text.h"

#include <windows.h>

#include "names.h"
#include "wide_text.h"

namespace sectorsieve::shell {

namespace {

// Characters the code page lacks become "?" rather than a look-alike; usedDefault says so.
std::string ToAnsi(std::wstring_view text, BOOL* usedDefault) {
  if (text.empty()) return {};
  // The UTF-8 code page holds every character and takes neither the flag nor the report.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* report = utf8 ? nullptr : usedDefault;
  const int size = static_cast<int>(text.size());
  const int n =
      ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr, report);
  std::string ansi(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, ansi.data(), n, nullptr, report);
  return ansi;
}

}  // namespace

std::wstring Widen(std::string_view text) { return ToUtf16(CP_ACP, 0, text).value_or(L""); }

std::string ExactAnsi(std::wstring_view text) {
  BOOL usedDefault = FALSE;
  std::string ansi = ToAnsi(text, &usedDefault);
  // The way back catches what the flag does not (unpaired surrogates, for one).
  if (usedDefault || Widen(ansi) != text) throw UnconvertibleText(ansi);
  return ansi;
}

std::string ExactUtf8(std::wstring_view text) {
  if (auto utf8 = Utf8(text)) return *utf8;
  // Each lone surrogate as U+FFFD, for the message that refuses the text.
  throw UnconvertibleText(FromUtf16(0, text).value_or(""));
}

std::string AnsiToUtf8(std::string_view text) { return Utf8(Widen(text)).value_or(""); }

}  // namespace sectorsieve::shell
