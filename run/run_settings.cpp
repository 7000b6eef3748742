#include "run/run_settings.h"

#include "run/run_log.h"

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
std::atomic<int32_t> gCountdown{0};
PowerActions* gPower = &DefaultPowerActions();

void OnTimer(Host* host) {
  // A pass may set the count while it is read; only a count that this tick
  // brought down from 1 fires.
  int32_t count = gCountdown.load();
  do {
    if (count == 0) return;
  } while (!gCountdown.compare_exchange_weak(count, count - 1));
  if (count - 1 > 0) return;

  NoteCountdownEnded();
  host->EndWindow();
  switch (gRunSettings.end_option.load()) {
    case kEndHibernate:
      if (!gPower->Hibernate()) gPower->ShutDown();
      break;
    case kEndShutdown:
      gPower->ShutDown();
      break;
    default:
      break;
  }
}
