#include "name_matching.h"

#include <algorithm>

#include "case_table.h"

namespace sectorsieve {

namespace {

// A byte of a character that does not convert, as a code point no text can hold (a lone
// surrogate), so that it matches only "*" and "?".
constexpr char32_t kUnconverted = 0xDC00;

// UTF-8 as code points; a malformed byte stands for itself as kUnconverted does.
std::u32string FromUtf8(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int more = b < 0x80         ? 0
                     : (b >> 5) == 6  ? 1
                     : (b >> 4) == 14 ? 2
                     : (b >> 3) == 30 ? 3
                                      : -1;
    char32_t c = more == 0 ? b : more == 1 ? b & 0x1F : more == 2 ? b & 0x0F : b & 0x07;
    bool whole = more >= 0 && i + static_cast<std::size_t>(more) < text.size();
    for (int k = 1; whole && k <= more; ++k) {
      const auto t = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      whole = (t & 0xC0) == 0x80;
      c = c << 6 | (t & 0x3F);
    }
    if (!whole) {
      out += kUnconverted + b;
      ++i;
    } else {
      out += c;
      i += 1 + static_cast<std::size_t>(more);
    }
  }
  return out;
}

// name in Unicode: whole where it converts, else character by character.
std::u32string Decoded(std::string_view name, const CodePage& cp, const NameText& toUtf8) {
  // Every ANSI code page reads bytes below 0x80 as ASCII: most names need no conversion.
  if (std::all_of(name.begin(), name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::u32string(name.begin(), name.end());
  if (auto whole = toUtf8(name)) return FromUtf8(*whole);
  std::u32string out;
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t n = cp.CharLength(name, i);
    if (auto c = toUtf8(name.substr(i, n))) {
      out += FromUtf8(*c);
    } else {
      for (std::size_t k = i; k < i + n; ++k)
        out += kUnconverted + static_cast<unsigned char>(name[k]);
    }
    i += n;
  }
  return out;
}

// Windows makes both names capitals to compare them; the table holds the small letters of
// every code page this program knows, in every script.
char32_t Folded(char32_t c) {
  // The table's only small letters below 0x80 are ASCII's.
  if (c < 0x80) return c >= U'a' && c <= U'z' ? c - 32 : c;
  for (const CaseRun& run : kCaseRuns)
    if (c >= run.first && c <= run.last && (c - run.first) % run.stride == 0)
      return static_cast<char32_t>(static_cast<std::int32_t>(c) + run.shift);
  return c;
}

// Whether key matches pattern whole. On a mismatch the last "*" takes one more character:
// enough, since nothing but "*" can take a run of any length.
bool Glob(std::u32string_view pattern, std::u32string_view key) {
  std::size_t p = 0, k = 0, star = std::u32string_view::npos, resume = 0;
  while (k < key.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == key[k])) {
      ++p;
      ++k;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      star = p++;
      resume = k;
    } else if (star != std::u32string_view::npos) {
      p = star + 1;
      k = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

}  // namespace

std::u32string NameKey(std::u32string name) {
  std::u32string key;
  key.reserve(name.size());
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = name.find_first_of(U"\\/", start);
    if (end == std::u32string::npos) end = name.size();
    std::size_t last = end;
    while (last > start && (name[last - 1] == U'.' || name[last - 1] == U' ')) --last;
    for (std::size_t i = start; i < last; ++i) key += Folded(name[i]);
    if (end == name.size()) break;
    key += U'\\';
    start = end + 1;
  }
  return key;
}

std::u32string NameKey(std::string_view name, const CodePage& cp, const NameText& toUtf8) {
  return NameKey(Decoded(name, cp, toUtf8));
}

NamePattern::NamePattern(std::string_view utf8) : text_(utf8), key_(NameKey(FromUtf8(utf8))) {}

bool NamePattern::Matches(std::u32string_view key) const { return Glob(key_, key); }

}  // namespace sectorsieve
