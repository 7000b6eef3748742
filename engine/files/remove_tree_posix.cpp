#include "engine/files/remove_tree_posix.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int RemoveTree(int parent, const char* name) {
  struct stat st;
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return unlinkat(parent, name, 0) == 0 ? 0 : errno;
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    close(fd);
    return error;
  }
  int error = 0;
  while (const dirent* next = readdir(dir)) {
    if (std::strcmp(next->d_name, ".") == 0 || std::strcmp(next->d_name, "..") == 0) continue;
    error = RemoveTree(dirfd(dir), next->d_name);
    if (error != 0) break;
  }
  closedir(dir);
  if (error != 0) return error;
  return unlinkat(parent, name, AT_REMOVEDIR) == 0 ? 0 : errno;
}
