// A seam file that reaches up into the walks: engine_rooms_upward_test must fail on it.
#include "engine/walks/walks.h"
