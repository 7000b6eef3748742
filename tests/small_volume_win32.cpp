#include "tests/small_volume.h"

// Wine has no way to mount a small volume.
bool MountSmallVolume(const fs::path&, size_t) {
  return false;
}

void UnmountSmallVolume(const fs::path&) {}
