// The end-of-run countdown, driven by the window's one-second timer: the
// time limit of a pass, and the seconds after a pass before its end option.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/rules/host.h"
#include "run/power.h"

// Seconds left before the window closes; 0 means no countdown.
extern std::atomic<int32_t> gCountdown;
// What the countdown's end carries out; tests put a recording one here.
extern PowerActions* gPower;

// The one-second timer: counts down and, at 0, tells run control, ends the
// window and carries out the end option (hibernate falling back to shutdown).
void OnTimer(Host* host);
