#include "listing.h"

#include <algorithm>
#include <cstdio>

#include "messages.h"
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
    const std::size_t width = DisplayWidth(shown);
    line.append(width < ENTRY_NAME_LENGTH ? ENTRY_NAME_LENGTH - width : 0, ' ');
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
            Hex(archive.StoredName(e)) + "\", \"offset\": " + std::to_string(e.Start()) +
            ", \"size\": " + std::to_string(e.Bytes()) +
            ", \"refusal\": " + (e.Refused() ? JsonString(archive.Refusal(e)) : "null") + "}";
  });
  return json + (json.size() == 1 ? "]\n" : "\n]\n");
}

namespace {

// An entry as the check names it: its index and its name as people read it.
std::string Named(const Archive& archive, std::size_t index, const NameCodec& names) {
  return std::to_string(index) + " (" +
         Printable(names.Shown(EntryLabel(archive[index].Record()))) + ")";
}

std::string Percent(std::int64_t part, std::int64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", whole > 0 ? 100.0 * part / whole : 0.0);
  return text;
}

}  // namespace

std::string CheckText(const Archive& archive, const ArchiveCheck& check, const NameCodec& names) {
  std::string text;
  if (check.trailingBytes > 0)
    text += Printable(Displayed(PartialRecord(archive.Paths().dir, check.trailingBytes), names)) +
            ": the directory is damaged, or is no archive's\n";
  for (const std::size_t i : check.refused)
    text += "entry " + Named(archive, i, names) + " would not be extracted: it " +
            archive.Refusal(archive[i]) + "\n";
  for (const auto& [entry, other] : check.overlaps)
    text += "entry " + Named(archive, entry, names) + " overlaps entry " +
            Named(archive, other, names) + "\n";
  for (const auto& [entry, by] : check.hidden)
    text += "entry " + Named(archive, entry, names) + " is replaced by entry " +
            Named(archive, by, names) + ", of the same name\n";
  for (const auto& [entry, folder] : check.needFolders)
    text += "entry " + Named(archive, entry, names) +
            " would not be extracted into a new folder: it needs the folder \"" +
            Printable(names.Shown(folder)) + "\", which extraction does not make\n";
  text += std::to_string(archive.size()) + " entries, " + std::to_string(check.refused.size()) +
          " would not be extracted, " + std::to_string(check.overlaps.size()) + " overlap, " +
          std::to_string(check.hidden.size()) + " replaced" +
          (check.needFolders.empty()
               ? std::string()
               : ", " + std::to_string(check.needFolders.size()) + " need a folder") +
          "; " + Percent(check.unusedBytes, archive.DataSize()) + " of the data file (" +
          SizeText(check.unusedBytes) + " of " + SizeText(archive.DataSize()) +
          ") belongs to no entry\n";
  return text;
}

std::string CheckJson(const Archive& archive, const ArchiveCheck& check, const NameCodec& names) {
  const auto name = [&](std::size_t i) {
    return JsonString(Utf8OrShown(archive[i].FileName(), names));
  };
  std::string json = "{\"entries\": " + std::to_string(archive.size()) + ", \"refused\": [";
  for (const std::size_t i : check.refused)
    json += std::string(json.ends_with("[") ? "" : ", ") + "{\"index\": " + std::to_string(i) +
            ", \"name\": " + name(i) + ", \"refusal\": " + JsonString(archive.Refusal(archive[i])) +
            "}";
  json += "], \"overlaps\": [";
  for (const auto& [entry, other] : check.overlaps)
    json += std::string(json.ends_with("[") ? "" : ", ") + "{\"index\": " + std::to_string(entry) +
            ", \"other\": " + std::to_string(other) + "}";
  json += "], \"replaced\": [";
  for (const auto& [entry, by] : check.hidden)
    json += std::string(json.ends_with("[") ? "" : ", ") + "{\"index\": " + std::to_string(entry) +
            ", \"by\": " + std::to_string(by) + "}";
  json += "], \"needFolders\": [";
  for (const auto& [entry, folder] : check.needFolders)
    json += std::string(json.ends_with("[") ? "" : ", ") + "{\"index\": " + std::to_string(entry) +
            ", \"folder\": " + JsonString(Utf8OrShown(folder, names)) + "}";
  return json + "], \"dataBytes\": " + std::to_string(archive.DataSize()) +
         ", \"unusedBytes\": " + std::to_string(check.unusedBytes) +
         ", \"trailingBytes\": " + std::to_string(check.trailingBytes) + "}\n";
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
