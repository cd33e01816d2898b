#include "contents_list.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <map>
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

// Whether name's key is its own bytes with small letters as capitals: ASCII, without "/",
// and no part of it ending in a dot or a space, which Windows leaves out.
bool Plain(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80 || c == '/') return false;
    if ((c == '.' || c == ' ') && (i + 1 == name.size() || name[i + 1] == '\\')) return false;
  }
  return true;
}

unsigned char Capital(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

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

// Sorts keys by their value: four passes of 16 bits each, from the lowest, each stable. A pass
// whose 16 bits all keys share moves nothing and is left out, as the high bits of small sizes.
void RadixSort(std::vector<std::uint64_t>& keys) {
  std::vector<std::uint64_t> other(keys.size());
  std::vector<std::size_t> counts(1 << 16);
  for (int shift = 0; shift < 64; shift += 16) {
    std::fill(counts.begin(), counts.end(), 0);
    for (const std::uint64_t key : keys) ++counts[(key >> shift) & 0xFFFF];
    if (!keys.empty() && counts[(keys[0] >> shift) & 0xFFFF] == keys.size()) continue;
    std::size_t at = 0;
    for (std::size_t& count : counts) at += std::exchange(count, at);
    for (const std::uint64_t key : keys) other[counts[(key >> shift) & 0xFFFF]++] = key;
    keys.swap(other);
  }
}

// Names looked up by hash in one table of views into strings kept elsewhere: half a million
// names are one allocation to make and one to free, where a set of nodes makes half a million.
class NameTable {
 public:
  explicit NameTable(std::size_t names) : slots_(std::bit_ceil(2 * names + 1)) {}
  void Insert(std::string_view name) {
    std::size_t at = Home(name);
    while (slots_[at].data() && slots_[at] != name) at = (at + 1) & (slots_.size() - 1);
    slots_[at] = name;
  }
  bool Contains(std::string_view name) const {
    for (std::size_t at = Home(name); slots_[at].data(); at = (at + 1) & (slots_.size() - 1))
      if (slots_[at] == name) return true;
    return false;
  }

 private:
  std::size_t Home(std::string_view name) const {
    return std::hash<std::string_view>{}(name) & (slots_.size() - 1);
  }
  std::vector<std::string_view> slots_;  // empty where data() is null
};

}  // namespace

std::string KeyOf(std::string_view name, const CodePage& cp, const NameText& toUtf8) {
  std::string key;
  if (Plain(name)) {
    key.resize(name.size());
    for (std::size_t i = 0; i < name.size(); ++i)
      key[i] = static_cast<char>(Capital(static_cast<unsigned char>(name[i])));
  } else {
    AppendUtf8(NameKey(name, cp, toUtf8), key);
  }
  return key;
}

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
      odd_(archive_.size()),
      replaced_(std::make_shared<const std::vector<bool>>(archive_.size())),
      selected_(archive_.size()) {
  for (const Archive::Entry& entry : archive_) {
    if (Plain(entry.FileName())) continue;
    odd_[entry.Index()] = true;
    oddEntries_.push_back(static_cast<std::uint32_t>(entry.Index()));
    AppendUtf8(NameKey(entry.FileName(), cp, toUtf8), oddKeys_);
    oddEnd_.push_back(static_cast<std::uint32_t>(oddKeys_.size()));
  }
  oddEntries_.shrink_to_fit();
  oddEnd_.shrink_to_fit();
  oddKeys_.shrink_to_fit();
  SortByName();
  view_.order = std::make_shared<const std::vector<std::uint32_t>>(
      Sorted(ContentsColumn::Index, false, *replaced_));
  view_.replaced = replaced_;
}

void ContentsList::SortByName() {
  // The first eight bytes of each key as one number decide most comparisons; the rest is read
  // only for keys that begin alike. No key holds a zero byte, so the padding sorts first.
  struct Sorting {
    std::uint64_t prefix;
    std::uint32_t entry;
  };
  std::vector<Sorting> sorting(archive_.size());
  for (std::uint32_t e = 0; e < sorting.size(); ++e) {
    const KeyText key = Key(e);
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      const auto c = static_cast<unsigned char>(i < key.bytes.size() ? key.bytes[i] : 0);
      prefix = prefix << 8 | (key.capitals ? Capital(c) : c);
    }
    sorting[e] = {prefix, e};
  }
  std::sort(sorting.begin(), sorting.end(), [&](const Sorting& a, const Sorting& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const int order = CompareKeys(Key(a.entry), Key(b.entry));
    return order != 0 ? order < 0 : a.entry < b.entry;
  });
  byName_.resize(sorting.size());
  sameName_.resize(sorting.size());
  for (std::size_t i = 0; i < sorting.size(); ++i) {
    byName_[i] = sorting[i].entry;
    sameName_[i] = i > 0 && sorting[i].prefix == sorting[i - 1].prefix &&
                   CompareKeys(Key(byName_[i]), Key(byName_[i - 1])) == 0;
  }
}

void ContentsList::SetCheck(ArchiveCheck check) {
  check_ = std::move(check);
  checked_ = true;
  auto replaced = std::make_shared<std::vector<bool>>(archive_.size());
  for (const ArchiveCheck::Hidden& hidden : check_.hidden) (*replaced)[hidden.entry] = true;
  replaced_ = std::move(replaced);
}

ContentsList::KeyText ContentsList::Key(std::size_t entry) const {
  if (!odd_[entry]) return {archive_[entry].FileName(), true};
  const auto k = static_cast<std::size_t>(
      std::lower_bound(oddEntries_.begin(), oddEntries_.end(), entry) - oddEntries_.begin());
  const std::size_t start = k == 0 ? 0 : oddEnd_[k - 1];
  return {std::string_view(oddKeys_).substr(start, oddEnd_[k] - start), false};
}

int ContentsList::CompareKeys(KeyText a, KeyText b) {
  const std::size_t n = std::min(a.bytes.size(), b.bytes.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(a.bytes[i]);
    auto y = static_cast<unsigned char>(b.bytes[i]);
    if (a.capitals) x = Capital(x);
    if (b.capitals) y = Capital(y);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.bytes.size() < b.bytes.size() ? -1 : a.bytes.size() > b.bytes.size() ? 1 : 0;
}

std::string ContentsList::KeyBytes(std::size_t entry) const {
  const KeyText key = Key(entry);
  std::string bytes(key.bytes);
  if (key.capitals)
    for (char& c : bytes) c = static_cast<char>(Capital(static_cast<unsigned char>(c)));
  return bytes;
}

void ContentsList::KeyCodes(std::size_t entry, std::u32string& out) const {
  const KeyText key = Key(entry);
  if (!key.capitals) return DecodeUtf8(key.bytes, out);
  out.resize(key.bytes.size());
  for (std::size_t i = 0; i < key.bytes.size(); ++i)
    out[i] = Capital(static_cast<unsigned char>(key.bytes[i]));
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
      return std::string(Status(entry.Index(), *replaced_));
  }
  return {};
}

ContentsList::ViewJob ContentsList::MakeView(ContentsColumn column, bool descending,
                                             std::string_view filter) const {
  const std::vector<std::string> words = Words(filter);
  std::vector<NamePattern> patterns(words.begin(), words.end());
  // An order already made is shared, not made again: typing a filter leaves the sort as it is,
  // unless it is by status and check has come since.
  std::shared_ptr<const std::vector<std::uint32_t>> order;
  if (column == view_.column && descending == view_.descending &&
      (column != ContentsColumn::Status || view_.replaced == replaced_))
    order = view_.order;
  return [this, column, descending, filter = std::string(filter), patterns = std::move(patterns),
          order = std::move(order), replaced = replaced_](std::stop_token stop) {
    View view{column, descending, filter, order, nullptr, replaced};
    if (!view.order)
      view.order =
          std::make_shared<const std::vector<std::uint32_t>>(Sorted(column, descending, *replaced));
    if (!patterns.empty()) {
      auto filtered = Filtered(*view.order, patterns, stop);
      if (!filtered) return std::optional<View>();
      view.filtered = std::make_shared<const std::vector<std::uint32_t>>(std::move(*filtered));
    }
    if (stop.stop_requested()) return std::optional<View>();
    return std::optional<View>(std::move(view));
  };
}

void ContentsList::SetView(View view) {
  view_ = std::move(view);
  // Entries no longer shown leave the selection: Extract takes what can be seen.
  if (selectedCount_ == 0 || !view_.filtered) return;
  std::vector<bool> stillShown(archive_.size());
  for (const std::uint32_t entry : *view_.filtered) stillShown[entry] = true;
  for (std::size_t entry = 0; entry < selected_.size(); ++entry)
    if (selected_[entry] && !stillShown[entry]) {
      selected_[entry] = false;
      --selectedCount_;
      selectedBytes_ -= std::max<std::int64_t>(archive_[entry].Bytes(), 0);
    }
}

void ContentsList::SetFilter(std::string_view text) {
  if (auto view = MakeView(view_.column, view_.descending, text)({})) SetView(std::move(*view));
}

void ContentsList::SortBy(ContentsColumn column, bool descending) {
  if (auto view = MakeView(column, descending, view_.filter)({})) SetView(std::move(*view));
}

std::optional<std::vector<std::uint32_t>> ContentsList::Filtered(
    const std::vector<std::uint32_t>& order, const std::vector<NamePattern>& patterns,
    const std::stop_token& stop) const {
  std::vector<std::uint32_t> filtered;
  std::u32string codes;
  for (std::size_t at = 0; at < order.size(); ++at) {
    if (at % kEntriesPerQuestion == 0 && stop.stop_requested()) return std::nullopt;
    // Most names are plain: matched as their bytes, without making their keys.
    const std::uint32_t entry = order[at];
    const KeyText key = Key(entry);
    if (!key.capitals) DecodeUtf8(key.bytes, codes);
    for (const NamePattern& pattern : patterns)
      if (key.capitals ? pattern.MatchesAscii(key.bytes) : pattern.Matches(codes)) {
        filtered.push_back(entry);
        break;
      }
  }
  filtered.shrink_to_fit();
  return filtered;
}

std::string_view ContentsList::Status(std::size_t entry, const std::vector<bool>& replaced) const {
  if (archive_[entry].Refused()) return archive_.Refusal(archive_[entry]);
  return replaced[entry] ? kReplacedByLater : "";
}

std::vector<std::uint32_t> ContentsList::Sorted(ContentsColumn column, bool descending,
                                                const std::vector<bool>& replaced) const {
  const std::size_t n = archive_.size();
  std::vector<std::uint32_t> order(n);
  if (column == ContentsColumn::Index) {
    std::iota(order.begin(), order.end(), std::uint32_t{0});
    if (descending) std::reverse(order.begin(), order.end());
  } else if (column == ContentsColumn::Name) {
    order = byName_;
    if (descending) {
      // Names the other way; entries of one name stay in directory order.
      for (std::size_t first = 0; first < n;) {
        std::size_t end = first + 1;
        while (end < n && sameName_[end]) ++end;
        std::copy(byName_.begin() + static_cast<std::ptrdiff_t>(first),
                  byName_.begin() + static_cast<std::ptrdiff_t>(end),
                  order.end() - static_cast<std::ptrdiff_t>(end));
        first = end;
      }
    }
  } else {
    // Each entry's place by name makes the column's value and the name one number to sort.
    std::vector<std::uint32_t> nameRank(n);
    for (std::uint32_t rank = 0; rank < n; ++rank) nameRank[byName_[rank]] = rank;
    // Statuses in the order of their texts; only refused entries have texts of their own.
    std::map<std::string_view, std::uint32_t> statusRank{{"", 0}, {kReplacedByLater, 0}};
    if (column == ContentsColumn::Status) {
      for (std::size_t e = 0; e < n; ++e)
        if (archive_[e].Refused()) statusRank.emplace(Status(e, replaced), 0);
      std::uint32_t next = 0;
      for (auto& [text, rank] : statusRank) rank = next++;
    }
    const std::uint32_t plainRank = statusRank[""];
    const std::uint32_t replacedRank = statusRank[kReplacedByLater];
    std::vector<std::uint64_t> keys(n);
    for (std::size_t e = 0; e < n; ++e) {
      const clsImgFile& record = archive_[e].Record();
      // Sectors, signed, as an unsigned number of the same order.
      const std::uint32_t value = column == ContentsColumn::Size
                                      ? static_cast<std::uint32_t>(record.lSize()) ^ 0x80000000u
                                  : column == ContentsColumn::Offset
                                      ? static_cast<std::uint32_t>(record.lOffset()) ^ 0x80000000u
                                  : archive_[e].Refused() ? statusRank[Status(e, replaced)]
                                  : replaced[e]           ? replacedRank
                                                          : plainRank;
      keys[e] = std::uint64_t{descending ? ~value : value} << 32 | nameRank[e];
    }
    RadixSort(keys);
    for (std::size_t i = 0; i < n; ++i) order[i] = byName_[keys[i] & 0xFFFFFFFFu];
  }
  return order;
}

std::optional<std::size_t> ContentsList::FindRow(std::string_view prefix, std::size_t start) const {
  if (Shown().empty()) return std::nullopt;
  // What was typed is text, not a pattern: a "*" in it is a "*".
  std::u32string typed;
  DecodeUtf8(prefix, typed);
  const std::u32string wanted = NameKey(std::move(typed));
  std::u32string key;
  for (std::size_t n = 0; n < Shown().size(); ++n) {
    const std::size_t row = (start + n) % Shown().size();
    KeyCodes(Shown()[row], key);
    if (key.starts_with(wanted)) return row;
  }
  return std::nullopt;
}

void ContentsList::Select(std::size_t first, std::size_t last, bool selected) {
  for (std::size_t row = first; row <= last && row < Shown().size(); ++row) {
    const std::uint32_t entry = Shown()[row];
    if (selected_[entry] == selected) continue;
    selected_[entry] = selected;
    const std::int64_t bytes = std::max<std::int64_t>(archive_[entry].Bytes(), 0);
    selectedCount_ += selected ? 1 : -1;
    selectedBytes_ += selected ? bytes : -bytes;
  }
}

void ContentsList::SelectAll(bool selected) {
  if (!Shown().empty()) Select(0, Shown().size() - 1, selected);
}

std::vector<std::size_t> ContentsList::SelectedRows() const {
  std::vector<std::size_t> rows;
  if (selectedCount_ == 0) return rows;
  for (std::size_t row = 0; row < Shown().size(); ++row)
    if (selected_[Shown()[row]]) rows.push_back(row);
  return rows;
}

std::optional<std::size_t> ContentsList::FirstSelectedRow() const {
  if (selectedCount_ > 0)
    for (std::size_t row = 0; row < Shown().size(); ++row)
      if (selected_[Shown()[row]]) return row;
  return std::nullopt;
}

std::vector<std::uint32_t> ContentsList::SelectedEntries() const {
  std::vector<std::uint32_t> entries;
  entries.reserve(selectedCount_);
  // By entry, not by row: the rows' order would cost a look through the view for each.
  for (std::uint32_t entry = 0; entries.size() < selectedCount_; ++entry)
    if (selected_[entry]) entries.push_back(entry);
  return entries;
}

std::vector<std::string> ContentsList::KeysOf(const std::vector<std::uint32_t>& entries) const {
  std::vector<std::string> keys;
  keys.reserve(entries.size());
  for (const std::uint32_t entry : entries) keys.push_back(KeyBytes(entry));
  return keys;
}

void ContentsList::SelectKeys(const std::vector<std::string>& keys) {
  const std::unordered_set<std::string> wanted(keys.begin(), keys.end());
  for (std::size_t row = 0; row < Shown().size(); ++row)
    if (wanted.count(KeyBytes(Shown()[row]))) Select(row, row, true);
}

ContentsList::Pick ContentsList::Picked() const {
  Pick pick;
  if (selectedCount_ == 0 || selectedCount_ == Shown().size()) {
    pick.patterns = Words(view_.filter);
    pick.every = pick.patterns.empty();
  } else {
    pick.entries = SelectedEntries();
  }
  return pick;
}

ContentsList::Dragged ContentsList::DraggedEntries() const {
  Dragged dragged;
  if (selectedCount_ == 0) return dragged;
  // Files take their names in directory order: of one name, the last entry's file stays. The
  // entries of a name are together by name, in directory order.
  const std::size_t n = byName_.size();
  for (std::size_t first = 0; first < n;) {
    std::optional<std::uint32_t> last;
    std::size_t end = first;
    do {
      const std::uint32_t entry = byName_[end];
      if (!selected_[entry]) continue;
      if (archive_[entry].Refused())
        dragged.refused.push_back(entry);
      else
        last = entry;
    } while (++end < n && sameName_[end]);
    if (last) dragged.entries.push_back(*last);
    first = end;
  }
  std::sort(dragged.entries.begin(), dragged.entries.end());
  std::sort(dragged.refused.begin(), dragged.refused.end());
  return dragged;
}

std::string ContentsList::CountText() const {
  if (Shown().size() == archive_.size())
    return Grouped(static_cast<std::int64_t>(archive_.size())) + " entries";
  return Grouped(static_cast<std::int64_t>(Shown().size())) + " of " +
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
  if (!checked_) return "Checking the archive...";
  return Grouped(static_cast<std::int64_t>(check_.refused.size())) + " refused, " +
         Grouped(static_cast<std::int64_t>(check_.hidden.size())) + " replaced; " +
         Percent(check_.unusedBytes, archive_.DataSize()) + " of the data file unused";
}

std::optional<std::vector<std::size_t>> ContentsList::PickedEntries(
    const Archive& archive, const Pick& pick, const CodePage& cp, const NameText& toUtf8,
    const KeepGoing& keepGoing) const {
  if (pick.every) return std::nullopt;
  const std::vector<NamePattern> patterns(pick.patterns.begin(), pick.patterns.end());
  // Half a million names take long to gather too: the window answers between pieces. Their keys
  // are made into one string, whose room is set first: the table keeps views into it.
  std::size_t room = 0;
  for (const std::uint32_t entry : pick.entries) room += Key(entry).bytes.size();
  std::string keys;
  keys.reserve(room);
  NameTable names(pick.entries.size());
  for (std::size_t i = 0; i < pick.entries.size(); ++i) {
    if (i > 0 && i % kEntriesPerQuestion == 0 && keepGoing && !keepGoing())
      return std::vector<std::size_t>{};
    const KeyText key = Key(pick.entries[i]);
    const std::size_t start = keys.size();
    for (const char c : key.bytes)
      keys += key.capitals ? static_cast<char>(Capital(static_cast<unsigned char>(c))) : c;
    names.Insert(std::string_view(keys).substr(start));
  }
  std::vector<std::size_t> picked;
  std::u32string codes;
  for (const Archive::Entry& entry : archive) {
    if (entry.Index() > 0 && entry.Index() % kEntriesPerQuestion == 0 && keepGoing && !keepGoing())
      break;
    const std::string key = KeyOf(entry.FileName(), cp, toUtf8);
    bool matched = names.Contains(key);
    if (!matched && !patterns.empty()) {
      DecodeUtf8(key, codes);
      matched = std::any_of(patterns.begin(), patterns.end(),
                            [&](const NamePattern& pattern) { return pattern.Matches(codes); });
    }
    if (matched) picked.push_back(entry.Index());
  }
  return picked;
}

}  // namespace sectorsieve::ui
