#include "listing.h"

#include <algorithm>
#include <cstdio>

#include "progress.h"

namespace sectorsieve::cli {

namespace {

// The name up to its first space, cut to the record's field, as ExtractEntry writes it.
std::string OutputName(const clsImgFile& entry) {
  std::string field = SpacesToNulls(entry.sName());
  field.resize(ENTRY_NAME_LENGTH, '\0');
  return field.substr(0, field.find('\0'));
}

// ExtractEntry's checks, in its order and words.
std::string Refusal(const clsImgFile& entry, const std::string& name, const CodePage& cp,
                    std::int64_t imgSize) {
  if (entry.lOffset() < 0) return "has a negative offset";
  if (entry.lSize() < 0) return "has a negative size";
  if (std::string reason = UnsafeNameReason(name, cp); !reason.empty()) return reason;
  const std::int64_t start = std::int64_t{entry.lOffset()} * SECTOR_SIZE;
  const std::int64_t count = std::int64_t{entry.lSize()} * SECTOR_SIZE;
  const std::int64_t sectorsEnd = (imgSize + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE;
  if (count > sectorsEnd - start) return "lies beyond the end of the archive";
  return {};
}

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

std::vector<ListedEntry> ListEntries(const Catalogue& entries, const CodePage& cp,
                                     std::int64_t imgSize, const NameCheck& platformRefusal) {
  std::vector<ListedEntry> listed;
  listed.reserve(entries.Count());
  for (const clsImgFile& entry : entries) {
    ListedEntry item;
    item.index = listed.size();
    item.name = OutputName(entry);
    item.offset = std::int64_t{entry.lOffset()} * SECTOR_SIZE;
    item.size = std::int64_t{entry.lSize()} * SECTOR_SIZE;
    item.refusal = Refusal(entry, item.name, cp, imgSize);
    if (item.refusal.empty()) item.refusal = platformRefusal(item.name);
    listed.push_back(std::move(item));
  }
  return listed;
}

std::string ListingText(const std::vector<ListedEntry>& entries, const NameCodec& names) {
  std::string text;
  for (const ListedEntry& e : entries) {
    const std::string shown = e.name.empty() ? "(no name)" : Printable(names.Shown(e.name));
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%12lld %12lld", static_cast<long long>(e.offset),
                  static_cast<long long>(e.size));
    std::string line = std::to_string(e.index);
    line.insert(0, line.size() < 6 ? 6 - line.size() : 0, ' ');
    line += "  " + shown;
    line.append(shown.size() < ENTRY_NAME_LENGTH ? ENTRY_NAME_LENGTH - shown.size() : 0, ' ');
    line += std::string(" ") + numbers;
    if (!e.refusal.empty()) line += "  refused: " + e.refusal;
    text += line + "\n";
  }
  return text;
}

std::string ListingJson(const std::vector<ListedEntry>& entries, const NameCodec& names) {
  std::string json = "[";
  for (const ListedEntry& e : entries) {
    if (json.size() > 1) json += ",";
    json += "\n  {\"index\": " + std::to_string(e.index) +
            ", \"name\": " + JsonString(Utf8OrShown(e.name, names)) + ", \"bytes\": \"" +
            Hex(e.name) + "\"" + ", \"offset\": " + std::to_string(e.offset) +
            ", \"size\": " + std::to_string(e.size) +
            ", \"refusal\": " + (e.refusal.empty() ? "null" : JsonString(e.refusal)) + "}";
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
