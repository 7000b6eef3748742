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
#include "engine/replace_copy_posix.h"

const char kPathSeparator = '/';
const char kAllEntries[] = "*";

std::atomic<void*> gRecycleOwner{nullptr};

namespace {

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;

// The handle of a one-name listing: it has no further entries.
char gSingleEntryFind;

int64_t FileTimeOf(const timespec& time) {
  return (static_cast<int64_t>(time.tv_sec) + kEpochDifference) * 10000000 + time.tv_nsec / 100;
}

bool IsDotName(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
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
    if (failure != 0) *error = ErrorForPath(path, failure);
    return failure == 0;
  }

  // O_PATH: enough for asking about names in the folder, and allowed on a
  // folder that may not be listed.
  void* OpenFolder(const char* path) override {
    const int fd = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? nullptr : FolderHandle(fd);
  }

  void CloseFolder(void* folder) override {
    if (folder != nullptr) close(FolderFd(folder));
  }

  bool ReadInfoIn(void* folder, const char* path, PathInfo* info, uint32_t* error) override {
    if (folder == nullptr) return ReadInfo(path, info, error);
    const char* slash = std::strrchr(path, '/');
    const char* name = slash == nullptr ? path : slash + 1;
    const int fd = FolderFd(folder);
    uint32_t size_low = 0;
    const int failure = StatEntry(fd, name, name, &info->attributes, &info->last_write, &size_low);
    if (failure == 0) return true;
    // The folder is there unless it was removed since it was opened.
    struct stat st;
    const bool folder_gone = fstat(fd, &st) != 0 || st.st_nlink == 0;
    *error = failure != ENOENT ? WindowsErrorFromErrno(failure)
             : folder_gone     ? kErrorPathNotFound
                               : kErrorFileNotFound;
    return false;
  }

  // No fsync per file: it would cost more than the copy on a large pass, and
  // a kill or a failure still never leaves a partial file, because the copy
  // gets its name last.
  bool ReplaceWithCopy(const char* source, const char* destination, uint32_t* error) override {
    return CopyIntoPlace(source, destination, TemporaryKind::kUnnamedFirst, error);
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
        result = error == 0 ? 0 : static_cast<int>(ErrorForPath(path, error));
      } else {
        struct stat st;
        result = lstat(path, &st) != 0 ? static_cast<int>(ErrorForPath(path, errno))
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
      *error = ErrorForPath(pattern, failure);
      return nullptr;
    }
    return &gSingleEntryFind;
  }

  // A folder handle is its descriptor plus one, so that descriptor 0 is not nullptr.
  static void* FolderHandle(int fd) {
    return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
  }
  static int FolderFd(void* folder) {
    return static_cast<int>(reinterpret_cast<intptr_t>(folder) - 1);
  }
};

}  // namespace

FileServices& DefaultFileServices() {
  static PosixFileServices files;
  return files;
}
