#include "app/startup.h"

#include <unistd.h>

#include <cstdio>

bool SetWorkingDirectoryToExecutable() {
  char path[512];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return false;
  path[n] = '\0';
  CutToFolder(path, '/');
  return path[0] != '\0' && chdir(path) == 0;
}

bool MakeAbsolute(const char* path, char* absolute, size_t size) {
  if (path[0] == '\0') return false;
  char folder[4096];
  const bool relative = path[0] != '/';
  if (relative && getcwd(folder, sizeof folder) == nullptr) return false;
  const int n = relative ? std::snprintf(absolute, size, "%s/%s", folder, path)
                         : std::snprintf(absolute, size, "%s", path);
  return n >= 0 && static_cast<size_t>(n) < size;
}
