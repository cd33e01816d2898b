// Entry names on POSIX systems: converted with the C library's iconv, exactly or not at all.

#include <iconv.h>

#include <cerrno>
#include <map>
#include <stdexcept>

#include "native_names.h"
#include "unique_handle.h"

namespace sectorsieve::cli {

namespace {

struct IconvTraits {
  using pointer = iconv_t;
  static pointer invalid() { return reinterpret_cast<iconv_t>(-1); }
  static void close(iconv_t cd) { ::iconv_close(cd); }
};

// Converts all of text with cd; nothing when a character has no exact match or is cut short.
std::optional<std::string> Convert(iconv_t cd, std::string_view text) {
  // Back to the initial state: a failed conversion may have left one behind.
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string in(text);
  // A byte of a single-byte code page gives at most 3 bytes of UTF-8, and no UTF-8 sequence
  // gives more bytes in an ANSI code page than it has.
  std::string out(in.size() * 4 + 4, '\0');
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
      ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
    return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

unique_handle<IconvTraits> Open(const std::string& to, const std::string& from, unsigned id) {
  unique_handle<IconvTraits> cd(::iconv_open(to.c_str(), from.c_str()));
  if (!cd)
    throw std::invalid_argument("code page " + std::to_string(id) +
                                " is not one this system can convert names from");
  return cd;
}

// iconv keeps a state in each descriptor, and names are converted on the run's thread and on
// the threads that finish files: each thread converts with descriptors of its own, one for each
// direction, opened the first time it converts in a code page. No conversion waits for another.
struct Converters {
  unique_handle<IconvTraits> toUtf8;
  unique_handle<IconvTraits> fromUtf8;
};

const Converters& ConvertersFor(unsigned id) {
  thread_local std::map<unsigned, Converters> opened;
  auto it = opened.find(id);
  if (it == opened.end()) {
    const std::string page = "CP" + std::to_string(id);
    it = opened.emplace(id, Converters{Open("UTF-8", page, id), Open(page, "UTF-8", id)}).first;
  }
  return it->second;
}

}  // namespace

CodePage NameCodec::Converted(std::optional<unsigned> codePage) {
  const unsigned id = codePage.value_or(1252);
  // Here, where a code page the system cannot convert is refused in plain words.
  ConvertersFor(id);
  return CodePage::Known(id);
}

std::optional<std::string> NameCodec::ToUtf8(std::string_view name) const {
  return Convert(ConvertersFor(cp_.Id()).toUtf8.get(), name);
}

std::optional<std::string> NameCodec::EntryName(const std::filesystem::path& file) const {
  // The way back catches the characters the C library takes into the code page one way only
  // (932's "〜" becomes the bytes of "～"): such a name would come back as another.
  auto bytes = Convert(ConvertersFor(cp_.Id()).fromUtf8.get(), file.native());
  if (!bytes || ToUtf8(*bytes) != file.native()) return std::nullopt;
  return bytes;
}

std::filesystem::path PathOf(const std::string& text) { return text; }

}  // namespace sectorsieve::cli
