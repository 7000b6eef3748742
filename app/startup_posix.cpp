#include "app/startup.h"

#include <unistd.h>

bool SetWorkingDirectoryToExecutable() {
  char path[512];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return false;
  path[n] = '\0';
  CutToFolder(path, '/');
  return path[0] != '\0' && chdir(path) == 0;
}
