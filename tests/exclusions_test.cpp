#include "engine/rules/exclusions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/exclusion_patterns.h"

namespace {

enum Kind { kFile, kFolder };
enum Names { kExact, kIgnoreCase, kBoth };

TEST(ExclusionsTest, PatternsMatchPathsBelowTheTop) {
  const struct {
    const char* pattern;
    const char* path;
    Kind kind;
    Names names;
    bool left_out;
  } kCases[] = {
      // '*' and '?' within one name.
      {"*.tmp", "deep/down/a.tmp", kFile, kBoth, true},
      {"*.tmp", "a.tmp.txt", kFile, kBoth, false},
      {"*.tmp", "a.tmp/b.txt", kFile, kBoth, false},
      {"a*b*c", "aXXbYYbZc", kFile, kBoth, true},
      {"?.log", "1.log", kFile, kBoth, true},
      {"?.log", "12.log", kFile, kBoth, false},
      {"?.log", "\xC3\xA9.log", kFile, kBoth, true},  // one character, two bytes
      // Brackets are themselves.
      {"[draft].txt", "[draft].txt", kFile, kBoth, true},
      {"[draft].txt", "d.txt", kFile, kBoth, false},
      // Folders only, at any depth.
      {"node_modules/", "node_modules", kFolder, kBoth, true},
      {"node_modules/", "web/node_modules", kFolder, kBoth, true},
      {"node_modules/", "node_modules", kFile, kBoth, false},
      {"Thumbs.db", "x/Thumbs.db", kFile, kBoth, true},
      // Anchored at the top by a separator at the start or within.
      {"/build/", "build", kFolder, kBoth, true},
      {"/build/", "src/build", kFolder, kBoth, false},
      {"docs/draft", "docs/draft", kFile, kBoth, true},
      {"docs/draft", "old/docs/draft", kFile, kBoth, false},
      {"docs/*.md", "docs/sub/a.md", kFile, kBoth, false},
      // '**' across folders.
      {"**/cache", "a/b/cache", kFolder, kBoth, true},
      {"**/cache", "a/b/cache2", kFolder, kBoth, false},
      {"logs/**", "logs/a/b/c", kFile, kBoth, true},
      {"logs/**", "logs", kFolder, kBoth, false},
      {"a/**/z", "a/b/c/z", kFile, kBoth, true},
      {"a/**/z", "b/a/z", kFile, kBoth, false},
      {"**/**/**/x", "a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/y", kFile, kBoth, false},
      // Either separator in a pattern.
      {"docs\\draft", "docs/draft", kFile, kBoth, true},
      {"\\build\\", "build", kFolder, kBoth, true},
      // Letter case: ignored on Windows, exact on POSIX.
      {"*.TMP", "a.tmp", kFile, kIgnoreCase, true},
      {"*.TMP", "a.tmp", kFile, kExact, false},
      {"\xC3\x84rger.txt", "\xC3\xA4rger.txt", kFile, kIgnoreCase, true},  // Ä, ä
  };
  for (const auto& c : kCases) {
    for (const bool ignore_case : {false, true}) {
      if ((c.names == kExact && ignore_case) || (c.names == kIgnoreCase && !ignore_case)) continue;
      const Exclusions exclusions = CompileExclusions({c.pattern}, ignore_case);
      EXPECT_EQ(MatchesExclusion(exclusions, c.path, c.kind == kFolder), c.left_out)
          << c.pattern << " on " << c.path << (ignore_case ? " ignoring case" : "");
    }
  }
}

// A POSIX name may hold a backslash: the path's own separator alone splits it.
TEST(ExclusionsTest, OnlyThePathsSeparatorSplitsIt) {
  const Exclusions exclusions = CompileExclusions({"b"}, false);
  EXPECT_FALSE(MatchesExclusion(exclusions, "x/a\\b", false));
  EXPECT_TRUE(MatchesExclusion(exclusions, "x\\b", false, '\\'));
}

TEST(ExclusionsTest, PatternsThatCouldLeaveTheTreesAreRefused) {
  const struct {
    const char* pattern;
    bool accepted;
  } kCases[] = {
      {"*.tmp", true},     {"node_modules/", true},
      {"a..b", true},      {"..x/y", true},
      {"", false},         {"/", false},
      {"\\\\", false},     {"..", false},
      {"a/../b", false},   {"a\\..\\b", false},
      {"x/..", false},     {"tab\there", false},
      {"line\r\n", false}, {"del\x7F", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsAcceptablePattern(c.pattern), c.accepted) << "\"" << c.pattern << "\"";
  }
}

// The window's box: one pattern a line; a refused line stores nothing.
TEST(ExclusionsTest, PatternsFromTheWindowsLines) {
  std::vector<std::string> patterns = {"kept"};
  int refused = 0;
  ASSERT_TRUE(PatternsFromLines("*.tmp\r\n\r\nnode_modules/\nOld, notes", &patterns, &refused));
  EXPECT_EQ(patterns, (std::vector<std::string>{"*.tmp", "node_modules/", "Old, notes"}));
  EXPECT_EQ(PatternLines(patterns), "*.tmp\r\nnode_modules/\r\nOld, notes");
  EXPECT_FALSE(PatternsFromLines("a\r\nb\r\n../c\r\n", &patterns, &refused));
  EXPECT_EQ(refused, 3);
  EXPECT_EQ(patterns.size(), 3u);
  EXPECT_TRUE(PatternsFromLines("", &patterns, &refused));
  EXPECT_TRUE(patterns.empty());
}

}  // namespace
