#include "jobs/posix_io.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

bool SplitPath(const char* path, char (&folder)[kPosixPathMax], const char** last) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
    *last = path;
    return true;
  }
  const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  if (length >= kPosixPathMax) return false;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  *last = slash + 1;
  return true;
}
