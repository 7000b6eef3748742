#include "engine/files/file_services.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <fcntl.h>
#include <fnmatch.h>
#include <gio/gio.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/files/posix_errors.h"
#include "engine/files/remove_tree_posix.h"
#include "engine/files/replace_copy_posix.h"
#include "engine/files/volume_posix.h"
#include "jobs/posix_io.h"
#include "jobs/whole_file.h"

const char kPathSeparator = '/';
const char kAllEntries[] = "*";

namespace {

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;

// The handle of a one-name listing: it has no further entries.
char gSingleEntryFind;

int64_t FileTimeOf(const timespec& time) {
  return (static_cast<int64_t>(time.tv_sec) + kEpochDifference) * 10000000 + time.tv_nsec / 100;
}

// Attributes, time and size of name in folder fd, as a listing shows them:
// a symbolic link is a reparse point with its target's time, size and
// folder bit (none of them for a dangling link). Returns 0 or an errno.
int StatEntry(int fd, const char* name, const char* shown_name, PathInfo* info) {
  struct stat st;
  if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  info->attributes = shown_name[0] == '.' && !IsDotEntry(shown_name) ? kAttrHidden : 0;
  if (S_ISLNK(st.st_mode)) {
    info->attributes |= kAttrReparsePoint;
    if (fstatat(fd, name, &st, 0) != 0) {
      info->last_write = 0;
      info->size = 0;
      return 0;
    }
  }
  if (S_ISDIR(st.st_mode)) info->attributes |= kAttrFolder;
  info->last_write = FileTimeOf(st.st_mtim);
  info->size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int FillEntry(int fd, const char* name, const char* shown_name, FindEntry* entry) {
  const size_t length = std::strlen(shown_name);
  if (length >= kEntryNameSize) return ENAMETOOLONG;
  PathInfo info;
  const int error = StatEntry(fd, name, shown_name, &info);
  if (error != 0) return error;
  entry->attributes = info.attributes;
  entry->last_write = info.last_write;
  entry->size_low = static_cast<uint32_t>(info.size);
  entry->size_high = static_cast<uint32_t>(info.size >> 32);
  std::memcpy(entry->name, shown_name, length + 1);
  return 0;
}

// Reads the next entry of dir that can still be asked about; an entry that
// vanished or cannot be asked is passed over, as if it had not been there.
// A folder's listing: its entries whose names match pattern, or every one
// where pattern is empty. Names are matched before anything is asked of an
// entry, so that a narrow pattern costs the folder's names alone.
struct FolderFind {
  DIR* dir;
  std::string pattern;
};

bool ReadNextEntry(FolderFind& find, FindEntry* entry) {
  for (;;) {
    errno = 0;
    const dirent* next = readdir(find.dir);
    if (next == nullptr) return false;
    if (!find.pattern.empty() && fnmatch(find.pattern.c_str(), next->d_name, FNM_PERIOD) != 0) {
      continue;
    }
    if (FillEntry(dirfd(find.dir), next->d_name, next->d_name, entry) == 0) return true;
  }
}

// Reads up to size bytes, fewer only at the end of the file; -1 on failure.
ssize_t ReadFully(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// True when the plain files open as a and b are of one size and hold the
// same bytes, read side by side in blocks.
bool SameBytes(int a, int b) {
  struct stat st_a;
  struct stat st_b;
  if (fstat(a, &st_a) != 0 || fstat(b, &st_b) != 0 || !S_ISREG(st_a.st_mode) ||
      !S_ISREG(st_b.st_mode) || st_a.st_size != st_b.st_size) {
    return false;
  }
  constexpr size_t kBlock = 64 * 1024;
  char block_a[kBlock];
  char block_b[kBlock];
  for (;;) {
    const ssize_t n = ReadFully(a, block_a, kBlock);
    if (n < 0 || ReadFully(b, block_b, kBlock) != n) return false;
    if (std::memcmp(block_a, block_b, static_cast<size_t>(n)) != 0) return false;
    if (n == 0) return true;
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

// True only when the entry belongs in the home trash, as GLib chooses (an
// entry on the home folder's volume, a file by its folder's), and that trash
// cannot be used: no home folder (a service account's HOME=/nonexistent), or
// a trash folder that cannot be made. Any other failure of a trash is the
// entry's own, and is reported as such, not as a missing trash.
bool HomeTrashUnusable(const char* path, const struct stat& entry) {
  struct stat home;
  if (stat(g_get_home_dir(), &home) != 0) return true;
  struct stat place = entry;
  char folder[kPosixPathMax];
  const char* last = nullptr;
  if (!S_ISDIR(entry.st_mode) && SplitPath(path, folder, &last) && stat(folder, &place) != 0) {
    return false;
  }
  if (place.st_dev != home.st_dev) return false;
  bool usable = true;
  for (const char* part : {"files", "info"}) {
    gchar* trash = g_build_filename(g_get_user_data_dir(), "Trash", part, nullptr);
    usable = usable && g_mkdir_with_parents(trash, 0700) == 0 && access(trash, W_OK | X_OK) == 0;
    g_free(trash);
  }
  return !usable;
}

// The descriptor a changing call works in: the held folder's, or AT_FDCWD
// to go by path.
int FdOf(void* folder) {
  return folder == nullptr ? AT_FDCWD : FdOfHandle(folder);
}

// What a changing call names in the folder it works in: the last element of
// path in a held folder, the whole path by path.
const char* NameIn(void* folder, const char* path) {
  if (folder == nullptr) return path;
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

// A held folder: O_PATH is enough for the calls relative to it, and allowed
// on a folder that may not be listed.
constexpr int kHeldFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// The number for a held folder's open that failed with failure at name in
// folder: a link or a file in a folder's place refuses as a swapped folder
// (the walks looked at a folder there), so that nothing goes by its path.
uint32_t OpenFailure(int folder, const char* name, int failure) {
  if (failure == ENOTDIR || failure == ELOOP) return kErrorFolderSwapped;
  return ErrorIn(folder, name, failure);
}

// Opens the levels of below (one or more names joined by "/") from folder,
// none of them followed as a link and none leaving folder. The descriptor,
// or -1 with *error set.
int OpenBeneath(int folder, const char* below, uint32_t* error) {
  if (std::strchr(below, '/') == nullptr) {
    const int fd = openat(folder, below, kHeldFolderFlags | O_NOFOLLOW);
    if (fd < 0) *error = OpenFailure(folder, below, errno);
    return fd;
  }
  open_how how{};
  how.flags = kHeldFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  const long fd = syscall(SYS_openat2, folder, below, &how, sizeof how);
  if (fd >= 0) return static_cast<int>(fd);
  if (errno == ELOOP || errno == EXDEV || errno == ENOTDIR) {
    *error = kErrorFolderSwapped;
    return -1;
  }
  if (errno != ENOSYS && errno != EPERM) {
    *error = ErrorIn(folder, below, errno);
    return -1;
  }
  // A kernel without openat2 (or a filter that refuses it): level by level.
  char level[kEntryNameSize];
  int at = folder;
  for (const char* name = below; *name != '\0';) {
    const char* end = std::strchr(name, '/');
    const size_t length = end == nullptr ? std::strlen(name) : static_cast<size_t>(end - name);
    int next = -1;
    if (length >= sizeof level) {
      *error = kErrorNameTooLong;
    } else {
      std::memcpy(level, name, length);
      level[length] = '\0';
      next = OpenBeneath(at, level, error);
    }
    if (at != folder) close(at);
    if (next < 0) return -1;
    at = next;
    name += end == nullptr ? length : length + 1;
  }
  return at;
}

// True when folder reaches, by path, the folder held as fd.
bool HeldAt(int fd, const char* folder) {
  struct stat held;
  struct stat now;
  return fstat(fd, &held) == 0 && stat(folder, &now) == 0 && held.st_dev == now.st_dev &&
         held.st_ino == now.st_ino;
}

// True when the folder of path is, by path, still the folder held as fd: a
// call that can only go by path is then made into the held folder.
bool StillAtPath(int fd, const char* path) {
  char folder[kPosixPathMax];
  const char* last = nullptr;
  return SplitPath(path, folder, &last) && HeldAt(fd, folder);
}

void UseLocalFilesOnly() {
  // GIO on its own would reach for a desktop session's daemons; a backup run may have none.
  static const bool done = setenv("GIO_USE_VFS", "local", /*overwrite=*/0) == 0;
  (void)done;
}

class PosixFileServices : public FileServices {
 public:
  void* StartFind(const char* pattern, FindEntry* entry, uint32_t* error) override {
    char folder[kPosixPathMax];
    const char* last = nullptr;
    if (!SplitPath(pattern, folder, &last)) {
      *error = kErrorNameTooLong;
      return nullptr;
    }
    if (std::strpbrk(last, "*?") == nullptr) return StartOne(pattern, last, entry, error);
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
    auto find = std::make_unique<FolderFind>(
        FolderFind{dir, std::strcmp(last, kAllEntries) == 0 ? "" : last});
    if (!ReadNextEntry(*find, entry)) {
      *error = errno != 0 ? WindowsErrorFromErrno(errno) : kErrorFileNotFound;
      closedir(dir);
      return nullptr;
    }
    return find.release();
  }

  bool NextFind(void* find, FindEntry* entry, uint32_t* error) override {
    *error = 0;
    if (find == &gSingleEntryFind) return false;
    if (ReadNextEntry(*static_cast<FolderFind*>(find), entry)) return true;
    if (errno != 0) *error = WindowsErrorFromErrno(errno);
    return false;
  }

  void EndFind(void* find) override {
    if (find == &gSingleEntryFind) return;
    std::unique_ptr<FolderFind> folder(static_cast<FolderFind*>(find));
    closedir(folder->dir);
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

  bool ResolvePath(const char* path, char* resolved, size_t size) override {
    return ResolvedPath(path, resolved, size);
  }

  bool ReadInfo(const char* path, PathInfo* info, uint32_t* error) override {
    const char* name = std::strrchr(path, '/');
    const int failure = StatEntry(AT_FDCWD, path, name == nullptr ? path : name + 1, info);
    if (failure != 0) *error = ErrorForPath(path, failure);
    return failure == 0;
  }

  void* OpenFolder(const char* path) override {
    const int fd = open(path, kHeldFolderFlags);
    return fd < 0 ? nullptr : HandleOfFd(fd);
  }

  void* OpenSubfolder(void* parent, const char* path, size_t parent_length,
                      uint32_t* error) override {
    int fd = -1;
    if (parent == nullptr) {
      fd = open(path, kHeldFolderFlags | O_NOFOLLOW);
      if (fd < 0) *error = OpenFailure(AT_FDCWD, path, errno);
    } else {
      const char* below = path + parent_length;
      while (*below == '/')
        ++below;
      fd = OpenBeneath(FdOfHandle(parent), below, error);
    }
    return fd < 0 ? nullptr : HandleOfFd(fd);
  }

  void CloseFolder(void* folder) override {
    if (folder != nullptr) close(FdOfHandle(folder));
  }

  bool FolderStillAt(void* folder, const char* path) override {
    return folder == nullptr || HeldAt(FdOfHandle(folder), path);
  }

  bool ReadInfoIn(void* folder, const char* path, PathInfo* info, uint32_t* error) override {
    if (folder == nullptr) return ReadInfo(path, info, error);
    const char* name = NameIn(folder, path);
    const int failure = StatEntry(FdOfHandle(folder), name, name, info);
    if (failure != 0) *error = ErrorIn(FdOfHandle(folder), name, failure);
    return failure == 0;
  }

  bool SameContent(const char* a, const char* b) override {
    // Non-blocking, so that a named pipe cannot hang the question.
    const int fd_a = open(a, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int fd_b = fd_a < 0 ? -1 : open(b, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const bool same = fd_b >= 0 && SameBytes(fd_a, fd_b);
    if (fd_b >= 0) close(fd_b);
    if (fd_a >= 0) close(fd_a);
    return same;
  }

  // No fsync per file: it would cost more than the copy on a large pass, and
  // a kill or a failure still never leaves a partial file, because the copy
  // gets its name last. FlushCopies makes a batch durable where that counts.
  bool ReplaceWithCopy(void* folder, const char* source, const char* destination,
                       const char* keep_old_as, uint32_t* error, bool* at_source) override {
    return CopyIntoPlace(FdOf(folder), source, destination, keep_old_as,
                         TemporaryKind::kUnnamedFirst, error, at_source);
  }

  // One syncfs per file system the copies lie on: it writes out every dirty
  // page and the folder entries with them, far cheaper than an fsync per
  // file. A folder is asked for its file system only when it differs from
  // the previous copy's.
  bool FlushCopies(const char* paths) override {
    constexpr size_t kMaxVolumes = 8;
    dev_t flushed[kMaxVolumes];
    size_t volumes = 0;
    char folder[kPosixPathMax];
    char previous[kPosixPathMax] = {};
    for (const char* path = paths; *path != '\0'; path += std::strlen(path) + 1) {
      const char* last = nullptr;
      if (!SplitPath(path, folder, &last)) return false;
      if (std::strcmp(folder, previous) == 0) continue;
      std::strcpy(previous, folder);
      const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) return false;
      struct stat st;
      bool done = fstat(fd, &st) == 0;
      if (done && std::find(flushed, flushed + volumes, st.st_dev) == flushed + volumes) {
        done = syncfs(fd) == 0;
        if (done && volumes < kMaxVolumes) flushed[volumes++] = st.st_dev;
      }
      close(fd);
      if (!done) return false;
    }
    return true;
  }

  bool SetLastWrite(const char* path, int64_t last_write) override {
    const int64_t since_1970 = last_write - kEpochDifference * 10000000;
    timespec time{};
    time.tv_sec = static_cast<time_t>(since_1970 / 10000000);
    time.tv_nsec = static_cast<long>(since_1970 % 10000000) * 100;
    if (time.tv_nsec < 0) {
      time.tv_nsec += 1000000000;
      --time.tv_sec;
    }
    const timespec times[2] = {time, time};
    return utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) == 0;
  }

  bool RemoveFile(void* folder, const char* path) override {
    return unlinkat(FdOf(folder), NameIn(folder, path), 0) == 0;
  }

  // Created private, then given the source folder's bits: the folder is never
  // open to others in between, and a link swapped in for it is not followed.
  bool MakeFolder(void* folder, const char* path, const char* like, uint32_t* error) override {
    const int fd = FdOf(folder);
    const char* name = NameIn(folder, path);
    if (mkdirat(fd, name, 0700) != 0) {
      const int failure = errno;
      *error = FolderNameRefused(path, failure) ? kErrorInvalidName : ErrorIn(fd, name, failure);
      return false;
    }
    struct stat st;
    if (stat(like, &st) == 0) {
      fchmodat(fd, name, (st.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW);
    }
    return true;
  }

  bool MakeHiddenFolder(const char* path) override { return mkdir(path, 0700) == 0; }

  // The trash is reached by path only: the path's folder is first checked to
  // be the held one. What is swapped in between that check and the trash's
  // own rename is not seen.
  int Recycle(void* folder, const char* path) override {
    if (folder != nullptr && !StillAtPath(FdOfHandle(folder), path)) {
      return static_cast<int>(kErrorFolderSwapped);
    }
    UseLocalFilesOnly();
    GFile* file = g_file_new_for_path(path);
    GError* failure = nullptr;
    int result = 0;
    if (!g_file_trash(file, /*cancellable=*/nullptr, &failure)) {
      struct stat st;
      if (lstat(path, &st) != 0) {
        result = static_cast<int>(ErrorForPath(path, errno));
      } else if (g_error_matches(failure, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED) ||
                 (g_error_matches(failure, G_IO_ERROR, G_IO_ERROR_FAILED) && OnShareOrFuse(path)) ||
                 HomeTrashUnusable(path, st)) {
        result = static_cast<int>(kErrorNoTrash);
      } else {
        result = static_cast<int>(ErrorFromGio(failure));
      }
      g_error_free(failure);
    }
    g_object_unref(file);
    return result;
  }

  int RemoveForGood(void* folder, const char* path) override {
    const int fd = FdOf(folder);
    const char* name = NameIn(folder, path);
    const int error = RemoveTree(fd, name);
    return error == 0 ? 0 : static_cast<int>(ErrorIn(fd, name, error));
  }

  int MoveAside(void* folder, const char* path, const char* to) override {
    const int fd = FdOf(folder);
    const char* name = NameIn(folder, path);
    const int error = RenameNew(fd, name, to);
    if (error == 0) return 0;
    // A missing name is the entry's when it is gone, else the new name's folder's.
    struct stat st;
    if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      return static_cast<int>(ErrorForPath(to, error));
    }
    return static_cast<int>(ErrorIn(fd, name, error));
  }

  bool IgnoresCase(const char* folder, bool may_probe) override {
    return VolumeIgnoresCase(folder, may_probe);
  }

  bool RenameEntry(const char* path, const char* new_path) override {
    return RenameThroughTemporary(path, new_path) == 0;
  }

  bool TimesKept(const char* path, TimeKeeping* kept) override {
    return VolumeTimesKept(path, kept);
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
      *error = ErrorForPath(pattern, failure);
      return nullptr;
    }
    return &gSingleEntryFind;
  }
};

}  // namespace

FileServices& DefaultFileServices() {
  static PosixFileServices files;
  return files;
}
