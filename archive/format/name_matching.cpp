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

// Whether the characters of a key from its place from on match pattern, which has no "*",
// character for character. at gives the key's character at a place.
template <typename CodeAt>
bool Same(std::u32string_view pattern, std::size_t from, CodeAt at) {
  for (std::size_t i = 0; i < pattern.size(); ++i)
    if (pattern[i] != U'?' && pattern[i] != at(from + i)) return false;
  return true;
}

// Whether the key of length characters that at gives matches pattern whole. What comes before
// the first "*" must begin the key, and what follows the last end it: most names of a filter
// fail there, at once. Between them, on a mismatch the last "*" takes one more character:
// enough, since nothing but "*" can take a run of any length.
template <typename CodeAt>
bool Glob(std::u32string_view pattern, std::size_t length, CodeAt at) {
  const std::size_t first = pattern.find(U'*');
  if (first == std::u32string_view::npos) return pattern.size() == length && Same(pattern, 0, at);
  const std::size_t tail = pattern.size() - pattern.rfind(U'*') - 1;
  if (length < first + tail || !Same(pattern.substr(0, first), 0, at) ||
      !Same(pattern.substr(pattern.size() - tail), length - tail, at))
    return false;
  pattern = pattern.substr(first, pattern.size() - tail - first);
  const std::size_t end = length - tail;
  std::size_t p = 0, k = first, star = std::u32string_view::npos, resume = 0;
  while (k < end) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == at(k))) {
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

char32_t CodeOf(char ascii) { return static_cast<unsigned char>(ascii); }
char32_t CodeOf(char32_t code) { return code; }

// Appends name's key to key: each part without its trailing dots and spaces, "/" as "\\".
template <typename Text>
void AppendKey(const Text& name, std::u32string& key) {
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = start;
    while (end < name.size() && name[end] != '\\' && name[end] != '/') ++end;
    std::size_t last = end;
    while (last > start && (name[last - 1] == '.' || name[last - 1] == ' ')) --last;
    for (std::size_t i = start; i < last; ++i) key += Folded(CodeOf(name[i]));
    if (end == name.size()) break;
    key += U'\\';
    start = end + 1;
  }
}

}  // namespace

std::u32string NameKey(std::u32string name) {
  std::u32string key;
  key.reserve(name.size());
  AppendKey(name, key);
  return key;
}

std::u32string NameKey(std::string_view name, const CodePage& cp, const NameText& toUtf8) {
  std::u32string key;
  NameKey(name, cp, toUtf8, key);
  return key;
}

void NameKey(std::string_view name, const CodePage& cp, const NameText& toUtf8,
             std::u32string& key) {
  key.clear();
  // Every ANSI code page reads bytes below 0x80 as ASCII: most names need no conversion.
  if (std::all_of(name.begin(), name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    AppendKey(name, key);
  else
    AppendKey(Decoded(name, cp, toUtf8), key);
}

NamePattern::NamePattern(std::string_view utf8) : text_(utf8), key_(NameKey(FromUtf8(utf8))) {}

bool NamePattern::Matches(std::u32string_view key) const {
  return Glob(key_, key.size(), [&](std::size_t k) { return key[k]; });
}

bool NamePattern::MatchesAscii(std::string_view name) const {
  return Glob(key_, name.size(), [&](std::size_t k) { return Folded(CodeOf(name[k])); });
}

}  // namespace sectorsieve
