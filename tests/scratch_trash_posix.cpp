#include "tests/scratch_trash.h"

#include <cstdlib>

namespace {

// Set up during static initialisation, so that it precedes every test.
const TempDir gDataHome;
const bool gDataHomeSet = setenv("XDG_DATA_HOME", gDataHome.path().c_str(), /*overwrite=*/1) == 0;

}  // namespace

const fs::path& ScratchDataHome() {
  return gDataHome.path();
}
