#include "run/countdown.h"

#include "run/run_control.h"
#include "run/run_settings.h"

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
