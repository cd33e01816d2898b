#include "contents_list.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <unordered_set>

namespace sectorsieve::ui {

namespace {

// A key's code points as UTF-8 (a lone surrogate, which stands for a byte that does not
// convert, takes three bytes as any other).
void AppendUtf8(std::u32string_view key, std::string& out) {
  for (const char32_t c : key) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

// The reverse of AppendUtf8, into out, which keeps its room from one name to the next.
void DecodeUtf8(std::string_view bytes, std::u32string& out) {
  out.clear();
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
    for (std::size_t k = 1; k < n && i + k < bytes.size(); ++k)
      c = c << 6 | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
    out += c;
    i += n;
  }
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(' ', start), text.size());
    if (end > start) words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

std::string Percent(std::int64_t part, std::int64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", whole > 0 ? 100.0 * part / whole : 0.0);
  return text;
}

}  // namespace

std::string Grouped(std::int64_t n) {
  const bool negative = n < 0;
  std::string digits = std::to_string(n);
  if (negative) digits.erase(0, 1);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return negative ? "-" + digits : digits;
}

ContentsList::ContentsList(Archive archive, const CodePage& cp, NameText toUtf8, ShownName shown)
    : archive_(std::move(archive)),
      shown_name_(std::move(shown)),
      check_(CheckArchive(archive_, cp, toUtf8)),
      replaced_(archive_.size()),
      order_(archive_.size()),
      selected_(archive_.size()) {
  keyEnd_.reserve(archive_.size());
  for (const Archive::Entry& entry : archive_) {
    AppendUtf8(NameKey(entry.FileName(), cp, toUtf8), keys_);
    keyEnd_.push_back(static_cast<std::uint32_t>(keys_.size()));
  }
  keys_.shrink_to_fit();
  for (const ArchiveCheck::Hidden& hidden : check_.hidden) replaced_[hidden.entry] = true;
  std::iota(order_.begin(), order_.end(), std::uint32_t{0});
  shown_ = order_;
}

std::string_view ContentsList::KeyBytes(std::size_t entry) const {
  const std::size_t start = entry == 0 ? 0 : keyEnd_[entry - 1];
  return std::string_view(keys_).substr(start, keyEnd_[entry] - start);
}

std::u32string ContentsList::Key(std::size_t entry) const {
  std::u32string key;
  DecodeUtf8(KeyBytes(entry), key);
  return key;
}

std::string ContentsList::CellText(std::size_t row, ContentsColumn column) const {
  const Archive::Entry& entry = Entry(row);
  switch (column) {
    case ContentsColumn::Index:
      return std::to_string(entry.Index());
    case ContentsColumn::Name:
      return shown_name_(entry.FileName());
    case ContentsColumn::Size:
      return Grouped(entry.Bytes());
    case ContentsColumn::Offset:
      return Grouped(entry.Start());
    case ContentsColumn::Status:
      return std::string(Status(entry.Index()));
  }
  return {};
}

void ContentsList::SetFilter(std::string_view text) {
  filter_ = std::string(text);
  const std::vector<std::string> words = Words(text);
  patterns_ = std::vector<NamePattern>(words.begin(), words.end());
  Refilter();
}

void ContentsList::Refilter() {
  if (patterns_.empty()) {
    shown_ = order_;
  } else {
    shown_.clear();
    std::u32string key;
    for (const std::uint32_t entry : order_) {
      DecodeUtf8(KeyBytes(entry), key);
      for (const NamePattern& pattern : patterns_)
        if (pattern.Matches(key)) {
          shown_.push_back(entry);
          break;
        }
    }
  }
  shown_.shrink_to_fit();
  // Entries no longer shown leave the selection: Extract takes what can be seen.
  if (selectedCount_ == 0) return;
  std::vector<bool> stillShown(archive_.size());
  for (const std::uint32_t entry : shown_) stillShown[entry] = true;
  for (std::size_t entry = 0; entry < selected_.size(); ++entry)
    if (selected_[entry] && !stillShown[entry]) {
      selected_[entry] = false;
      --selectedCount_;
      selectedBytes_ -= std::max<std::int64_t>(archive_[entry].Bytes(), 0);
    }
}

std::string_view ContentsList::Status(std::size_t entry) const {
  if (archive_[entry].Refused()) return archive_.Refusal(archive_[entry]);
  return replaced_[entry] ? kReplacedByLater : "";
}

bool ContentsList::NameLess(std::uint32_t a, std::uint32_t b) const {
  const int order = KeyBytes(a).compare(KeyBytes(b));
  return order != 0 ? order < 0 : a < b;
}

void ContentsList::SortBy(ContentsColumn column, bool descending) {
  sortColumn_ = column;
  descending_ = descending;
  // Each column's order of two entries: below 0, 0 or above 0.
  const auto primary = [&](std::uint32_t a, std::uint32_t b) -> int {
    const Archive::Entry& x = archive_[a];
    const Archive::Entry& y = archive_[b];
    switch (column) {
      case ContentsColumn::Index:
        return a < b ? -1 : a > b;
      case ContentsColumn::Name:
        return KeyBytes(a).compare(KeyBytes(b));
      case ContentsColumn::Size:
        return x.Bytes() < y.Bytes() ? -1 : x.Bytes() > y.Bytes();
      case ContentsColumn::Offset:
        return x.Start() < y.Start() ? -1 : x.Start() > y.Start();
      case ContentsColumn::Status:
        return Status(a).compare(Status(b));
    }
    return 0;
  };
  const auto less = [&](std::uint32_t a, std::uint32_t b) {
    const int order = primary(a, b);
    if (order != 0) return descending ? order > 0 : order < 0;
    return NameLess(a, b);
  };
  std::stable_sort(order_.begin(), order_.end(), less);
  Refilter();
}

std::optional<std::size_t> ContentsList::FindRow(std::string_view prefix, std::size_t start) const {
  if (shown_.empty()) return std::nullopt;
  const NamePattern pattern(std::string(prefix) + "*");
  std::u32string key;
  for (std::size_t n = 0; n < shown_.size(); ++n) {
    const std::size_t row = (start + n) % shown_.size();
    DecodeUtf8(KeyBytes(shown_[row]), key);
    if (pattern.Matches(key)) return row;
  }
  return std::nullopt;
}

void ContentsList::Select(std::size_t first, std::size_t last, bool selected) {
  for (std::size_t row = first; row <= last && row < shown_.size(); ++row) {
    const std::uint32_t entry = shown_[row];
    if (selected_[entry] == selected) continue;
    selected_[entry] = selected;
    const std::int64_t bytes = std::max<std::int64_t>(archive_[entry].Bytes(), 0);
    selectedCount_ += selected ? 1 : -1;
    selectedBytes_ += selected ? bytes : -bytes;
  }
}

void ContentsList::SelectAll(bool selected) {
  if (!shown_.empty()) Select(0, shown_.size() - 1, selected);
}

std::vector<std::size_t> ContentsList::SelectedRows() const {
  std::vector<std::size_t> rows;
  if (selectedCount_ == 0) return rows;
  for (std::size_t row = 0; row < shown_.size(); ++row)
    if (selected_[shown_[row]]) rows.push_back(row);
  return rows;
}

std::vector<std::u32string> ContentsList::SelectedKeys() const {
  std::vector<std::u32string> keys;
  for (const std::size_t row : SelectedRows()) keys.push_back(Key(shown_[row]));
  return keys;
}

void ContentsList::SelectKeys(const std::vector<std::u32string>& keys) {
  std::unordered_set<std::string> wanted;
  for (const std::u32string& key : keys) {
    std::string bytes;
    AppendUtf8(key, bytes);
    wanted.insert(std::move(bytes));
  }
  for (std::size_t row = 0; row < shown_.size(); ++row)
    if (wanted.count(std::string(KeyBytes(shown_[row])))) Select(row, row, true);
}

ContentsList::Pick ContentsList::Picked() const {
  Pick pick;
  if (selectedCount_ == 0 || selectedCount_ == shown_.size()) {
    pick.patterns = Words(filter_);
    pick.every = pick.patterns.empty();
  } else {
    pick.names = SelectedKeys();
  }
  return pick;
}

std::string ContentsList::CountText() const {
  if (shown_.size() == archive_.size())
    return Grouped(static_cast<std::int64_t>(archive_.size())) + " entries";
  return Grouped(static_cast<std::int64_t>(shown_.size())) + " of " +
         Grouped(static_cast<std::int64_t>(archive_.size())) + " entries";
}

std::string ContentsList::SelectionText() const {
  if (selectedCount_ == 0) return {};
  return Grouped(static_cast<std::int64_t>(selectedCount_)) + " selected, " +
         Grouped(selectedBytes_) + " bytes";
}

std::string ContentsList::CheckText() const {
  if (!archive_.DataFailure().empty())
    return "The data file cannot be read: " + archive_.DataFailure();
  return Grouped(static_cast<std::int64_t>(check_.refused.size())) + " refused, " +
         Grouped(static_cast<std::int64_t>(check_.hidden.size())) + " replaced; " +
         Percent(check_.unusedBytes, archive_.DataSize()) + " of the data file unused";
}

std::optional<std::vector<std::size_t>> PickedEntries(const Archive& archive,
                                                      const ContentsList::Pick& pick,
                                                      const CodePage& cp, const NameText& toUtf8) {
  if (pick.every) return std::nullopt;
  const std::vector<NamePattern> patterns(pick.patterns.begin(), pick.patterns.end());
  const std::unordered_set<std::u32string> names(pick.names.begin(), pick.names.end());
  std::vector<std::size_t> picked;
  for (const Archive::Entry& entry : archive) {
    const std::u32string key = NameKey(entry.FileName(), cp, toUtf8);
    if (names.count(key) ||
        std::any_of(patterns.begin(), patterns.end(),
                    [&](const NamePattern& pattern) { return pattern.Matches(key); }))
      picked.push_back(entry.Index());
  }
  return picked;
}

}  // namespace sectorsieve::ui
