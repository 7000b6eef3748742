#include "jobs/whole_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Makes a rename in path's folder durable.
void SyncFolderOf(const char* path) {
  char folder[1024];
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
  } else {
    const size_t n = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (n >= sizeof folder) return;
    std::memcpy(folder, path, n);
    folder[n] = '\0';
  }
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

class PosixWholeFiles : public WholeFiles {
 public:
  ReadResult ReadAll(const char* path, std::string* text) override {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing : ReadResult::kUnreadable;
    }
    struct stat st;
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

  void* CreateForWrite(const char* path) override {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? nullptr : reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
  }

  bool WriteAll(void* file, const char* data, size_t size) override {
    const int fd = Fd(file);
    while (size > 0) {
      const ssize_t n = write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  bool Flush(void* file) override { return fsync(Fd(file)) == 0; }

  bool Close(void* file) override { return close(Fd(file)) == 0; }

  bool Replace(const char* from, const char* to) override {
    if (rename(from, to) != 0) return false;
    SyncFolderOf(to);
    return true;
  }

  bool RemoveIfPresent(const char* path) override {
    return unlink(path) == 0 || errno == ENOENT || errno == ENOTDIR;
  }

  bool Exists(const char* path) override {
    struct stat st;
    return lstat(path, &st) == 0;
  }

 private:
  static int Fd(void* file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }
};

}  // namespace

WholeFiles& DefaultWholeFiles() {
  static PosixWholeFiles files;
  return files;
}
