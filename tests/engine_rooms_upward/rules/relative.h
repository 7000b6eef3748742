// A rules file that reaches past its include folders: engine_rooms_upward_test must fail on it.
#include "../walks/walks.h"
