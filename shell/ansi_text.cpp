#include "ansi_text.h"

#include <windows.h>

#include "names.h"
#include "wide_text.h"

namespace sectorsieve::shell {

std::wstring Widen(std::string_view text) { return ToUtf16(CP_ACP, 0, text).value_or(L""); }

std::string ExactAnsi(std::wstring_view text) {
  std::string shown;
  if (auto ansi = Encode(::GetACP(), text, &shown)) return *ansi;
  throw UnconvertibleText(shown);
}

std::string ExactUtf8(std::wstring_view text) {
  if (auto utf8 = Utf8(text)) return *utf8;
  // Each lone surrogate as U+FFFD, for the message that refuses the text.
  throw UnconvertibleText(FromUtf16(0, text).value_or(""));
}

std::string AnsiToUtf8(std::string_view text) { return Utf8(Widen(text)).value_or(""); }

}  // namespace sectorsieve::shell
