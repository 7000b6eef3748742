#include "run/run_control.h"

#ifndef LARKSPAN_MEDIUM_WAIT_SECONDS
#define LARKSPAN_MEDIUM_WAIT_SECONDS (5 * 60)
#endif

extern const uint32_t kMediumWaitSeconds = LARKSPAN_MEDIUM_WAIT_SECONDS;
