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
  std::snprintf(line, sizeof line,
                "%s%s: %s, %u copied, %u updated, %u removed, %u skipped, %u MiB in %s",
                kSummaryHead, summary.started, OutcomeText(summary.outcome), c.copied, c.updated,
                c.removed, c.skipped, summary.mib, duration);
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
  if (std::sscanf(at, ", %u copied, %u updated, %u removed, %u skipped, %u MiB in %u:%u%n",
                  &c.copied, &c.updated, &c.removed, &c.skipped, &summary->mib, &first, &second,
                  &end) != 7) {
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

void FormatGlance(const RunSummary& summary, char (&line)[kSummarySize]) {
  int at = std::snprintf(line, sizeof line, "Last run %.*s: %s", kMinuteLength, summary.started,
                         OutcomeText(summary.outcome));
  const EntryCounts& c = summary.counts;
  const struct {
    uint32_t n;
    const char* what;
  } counts[] = {
      {c.copied, "copied"}, {c.updated, "updated"}, {c.removed, "removed"}, {c.skipped, "skipped"}};
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
