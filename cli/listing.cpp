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

}  // namespace

std::vector<ListedEntry> ListEntries(const Catalogue& entries, const FileSystem& fs,
                                     std::int64_t imgSize) {
  std::vector<ListedEntry> listed;
  listed.reserve(entries.Count());
  for (const clsImgFile& entry : entries)
    listed.push_back({listed.size(), DecideEntry(entry, imgSize, fs)});
  return listed;
}

std::string ListingText(const std::vector<ListedEntry>& entries, const NameCodec& names) {
  std::string text;
  for (const ListedEntry& e : entries) {
    const std::string shown =
        e.output.sName.empty() ? "(no name)" : Printable(names.Shown(e.output.sName));
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%12lld %12lld", static_cast<long long>(e.output.lStart),
                  static_cast<long long>(e.output.lCount));
    std::string line = std::to_string(e.index);
    line.insert(0, line.size() < 6 ? 6 - line.size() : 0, ' ');
    line += "  " + shown;
    const std::size_t width = DisplayWidth(shown);
    line.append(width < ENTRY_NAME_LENGTH ? ENTRY_NAME_LENGTH - width : 0, ' ');
    line += std::string(" ") + numbers;
    if (!e.output.sRefusal.empty()) line += "  refused: " + e.output.sRefusal;
    text += line + "\n";
  }
  return text;
}

std::string ListingJson(const std::vector<ListedEntry>& entries, const NameCodec& names) {
  std::string json = "[";
  for (const ListedEntry& e : entries) {
    if (json.size() > 1) json += ",";
    json += "\n  {\"index\": " + std::to_string(e.index) +
            ", \"name\": " + JsonString(Utf8OrShown(e.output.sName, names)) + ", \"bytes\": \"" +
            Hex(e.output.sName) + "\", \"offset\": " + std::to_string(e.output.lStart) +
            ", \"size\": " + std::to_string(e.output.lCount) + ", \"refusal\": " +
            (e.output.sRefusal.empty() ? "null" : JsonString(e.output.sRefusal)) + "}";
  }
  return json + (entries.empty() ? "]\n" : "\n]\n");
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
