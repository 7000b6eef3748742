#include "engine/rules/path_buffer.h"

#include <cstring>

bool AppendElement(char* path, size_t end, const char* name, size_t spare) {
  const size_t length = std::strlen(name);
  if (end + 1 + length + 1 + spare > kPathBufferSize) return false;
  path[end] = kPathSeparator;
  std::memcpy(path + end + 1, name, length + 1);
  return true;
}
