// The run settings (end option, time limit), their texts, and the
// end-of-run countdown driven by the window's one-second timer.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/host.h"
#include "run/power.h"

enum EndOption : int32_t { kEndNone = 0, kEndClose = 1, kEndShutdown = 2, kEndHibernate = 3 };
constexpr int kEndOptionCount = 4;
constexpr int kTimeLimitCount = 7;

// The eleven texts in one table: the four end options, then the seven time
// limits. Entry 0 of each list is its caption and means "none chosen".
extern const char* const kRunSettingTexts[kEndOptionCount + kTimeLimitCount];

inline const char* EndOptionText(int i) {
  return kRunSettingTexts[i];
}
inline const char* TimeLimitText(int i) {
  return kRunSettingTexts[kEndOptionCount + i];
}
// Seconds of time limit i; 0 for "Time Limit" and for any index outside 0..6,
// so that a stray value read from a project arms no countdown.
int32_t TimeLimitSeconds(int32_t index);

struct RunSettings {
  std::atomic<int32_t> end_option{kEndNone};
  std::atomic<int32_t> time_limit{0};
};

extern RunSettings gRunSettings;
// Seconds left before the window closes; 0 means no countdown.
extern std::atomic<int32_t> gCountdown;
// What the countdown's end carries out; tests put a recording one here.
extern PowerActions* gPower;

// The one-second timer: counts down and, at 0, tells the run log, ends the
// window and carries out the end option (hibernate falling back to shutdown).
void OnTimer(Host* host);
