// A real volume of a few MiB, for filling a disk up. Mounting needs a system
// that allows it (Linux, as root); elsewhere MountSmallVolume says no and the
// test falls back to an injected failure.
#pragma once

#include <cstddef>

#include "tests/test_support.h"

// Mounts an empty volume of size bytes on the existing folder. False when the
// system refuses.
bool MountSmallVolume(const fs::path& folder, size_t size);
void UnmountSmallVolume(const fs::path& folder);
