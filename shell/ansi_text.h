#pragma once

// Text crossing between the system's Unicode side and its ANSI code page. A conversion to
// ANSI is exact or refused: a look-alike character would name another file.

#include <string>
#include <string_view>

namespace sectorsieve::shell {

std::wstring Widen(std::string_view text);
// text in the ANSI code page; throws UnconvertibleText when any character has no exact match.
std::string ExactAnsi(std::wstring_view text);

}  // namespace sectorsieve::shell
