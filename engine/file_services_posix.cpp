#include "engine/file_services.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/posix_errors.h"
#include "engine/remove_tree_posix.h"

const char kPathSeparator = '/';
const char kAllEntries[] = "*";

void* gRecycleOwner = nullptr;

namespace {

constexpr size_t kPathMax = 4096;
// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;
constexpr size_t kCopyBufferSize = 64 * 1024;
constexpr size_t kCopyChunk = size_t{1} << 30;

// The handle of a one-name listing: it has no further entries.
char gSingleEntryFind;

int64_t FileTimeOf(const timespec& time) {
  return (static_cast<int64_t>(time.tv_sec) + kEpochDifference) * 10000000 + time.tv_nsec / 100;
}

bool IsDotName(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Splits path into its folder (".", "/" or the text before the last
// separator) and its last element. False when the folder does not fit.
bool SplitPath(const char* path, char (&folder)[kPathMax], const char** last) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
    *last = path;
    return true;
  }
  const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  if (length >= kPathMax) return false;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  *last = slash + 1;
  return true;
}

// The number for a call on path that failed with error. A missing name is
// told apart as Windows does: 2 when its folder exists, 3 when a folder on
// the way is missing.
uint32_t ErrorFor(const char* path, int error) {
  if (error != ENOENT) return WindowsErrorFromErrno(error);
  char folder[kPathMax];
  const char* last = nullptr;
  if (!SplitPath(path, folder, &last)) return kErrorNameTooLong;
  struct stat st;
  return stat(folder, &st) == 0 && S_ISDIR(st.st_mode) ? kErrorFileNotFound : kErrorPathNotFound;
}

// Attributes, time and size of name in folder fd, as a listing shows them:
// a symbolic link is a reparse point with its target's time, size and
// folder bit (none of them for a dangling link). Returns 0 or an errno.
int StatEntry(int fd, const char* name, const char* shown_name, uint32_t* attributes,
              int64_t* last_write, uint32_t* size_low) {
  struct stat st;
  if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  *attributes = shown_name[0] == '.' && !IsDotName(shown_name) ? kAttrHidden : 0;
  if (S_ISLNK(st.st_mode)) {
    *attributes |= kAttrReparsePoint;
    if (fstatat(fd, name, &st, 0) != 0) {
      *last_write = 0;
      *size_low = 0;
      return 0;
    }
  }
  if (S_ISDIR(st.st_mode)) *attributes |= kAttrFolder;
  *last_write = FileTimeOf(st.st_mtim);
  *size_low = static_cast<uint32_t>(st.st_size);
  return 0;
}

int FillEntry(int fd, const char* name, const char* shown_name, FindEntry* entry) {
  const size_t length = std::strlen(shown_name);
  if (length >= kEntryNameSize) return ENAMETOOLONG;
  const int error =
      StatEntry(fd, name, shown_name, &entry->attributes, &entry->last_write, &entry->size_low);
  if (error == 0) std::memcpy(entry->name, shown_name, length + 1);
  return error;
}

// Reads the next entry of dir that can still be asked about; an entry that
// vanished or cannot be asked is passed over, as if it had not been there.
bool ReadNextEntry(DIR* dir, FindEntry* entry) {
  for (;;) {
    errno = 0;
    const dirent* next = readdir(dir);
    if (next == nullptr) return false;
    if (FillEntry(dirfd(dir), next->d_name, next->d_name, entry) == 0) return true;
  }
}

uint32_t ErrorFromGio(const GError* error) {
  switch (error->code) {
    case G_IO_ERROR_NOT_FOUND:
      return kErrorFileNotFound;
    case G_IO_ERROR_PERMISSION_DENIED:
      return kErrorAccessDenied;
    case G_IO_ERROR_NO_SPACE:
      return kErrorDiskFull;
    case G_IO_ERROR_FILENAME_TOO_LONG:
      return kErrorNameTooLong;
    case G_IO_ERROR_HOST_UNREACHABLE:
    case G_IO_ERROR_NETWORK_UNREACHABLE:
    case G_IO_ERROR_CONNECTION_REFUSED:
    case G_IO_ERROR_TIMED_OUT:
    case G_IO_ERROR_NOT_CONNECTED:
    case G_IO_ERROR_CONNECTION_CLOSED:
      return kErrorBadNetPath;
    default:
      return kErrorGeneral;
  }
}

// Writes all of size bytes; 0 or an errno.
int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int CopyByReadWrite(int in, int out) {
  char buffer[kCopyBufferSize];
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    const int error = WriteAll(out, buffer, static_cast<size_t>(n));
    if (error != 0) return error;
  }
}

bool CopyRangeRefused(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Copies the rest of in to out; 0 or an errno. copy_file_range lets the file
// system share or copy the blocks itself; where it refuses, or copies nothing
// at its first call (some file systems report their files as empty to it),
// plain reads and writes go on from the same offsets.
int CopyContent(int in, int out) {
  for (bool first = true;; first = false) {
    const ssize_t n = copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return CopyRangeRefused(errno) ? CopyByReadWrite(in, out) : errno;
    if (n == 0) return first ? CopyByReadWrite(in, out) : 0;
  }
}

// Creates path for writing, new; a stray left by an earlier run of the same
// process id is removed once. Returns the descriptor or -1 with errno set.
int CreateTemporary(const char* path) {
  constexpr int kFlags = O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC;
  int fd = open(path, kFlags, 0600);
  if (fd < 0 && errno == EEXIST && unlink(path) == 0) fd = open(path, kFlags, 0600);
  return fd;
}

// Fills the new file out from in: content, permission bits and times.
// Returns 0 or an errno.
int FillCopy(int in, int out, const struct stat& source) {
  const int error = CopyContent(in, out);
  if (error != 0) return error;
  if (fchmod(out, source.st_mode & 07777) != 0) return errno;
  const timespec times[2] = {source.st_atim, source.st_mtim};
  if (futimens(out, times) != 0) return errno;
  return 0;
}

void UseLocalFilesOnly() {
  // GIO on its own would reach for a desktop session's daemons; a backup run may have none.
  static const bool done = setenv("GIO_USE_VFS", "local", /*overwrite=*/0) == 0;
  (void)done;
}

class PosixFileServices : public FileServices {
 public:
  void* StartFind(const char* pattern, FindEntry* entry, uint32_t* error) override {
    char folder[kPathMax];
    const char* last = nullptr;
    if (!SplitPath(pattern, folder, &last)) {
      *error = kErrorNameTooLong;
      return nullptr;
    }
    if (std::strcmp(last, kAllEntries) != 0) return StartOne(pattern, last, entry, error);
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // The folder itself missing is a folder on the way to the entries.
    if (fd < 0) {
      *error = errno == ENOENT ? kErrorPathNotFound : WindowsErrorFromErrno(errno);
      return nullptr;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
      *error = WindowsErrorFromErrno(errno);
      close(fd);
      return nullptr;
    }
    if (!ReadNextEntry(dir, entry)) {
      *error = errno != 0 ? WindowsErrorFromErrno(errno) : kErrorFileNotFound;
      closedir(dir);
      return nullptr;
    }
    return dir;
  }

  bool NextFind(void* find, FindEntry* entry) override {
    if (find == &gSingleEntryFind) return false;
    return ReadNextEntry(static_cast<DIR*>(find), entry);
  }

  void EndFind(void* find) override {
    if (find != &gSingleEntryFind) closedir(static_cast<DIR*>(find));
  }

  bool IsFolder(const char* path) override {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool Exists(const char* path) override {
    struct stat st;
    return lstat(path, &st) == 0;
  }

  bool FolderIdentity(const char* path, uint64_t* volume, uint64_t* id) override {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    *volume = static_cast<uint64_t>(st.st_dev);
    *id = static_cast<uint64_t>(st.st_ino);
    return true;
  }

  bool ReadInfo(const char* path, PathInfo* info, uint32_t* error) override {
    const char* name = std::strrchr(path, '/');
    uint32_t size_low = 0;
    const int failure = StatEntry(AT_FDCWD, path, name == nullptr ? path : name + 1,
                                  &info->attributes, &info->last_write, &size_low);
    if (failure != 0) *error = ErrorFor(path, failure);
    return failure == 0;
  }

  // No fsync per file: it would cost more than the copy on a large pass, and
  // a kill or a failure still never leaves a partial file, because the
  // rename comes last.
  bool ReplaceWithCopy(const char* source, const char* destination, uint32_t* error) override {
    char temporary[kPathMax];
    const char* last = nullptr;
    if (!SplitPath(destination, temporary, &last) ||
        !Append(temporary, "/~larkspan-", static_cast<long>(getpid()), ".tmp")) {
      *error = kErrorNameTooLong;
      return false;
    }
    // Non-blocking, so that a named pipe listed as a file cannot hang the pass.
    const int in = open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
      *error = ErrorFor(source, errno);
      return false;
    }
    struct stat st;
    int failure = fstat(in, &st) != 0 ? errno : 0;
    if (failure == 0 && !S_ISREG(st.st_mode)) failure = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (failure != 0) {
      close(in);
      *error = WindowsErrorFromErrno(failure);
      return false;
    }
    const int out = CreateTemporary(temporary);
    if (out < 0) {
      *error = ErrorFor(temporary, errno);
      close(in);
      return false;
    }
    failure = FillCopy(in, out, st);
    close(in);
    if (close(out) != 0 && failure == 0) failure = errno;
    if (failure == 0 && rename(temporary, destination) != 0) failure = errno;
    if (failure == 0) return true;
    unlink(temporary);
    *error = WindowsErrorFromErrno(failure);
    return false;
  }

  bool RemoveFile(const char* path) override { return unlink(path) == 0; }

  bool MakeFolder(const char* path) override { return mkdir(path, 0777) == 0; }

  int Recycle(const char* path) override {
    UseLocalFilesOnly();
    GFile* file = g_file_new_for_path(path);
    GError* failure = nullptr;
    int result = 0;
    if (!g_file_trash(file, /*cancellable=*/nullptr, &failure)) {
      if (g_error_matches(failure, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED)) {
        // No trash on this volume: deleted for good, as on a Windows share.
        const int error = RemoveTree(AT_FDCWD, path);
        result = error == 0 ? 0 : static_cast<int>(ErrorFor(path, error));
      } else {
        struct stat st;
        result = lstat(path, &st) != 0 ? static_cast<int>(ErrorFor(path, errno))
                                       : static_cast<int>(ErrorFromGio(failure));
      }
      g_error_free(failure);
    }
    g_object_unref(file);
    return result;
  }

 private:
  // The one entry of a pattern that names a file or folder.
  static void* StartOne(const char* pattern, const char* name, FindEntry* entry, uint32_t* error) {
    if (name[0] == '\0') {
      *error = kErrorFileNotFound;
      return nullptr;
    }
    const int failure = FillEntry(AT_FDCWD, pattern, name, entry);
    if (failure != 0) {
      *error = ErrorFor(pattern, failure);
      return nullptr;
    }
    return &gSingleEntryFind;
  }

  // Appends prefix, number and suffix to text; false when they do not fit.
  static bool Append(char (&text)[kPathMax], const char* prefix, long number, const char* suffix) {
    const size_t used = std::strlen(text);
    const int n = std::snprintf(text + used, kPathMax - used, "%s%ld%s", prefix, number, suffix);
    return n >= 0 && static_cast<size_t>(n) < kPathMax - used;
  }
};

}  // namespace

FileServices& DefaultFileServices() {
  static PosixFileServices files;
  return files;
}
