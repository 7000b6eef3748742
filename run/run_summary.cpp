#include "run/run_summary.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "engine/rules/mass_change.h"

namespace {

constexpr const char* kOutcomeTexts[] = {"finished", "failed", "stopped", "time limit reached"};
constexpr char kSummaryHead[] = "Run ";
// A stamp's form: each 0 stands for a digit.
constexpr char kStampForm[] = "0000-00-00 00:00:00";
static_assert(sizeof kStampForm == kTimeStampSize);
// A stamp to the minute: "2026-12-07 02:00".
constexpr int kMinuteLength = 16;
constexpr size_t kCountSize = kThousandsSize;
// After the duration, when the mass-change guard stopped a job.
constexpr char kMassRefused[] = ", mass change refused";

const char* OutcomeText(RunOutcome outcome) {
  return kOutcomeTexts[static_cast<int>(outcome)];
}

// Seconds as m:ss, from an hour on as h:mm:ss.
void FormatDuration(uint32_t seconds, char* text, size_t size) {
  const unsigned hours = seconds / 3600;
  const unsigned minutes = seconds / 60 % 60;
  const unsigned rest = seconds % 60;
  if (hours > 0) {
    std::snprintf(text, size, "%u:%02u:%02u", hours, minutes, rest);
  } else {
    std::snprintf(text, size, "%u:%02u", minutes, rest);
  }
}

bool IsStamp(const char* text) {
  for (size_t i = 0; i + 1 < kTimeStampSize; ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kStampForm[i] == '0' ? !digit : text[i] != kStampForm[i]) return false;
  }
  return true;
}

// Reads the outcome's text at the start of text; the rest after it, or nullptr.
const char* ReadOutcome(const char* text, RunOutcome* outcome) {
  for (size_t i = 0; i < std::size(kOutcomeTexts); ++i) {
    const size_t length = std::strlen(kOutcomeTexts[i]);
    if (std::strncmp(text, kOutcomeTexts[i], length) == 0 && text[length] == ',') {
      *outcome = static_cast<RunOutcome>(i);
      return text + length;
    }
  }
  return nullptr;
}

}  // namespace

void FormatSummary(const RunSummary& summary, char (&line)[kSummarySize]) {
  char duration[kCountSize];
  FormatDuration(summary.seconds, duration, sizeof duration);
  const EntryCounts& c = summary.counts;
  // The entries left out are said only where there were any: a summary
  // without them reads as every earlier one did.
  char left_out[kCountSize + 16] = "";
  if (c.left_out > 0) std::snprintf(left_out, sizeof left_out, ", %u left out", c.left_out);
  std::snprintf(line, sizeof line,
                "%s%s: %s, %u copied, %u updated, %u removed, %u skipped%s, %u MiB in %s",
                kSummaryHead, summary.started, OutcomeText(summary.outcome), c.copied, c.updated,
                c.removed, c.skipped, left_out, summary.mib, duration);
  if (c.mass_refused > 0) {
    const size_t at = std::strlen(line);
    std::snprintf(line + at, sizeof line - at, "%s", kMassRefused);
  }
}

bool ParseSummary(const char* line, RunSummary* summary) {
  const size_t head = sizeof kSummaryHead - 1;
  if (std::strncmp(line, kSummaryHead, head) != 0 || !IsStamp(line + head)) return false;
  std::memcpy(summary->started, line + head, kTimeStampSize - 1);
  summary->started[kTimeStampSize - 1] = '\0';
  const char* at = line + head + kTimeStampSize - 1;
  if (std::strncmp(at, ": ", 2) != 0) return false;
  at = ReadOutcome(at + 2, &summary->outcome);
  if (at == nullptr) return false;
  EntryCounts& c = summary->counts;
  unsigned first = 0;  // the duration's minutes, or its hours
  unsigned second = 0;
  int end = 0;
  if (std::sscanf(at, ", %u copied, %u updated, %u removed, %u skipped%n", &c.copied, &c.updated,
                  &c.removed, &c.skipped, &end) != 4) {
    return false;
  }
  at += end;
  // Only a whole ", N left out" is one: ", N MiB" begins the same way.
  unsigned left_out = 0;
  end = 0;
  std::sscanf(at, ", %u left out%n", &left_out, &end);
  if (end > 0) {
    c.left_out = left_out;
    at += end;
  }
  end = 0;
  if (std::sscanf(at, ", %u MiB in %u:%u%n", &summary->mib, &first, &second, &end) != 3 ||
      end == 0) {
    return false;
  }
  at += end;
  unsigned third = 0;
  if (*at == ':') {
    if (std::sscanf(at, ":%u%n", &third, &end) != 1) return false;
    at += end;
    summary->seconds = first * 3600 + second * 60 + third;
  } else {
    summary->seconds = first * 60 + second;
  }
  c.mass_refused = std::strcmp(at, kMassRefused) == 0 ? 1 : 0;
  return *at == '\0' || c.mass_refused > 0;
}

namespace {

// "1 day" or "3 days" at text[at], after a space unless it is the first.
int AppendUnit(char (&text)[kAgeSize], int at, int64_t n, const char* unit) {
  return at + std::snprintf(text + at, sizeof text - at, "%s%lld %s%s", at > 0 ? " " : "",
                            static_cast<long long>(n), unit, n == 1 ? "" : "s");
}

}  // namespace

bool SecondsSinceStart(const RunSummary& summary, std::time_t now, int64_t* seconds) {
  std::tm local{};
  if (std::sscanf(summary.started, "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon,
                  &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec) != 6) {
    return false;
  }
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  const std::time_t started = std::mktime(&local);
  if (started == static_cast<std::time_t>(-1)) return false;
  *seconds = static_cast<int64_t>(std::difftime(now, started));
  return true;
}

void FormatAge(int64_t seconds, char (&text)[kAgeSize]) {
  text[0] = '\0';
  // A clock set back shows a pass from the future as just run.
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "less than a minute ago");
    return;
  }
  const int64_t minutes = seconds / 60;
  const int64_t hours = minutes / 60;
  const int64_t days = hours / 24;
  int at = 0;
  if (days > 0) {
    at = AppendUnit(text, at, days, "day");
    if (hours % 24 > 0) at = AppendUnit(text, at, hours % 24, "hour");
  } else if (hours > 0) {
    at = AppendUnit(text, at, hours, "hour");
    if (minutes % 60 > 0) at = AppendUnit(text, at, minutes % 60, "minute");
  } else {
    at = AppendUnit(text, at, minutes, "minute");
  }
  std::snprintf(text + at, sizeof text - at, " ago");
}

void FormatGlance(const RunSummary& summary, std::time_t now, char (&line)[kSummarySize]) {
  char age[kAgeSize] = {};
  int64_t seconds = 0;
  if (SecondsSinceStart(summary, now, &seconds)) FormatAge(seconds, age);
  int at = std::snprintf(line, sizeof line, "Last run %.*s%s%s: %s", kMinuteLength, summary.started,
                         age[0] != '\0' ? ", " : "", age, OutcomeText(summary.outcome));
  const EntryCounts& c = summary.counts;
  const struct {
    uint32_t n;
    const char* what;
  } counts[] = {{c.copied, "copied"},
                {c.updated, "updated"},
                {c.removed, "removed"},
                {c.skipped, "skipped"},
                {c.left_out, "left out"}};
  char text[kCountSize];
  for (const auto& count : counts) {
    if (count.n == 0) continue;
    FormatThousands(count.n, text);
    at += std::snprintf(line + at, sizeof line - at, ", %s %s", text, count.what);
  }
  char duration[kCountSize];
  FormatDuration(summary.seconds, duration, sizeof duration);
  FormatThousands(summary.mib, text);
  std::snprintf(line + at, sizeof line - at, ", %s MiB in %s%s", text, duration,
                c.mass_refused > 0 ? kMassRefused : "");
}
