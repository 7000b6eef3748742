#include "jobs/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jobs/posix_io.h"

namespace {

// Makes a rename in path's folder durable.
void SyncFolderOf(const char* path) {
  char folder[kPosixPathMax];
  const char* last = nullptr;
  if (!SplitPath(path, folder, &last)) return;
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

class PosixWholeFiles : public WholeFiles {
 public:
  ReadResult ReadAll(const char* path, std::string* text) override {
    // A FIFO or a device would block the open or the read, or answer
    // forever: only a plain file is opened, and without waiting in case
    // something else takes its name meanwhile.
    struct stat st;
    if (stat(path, &st) != 0) {
      return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing : ReadResult::kUnreadable;
    }
    if (!S_ISREG(st.st_mode)) return ReadResult::kUnreadable;
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing : ReadResult::kUnreadable;
    }
    ReadResult result = ReadResult::kUnreadable;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) <= kMaxWholeFileSize) {
      text->clear();
      char buffer[65536];
      for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        if (n == 0) {
          result = ReadResult::kRead;
          break;
        }
        text->append(buffer, static_cast<size_t>(n));
      }
    }
    close(fd);
    return result;
  }

  void* CreateForWrite(const char* path, const char* like) override {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    // The mask of open would narrow like's bits: they are set afterwards.
    struct stat st;
    if (stat(like, &st) == 0 && S_ISREG(st.st_mode) && fchmod(fd, st.st_mode & 07777) != 0) {
      close(fd);
      unlink(path);
      return nullptr;
    }
    return HandleOfFd(fd);
  }

  bool WriteAll(void* file, const char* data, size_t size) override {
    return ::WriteAll(FdOfHandle(file), data, size) == 0;
  }

  bool Flush(void* file) override { return fsync(FdOfHandle(file)) == 0; }

  bool Close(void* file) override { return close(FdOfHandle(file)) == 0; }

  bool Replace(const char* from, const char* to) override {
    if (rename(from, to) != 0) return false;
    SyncFolderOf(to);
    return true;
  }

  bool RemoveIfPresent(const char* path) override {
    return unlink(path) == 0 || errno == ENOENT || errno == ENOTDIR;
  }

  bool RemovePlainFile(const char* path) override {
    struct stat st;
    if (lstat(path, &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    if (!S_ISREG(st.st_mode)) return false;
    return unlink(path) == 0 || errno == ENOENT;
  }

  bool FinalPath(const char* path, char* final_path, size_t size) override {
    struct stat st;
    if (lstat(path, &st) != 0 || !S_ISLNK(st.st_mode)) return CopyWholePath(path, final_path, size);
    return ResolvedPath(path, final_path, size);
  }

  bool Exists(const char* path) override {
    struct stat st;
    return lstat(path, &st) == 0;
  }
};

}  // namespace

WholeFiles& DefaultWholeFiles() {
  static PosixWholeFiles files;
  return files;
}

bool ResolvedPath(const char* path, char* target, size_t size) {
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) return false;
  const bool fits = CopyWholePath(resolved, target, size);
  std::free(resolved);
  return fits;
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
