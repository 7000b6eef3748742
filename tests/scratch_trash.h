// A trash of the tests' own: whatever a test recycles lands in a scratch
// folder, never in the user's trash. On POSIX the folder is set as
// XDG_DATA_HOME as the program starts, before any GLib call reads it.
#pragma once

#include "tests/test_support.h"

// The scratch folder that stands for the user's data folder.
const fs::path& ScratchDataHome();
