// What the name codec does alike on every platform; the conversions themselves are the
// platform's.

#include "native_names.h"

#include <stdexcept>

namespace sectorsieve::cli {

namespace {

// Only the pages whose lead bytes and superscripts this program knows: in others (EBCDIC's,
// say) "K" reads as "." and "a" as "/", and every check made in the code page means nothing.
std::optional<unsigned> KnownOnly(std::optional<unsigned> codePage) {
  if (codePage && !CodePage::IsKnown(*codePage))
    throw std::invalid_argument("code page " + std::to_string(*codePage) +
                                " is not one this program knows; use one of " +
                                CodePage::kKnownList);
  return codePage;
}

}  // namespace

NameCodec::NameCodec(std::optional<unsigned> codePage) : cp_(Converted(KnownOnly(codePage))) {}

std::string NameCodec::Shown(std::string_view name) const {
  return ShownName(name, cp_, [this](std::string_view text) { return ToUtf8(text); });
}

}  // namespace sectorsieve::cli
