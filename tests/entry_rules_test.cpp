#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/files/letter_case.h"
#include "engine/files/windows_names.h"
#include "engine/rules/entry_rules.h"

namespace {

constexpr int64_t kSecond = 10000000;
constexpr int64_t kMillisecond = 10000;
constexpr int64_t kHour = 3600 * kSecond;
// 2023-01-01 00:00:01 as a FILETIME: an odd second.
constexpr int64_t kOddSecond = (1672531201LL + 11644473600LL) * kSecond;

// The source is newer than the destination by source_ahead (negative: older);
// Mirror's report of a newer destination judges the pair the same way.
TEST(EntryRulesTest, TimesAreJudgedByWhatTheCoarserVolumeKeeps) {
  const struct {
    const char* what;
    int64_t source_ahead;
    bool same_size;
    TimeKeeping times;
    FileVerdict verdict;
    bool newer_there = false;
  } kCases[] = {
      {"fine: the destination newer", -kMillisecond, true, kFineTimes, FileVerdict::kLeave, true},
      {"FAT: the destination two seconds newer", -2 * kSecond, true, kFatTimes, FileVerdict::kLeave,
       true},
      {"fine: newer within the second", 600 * kMillisecond, true, kFineTimes, FileVerdict::kSame},
      {"fine: a second newer", kSecond, true, kFineTimes, FileVerdict::kUpdate},
      {"FAT: truncated to the even second", 1900 * kMillisecond, true, kFatTimes,
       FileVerdict::kSame},
      {"FAT: rounded up to the even second", -1900 * kMillisecond, true, kFatTimes,
       FileVerdict::kSame},
      {"FAT: an edit two seconds on", 2 * kSecond, true, kFatTimes, FileVerdict::kUpdate},
      {"FAT: within its two seconds, another size", kSecond, false, kFatTimes,
       FileVerdict::kUpdate},
      {"FAT: an hour newer, the UTC offset changed", kHour + 1500 * kMillisecond, true, kFatTimes,
       FileVerdict::kSame},
      {"FAT: an hour older, the UTC offset changed", -kHour + kSecond, true, kFatTimes,
       FileVerdict::kSame},
      {"FAT: an hour newer, another size", kHour, false, kFatTimes, FileVerdict::kUpdate},
      {"FAT: an hour and three seconds newer", kHour + 3 * kSecond, true, kFatTimes,
       FileVerdict::kUpdate},
      {"even seconds in UTC: an hour is an edit",
       kHour,
       true,
       {2 * kSecond, false, false},
       FileVerdict::kUpdate},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    FindEntry source{};
    source.last_write = kOddSecond + c.source_ahead;
    source.size_low = 10;
    const PathInfo there{0, kOddSecond, c.same_size ? 10u : 11u};
    EXPECT_EQ(JudgeFile(source, true, there, SameSecondRule::kUpdate, c.times), c.verdict);
    // Sync's walk back sees the same pair from the other side: the same
    // where this side was the same.
    FindEntry back{};
    back.last_write = there.last_write;
    back.size_low = static_cast<uint32_t>(there.size);
    const PathInfo forth{0, source.last_write, FullSize(source)};
    if (c.verdict == FileVerdict::kSame) {
      EXPECT_EQ(JudgeFile(back, true, forth, SameSecondRule::kLeave, c.times), FileVerdict::kSame);
    }
    EXPECT_EQ(ShowsNewerThere(back, forth, c.times), c.newer_there);
  }
}

TEST(EntryRulesTest, ACopyInAnOddSecondTellsWhatItsVolumeKeeps) {
  TimeKeeping kept{};
  EXPECT_TRUE(TimesFromCopy(kOddSecond + 300 * kMillisecond, kOddSecond - kSecond, &kept));
  EXPECT_EQ(kept.resolution, kFatTimes.resolution);
  EXPECT_TRUE(kept.local_time);
  EXPECT_TRUE(TimesFromCopy(kOddSecond + 300 * kMillisecond, kOddSecond + kSecond, &kept));
  EXPECT_EQ(kept.resolution, kFatTimes.resolution);  // rounded up, as Windows does
  EXPECT_TRUE(TimesFromCopy(kOddSecond + 300 * kMillisecond, kOddSecond, &kept));
  EXPECT_EQ(kept.resolution, kFineTimes.resolution);
  EXPECT_FALSE(TimesFromCopy(kOddSecond + kSecond, kOddSecond + kSecond, &kept));
  // Dated "now" by a share: an even second an hour on is no FAT.
  EXPECT_FALSE(TimesFromCopy(kOddSecond, kOddSecond + 3601 * kSecond, &kept));
  const TimeKeeping coarser = CoarserTimes(kFineTimes, kFatTimes);
  EXPECT_EQ(coarser.resolution, kFatTimes.resolution);
  EXPECT_TRUE(coarser.local_time);
}

TEST(EntryRulesTest, FoldingTakesTheCommonAlphabetsWithoutALocale) {
  const struct {
    const char* upper;
    const char* lower;
  } kSame[] = {
      {"REPORT.DOCX", "report.docx"},
      {"\xC3\x84RGER \xC3\x98L \xC3\x9E", "\xC3\xA4rger \xC3\xB8l \xC3\xBE"},  // ÄRGER ØL Þ
      {"\xC5\x81\xC3\x93\x44\xC5\xB9", "\xC5\x82\xC3\xB3\x64\xC5\xBA"},        // ŁÓDŹ
      {"\xC5\xB8", "\xC3\xBF"},                                                // Ÿ ÿ
      {"\xCE\xA3\xCE\x8A\xCE\xA3", "\xCF\x83\xCE\xAF\xCF\x82"},                // ΣΊΣ σίς
      {"\xD0\x81\xD0\x96\xD0\xAF", "\xD1\x91\xD0\xB6\xD1\x8F"},                // ЁЖЯ ёжя
  };
  for (const auto& c : kSame) {
    EXPECT_EQ(FoldCase(c.upper), FoldCase(c.lower)) << c.upper;
  }
  // Other characters, and bytes that are no UTF-8, are only themselves.
  EXPECT_NE(FoldCase("\xC3\x97"), FoldCase("\xC3\xB7"));  // × and ÷
  EXPECT_EQ(FoldCase("\xFF\xC3"), "\xFF\xC3");
  EXPECT_NE(FoldCase("I"), FoldCase("\xC4\xB1"));  // dotless i
}

TEST(EntryRulesTest, OfNamesTheSameIgnoringCaseOneIsTakenTheSameOnEveryRun) {
  using Names = std::vector<std::string>;
  const struct {
    const char* what;
    Names source;
    Names destination;
    Names notes;  // "name rename|clash other"
  } kCases[] = {
      {"no clash", {"a.txt", "b.txt"}, {"A.TXT"}, {"a.txt rename A.TXT"}},
      {"the first in byte order", {"a.txt", "A.txt"}, {}, {"a.txt clash A.txt"}},
      {"the one the destination holds", {"A.txt", "a.txt"}, {"a.txt"}, {"A.txt clash a.txt"}},
      {"held in a third spelling",
       {"docs", "Docs"},
       {"DOCS", "other"},
       {"Docs rename DOCS", "docs clash Docs"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Names notes;
    for (const CaseNote& note : JudgeLetterCase(c.source, c.destination)) {
      const char* verdict = note.verdict == CaseVerdict::kRename ? " rename " : " clash ";
      notes.push_back(note.name + verdict + note.other);
    }
    EXPECT_EQ(notes, c.notes);
  }
}

TEST(EntryRulesTest, ARefusedNameSkipsOnlyWhereItsFolderAnswers) {
  const struct {
    uint32_t error;
    bool at_source;
    bool folder_answers;
    CopyFailureVerdict verdict;
  } kCases[] = {
      {kErrorInvalidName, false, true, CopyFailureVerdict::kNameRefused},
      {kErrorInvalidParameter, false, true, CopyFailureVerdict::kNameRefused},
      {kErrorBadPathName, false, true, CopyFailureVerdict::kNameRefused},
      {kErrorInvalidParameter, false, false, CopyFailureVerdict::kAbort},  // a share gone
      {kErrorAccessDenied, false, true, CopyFailureVerdict::kAbort},
      {kErrorDiskFull, false, true, CopyFailureVerdict::kAbort},
      {kErrorNameTooLong, false, true, CopyFailureVerdict::kPathTooLong},
      {kErrorInvalidParameter, true, false, CopyFailureVerdict::kSkipEntry},  // a pipe
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(JudgeCopyFailure(c.error, c.at_source, c.folder_answers), c.verdict)
        << c.error << " " << c.at_source << " " << c.folder_answers;
  }
}

// A versions folder made where no attribute hides it (on Linux, on a drive
// later walked from Windows) is still no entry of either tree.
TEST(EntryRulesTest, AVersionsFolderIsNeverListedWhateverItsAttributes) {
  FindEntry entry{};
  entry.attributes = kAttrFolder;
  std::snprintf(entry.name, sizeof entry.name, "%s", kVersionsFolderName);
  EXPECT_FALSE(IsListed(entry));
  entry.attributes = 0;  // a file of that name is the user's
  EXPECT_TRUE(IsListed(entry));
}

// Windows' device names hold with any extension and in any case; a longer
// name that only begins like one is an ordinary name.
TEST(EntryRulesTest, WindowsRefusesDeviceNamesAndTrailingDotsOrSpaces) {
  const struct {
    const char* name;
    bool refused;
  } kCases[] = {
      {"CON", true},       {"aux.txt", true},      {"Nul.tar.gz", true},   {"prn .txt", true},
      {"COM1", true},      {"lpt9.log", true},     {"COM\xC2\xB9", true},  {"CONOUT$", true},
      {"notes.", true},    {"notes ", true},       {"a:b.txt", true},      {"tab\there", true},
      {"COM10", false},    {"CONSOLE.txt", false}, {"com", false},         {"Con-tract.txt", false},
      {".profile", false}, {"auxiliary", false},   {"report.docx", false}, {"LPT", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(WindowsRefusesName(c.name), c.refused) << c.name;
  }
}

}  // namespace
