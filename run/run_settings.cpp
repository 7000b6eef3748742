#include "run/run_settings.h"

const char* const kRunSettingTexts[kEndOptionCount + kTimeLimitCount] = {
    "End Option", "Close",     "Shutdown", "Hibernate", "Time Limit", "5 Minute",
    "10 Minute",  "30 Minute", "1 Hour",   "2 Hours",   "5 Hours"};

namespace {
constexpr int32_t kTimeLimitSeconds[kTimeLimitCount] = {0, 300, 600, 1800, 3600, 7200, 18000};
}  // namespace

int32_t TimeLimitSeconds(int32_t index) {
  if (index < 0 || index >= kTimeLimitCount) return 0;
  return kTimeLimitSeconds[index];
}

RunSettings gRunSettings;
