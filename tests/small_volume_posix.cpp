#include <string>
#include <sys/mount.h>

#include "tests/small_volume.h"

bool MountSmallVolume(const fs::path& folder, size_t size) {
  const std::string options = "size=" + std::to_string(size);
  return mount("larkspan-test", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

void UnmountSmallVolume(const fs::path& folder) {
  umount2(folder.c_str(), MNT_DETACH);
}
