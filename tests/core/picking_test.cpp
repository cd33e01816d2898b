// Names matched as Windows compares them, character by character in the archive's code page.

#include "picking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>

#include "archive_check.h"
#include "name_matches.h"
#include "test_support.h"

namespace sectorsieve {
namespace {

// The few characters these cases use, as a code page converter gives them: ASCII, 1252's "é"
// and "É", 932's "表" and "ソ" (whose second bytes are that of "\"); nothing for the rest.
std::optional<std::string> ToUtf8(std::string_view name) {
  static const std::map<std::string, std::string> kChars = {{"\xE9", "\xC3\xA9"},
                                                            {"\xC9", "\xC3\x89"},
                                                            {"\x95\x5C", "\xE8\xA1\xA8"},
                                                            {"\x83\x5C", "\xE3\x82\xBD"}};
  std::string utf8;
  for (std::size_t i = 0; i < name.size();) {
    if (static_cast<unsigned char>(name[i]) < 0x80) {
      utf8 += name[i++];
      continue;
    }
    bool found = false;
    for (const auto& [bytes, text] : kChars)
      if (name.substr(i, bytes.size()) == bytes) {
        utf8 += text;
        i += bytes.size();
        found = true;
        break;
      }
    if (!found) return std::nullopt;
  }
  return utf8;
}

struct MatchCase {
  unsigned codePage;
  std::string name;     // bytes in the code page
  std::string pattern;  // UTF-8
  bool matches;
};

TEST(NameMatches, ComparesCharactersAsWindowsComparesNames) {
  const MatchCase cases[] = {
      {1252, "a.txt", "a.txt", true},
      {1252, "a.txt", "A.TXT", true},
      {1252, "a.txt", "a.txt...", true},
      {1252, "a.txt", "b.txt", false},
      {1252, "caf\xE9.bin", "CAF\xC3\x89.BIN", true},
      {1252, "caf\xE9.bin", "cafe.bin", false},
      {1252, "caf\xE9.bin", "caf?.bin", true},
      {1252, "sub\\x.dat", "SUB/*", true},
      {1252, "sub\\x.dat", "*", true},
      {1252, "a.txt", "*.*.*", false},
      {1252, "a.b.c", "*.*.*", true},
      {1252, "a", "a*a", false},
      {1252, "aa", "a*a", true},
      {1252, "abXb", "ab*b", true},
      {1252, "ab", "ab*b", false},
      {1252, "a", "?*?", false},
      {1252, "a", "a*", true},
      {1252, "xay", "*a*", true},
      {1252, "xy", "*a*", false},
      {1252, "", "*", true},
      {1252, "", "?", false},
      {1252, "x\x81y", "x?y", true},
      {1252, "x\x81y", "xy", false},
      {932, "\x95\x5C.txt", "?.txt", true},
      {932, "\x95\x5C.txt", "??.txt", false},
      {932, "\x95\x5C.txt", "*\\*", false},
      {932, "\x83\x5C.bin", "\xE3\x82\xBD.BIN", true},
      {932, "\x83\x5C.bin", "\xE8\xA1\xA8*", false},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(NameMatches(c.name, c.pattern, CodePage::Known(c.codePage), ToUtf8), c.matches)
        << c.codePage << " " << c.name << " ~ " << c.pattern;
    // A name that is its own key but for case is matched as its bytes too, to the same answer.
    const bool plain = std::ranges::all_of(c.name, [](char ch) { return ch > 0 && ch != '/'; }) &&
                       !c.name.ends_with('.') && !c.name.ends_with(' ');
    EXPECT_TRUE(!plain || NamePattern(c.pattern).MatchesAscii(c.name) == c.matches) << c.name;
  }
}

// Many names, spelled in several ways and some refused, fall into the groups a map of their
// keys gives: in the order of each name's first entry, each kept by its last entry not refused.
TEST(GroupByName, GroupsAsAMapOfKeysWouldWithManyNames) {
  constexpr std::size_t kEntries = 20000;
  std::mt19937 random(7);
  std::vector<testing::Entry> entries;
  for (std::size_t i = 0; i < kEntries; ++i) {
    std::string name = "dir\\n" + std::to_string(random() % 5000) + ".bin";
    for (char& c : name)
      if (random() % 2) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (random() % 4 == 0) name += random() % 2 ? "." : " ";
    // An entry beyond the one-sector data file is refused.
    entries.push_back({name, random() % 8 == 0 ? 5 : 0, 1});
  }
  testing::TempDir root;
  testing::WriteArchive(root.path() / "a", entries, 1);
  FileSystem& fs = SystemFileSystem();
  const Archive archive = ArchiveReader(fs).LoadDirectory(root / "a");
  std::vector<std::size_t> all(kEntries);
  std::iota(all.begin(), all.end(), std::size_t{0});

  // Each group: its entries, and the one kept.
  using Group = std::pair<std::vector<std::size_t>, std::optional<std::size_t>>;
  std::map<std::u32string, std::size_t> groupOf;
  std::vector<Group> wanted, got;
  for (const std::size_t index : all) {
    const auto [at, fresh] =
        groupOf.emplace(NameKey(archive[index].FileName(), fs.Ansi(), ToUtf8), wanted.size());
    if (fresh) wanted.emplace_back();
    wanted[at->second].first.push_back(index);
    if (!archive[index].Refused()) wanted[at->second].second = index;
  }
  const NameGroups groups = GroupByName(archive, all, fs.Ansi(), ToUtf8);
  for (std::size_t g = 0; g < groups.size(); ++g)
    got.push_back({{groups[g].entries.begin(), groups[g].entries.end()}, groups[g].kept});
  EXPECT_EQ(got, wanted);
}

// Grouping and checking a long directory ask whether to go on between pieces (a short one is
// never asked), and give up at once when told no, after however many pieces.
TEST(LongWork, AsksBetweenPiecesAndGivesUpWhenTold) {
  constexpr std::size_t kEntries = 3 * kEntriesPerQuestion + 5;
  testing::TempDir root;
  std::vector<testing::Entry> entries;
  for (std::size_t i = 0; i < kEntries; ++i)
    entries.push_back({"e" + std::to_string(i % (kEntries - 1)), 0, 1});
  testing::WriteArchive(root.path() / "a", entries, 1);
  FileSystem& fs = SystemFileSystem();
  const Archive archive = ArchiveReader(fs).LoadDirectory(root / "a");
  std::vector<std::size_t> all(kEntries);
  std::iota(all.begin(), all.end(), std::size_t{0});
  const ArchiveCheck whole = CheckArchive(archive, fs.Ansi(), ToUtf8);
  ASSERT_EQ(whole.hidden.size(), 1u);
  EXPECT_EQ(GroupByName(archive, {0, 1}, fs.Ansi(), ToUtf8, [] { return false; }).size(), 2u);
  for (const int answers : {0, 1, 2, 1000}) {
    SCOPED_TRACE(answers);
    int asked = 0;
    const KeepGoing keepGoing = [&] { return asked++ < answers; };
    const bool finishes = answers == 1000;
    EXPECT_EQ(GroupByName(archive, all, fs.Ansi(), ToUtf8, keepGoing).size(),
              finishes ? kEntries - 1 : 0u);
    EXPECT_EQ(asked, finishes ? 3 : answers + 1) << "once between pieces, none once told no";
    asked = 0;
    EXPECT_EQ(ReplacedByLater(archive, all, fs.Ansi(), ToUtf8, keepGoing).size(),
              finishes ? 1u : 0u);
    EXPECT_EQ(asked, finishes ? 3 : answers + 1);
    asked = 0;
    const auto check = CheckArchive(archive, fs.Ansi(), ToUtf8, keepGoing);
    ASSERT_EQ(check.has_value(), finishes);
    EXPECT_EQ(check ? check->hidden.size() : whole.hidden.size(), whole.hidden.size());
  }
}

}  // namespace
}  // namespace sectorsieve
