#include "app/startup.h"

#include <cstring>

const char kDefaultProjectName[] = "Larkspan.lpj";

bool ProjectPathFromTail(const char* tail, char* path, size_t size) {
  if (size == 0) return false;
  path[0] = '\0';
  if (tail[0] == '\0')
    tail = kDefaultProjectName;
  else if (tail[0] == '"')
    ++tail;
  size_t n = std::strlen(tail);
  if (n > 0 && tail[n - 1] == '"') --n;
  if (n >= size) return false;
  std::memcpy(path, tail, n);
  path[n] = '\0';
  return true;
}

const char* CommandLineTail(const char* command_line) {
  const auto* at = reinterpret_cast<const unsigned char*>(command_line);
  if (*at == '"') {
    ++at;
    while (*at != '\0' && *at != '"')
      ++at;
    if (*at == '"') ++at;
  } else {
    while (*at > ' ')
      ++at;
  }
  while (*at != '\0' && *at <= ' ')
    ++at;
  return reinterpret_cast<const char*>(at);
}

void CutToFolder(char* path, char separator) {
  size_t i = std::strlen(path);
  if (i == 0) return;
  --i;
  while (i > 0 && path[i] != separator)
    --i;
  path[i] = '\0';
}
