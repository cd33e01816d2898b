#include "listing.h"

#include <algorithm>
#include <cstdio>

#include "progress.h"

namespace sectorsieve::cli {

namespace {

// The name's bytes as they are in the record, for scripts that must tell them apart.
std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex += {kHex[b >> 4], kHex[b & 15]};
  }
  return hex;
}

std::string Utf8OrShown(std::string_view name, const NameCodec& names) {
  auto utf8 = names.ToUtf8(name);
  return utf8 ? *utf8 : names.Shown(name);
}

// Calls list for each picked entry, in directory order.
template <typename List>
void ForEachPicked(const Archive& archive, const Picks& picked, const List& list) {
  const std::size_t count = picked ? picked->size() : archive.size();
  for (std::size_t i = 0; i < count; ++i) list(archive[picked ? (*picked)[i] : i]);
}

}  // namespace

std::string ListingText(const Archive& archive, const Picks& picked, const NameCodec& names) {
  std::string text;
  ForEachPicked(archive, picked, [&](const Archive::Entry& e) {
    const std::string shown =
        e.FileName().empty() ? "(no name)" : Printable(names.Shown(e.FileName()));
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%12lld %12lld", static_cast<long long>(e.Start()),
                  static_cast<long long>(e.Bytes()));
    std::string line = std::to_string(e.Index());
    line.insert(0, line.size() < 6 ? 6 - line.size() : 0, ' ');
    line += "  " + shown;
    line.append(shown.size() < ENTRY_NAME_LENGTH ? ENTRY_NAME_LENGTH - shown.size() : 0, ' ');
    line += std::string(" ") + numbers;
    if (e.Refused()) line += "  refused: " + archive.Refusal(e);
    text += line + "\n";
  });
  return text;
}

std::string ListingJson(const Archive& archive, const Picks& picked, const NameCodec& names) {
  std::string json = "[";
  ForEachPicked(archive, picked, [&](const Archive::Entry& e) {
    if (json.size() > 1) json += ",";
    json += "\n  {\"index\": " + std::to_string(e.Index()) +
            ", \"name\": " + JsonString(Utf8OrShown(e.FileName(), names)) + ", \"bytes\": \"" +
            Hex(e.FileName()) + "\", \"offset\": " + std::to_string(e.Start()) +
            ", \"size\": " + std::to_string(e.Bytes()) +
            ", \"refusal\": " + (e.Refused() ? JsonString(archive.Refusal(e)) : "null") + "}";
  });
  return json + (json.size() == 1 ? "]\n" : "\n]\n");
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          json += escaped;
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}

}  // namespace sectorsieve::cli
