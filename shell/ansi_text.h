#pragma once

// Text crossing between the system's Unicode side, its ANSI code page and the program's UTF-8.
// A conversion is exact or refused: a look-alike character would name another file.

#include <string>
#include <string_view>

namespace sectorsieve::shell {

std::wstring Widen(std::string_view text);
// text in the ANSI code page; throws UnconvertibleText when any character has no exact match.
std::string ExactAnsi(std::wstring_view text);
// text in UTF-8, as the program holds paths; throws UnconvertibleText for text that is not
// UTF-16 (a surrogate without its pair), which no path of ours can name.
std::string ExactUtf8(std::wstring_view text);
// ANSI text in UTF-8.
std::string AnsiToUtf8(std::string_view text);

}  // namespace sectorsieve::shell
