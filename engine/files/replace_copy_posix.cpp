#include "engine/files/replace_copy_posix.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/files/file_services.h"
#include "engine/files/posix_errors.h"
#include "jobs/posix_io.h"

namespace {

constexpr size_t kCopyBufferSize = 64 * 1024;
constexpr size_t kCopyChunk = size_t{1} << 30;
// A length that no file reaches: copy to the end.
constexpr off_t kToTheEnd = std::numeric_limits<off_t>::max();

// Copies from the current offsets of in and out until in ends, length bytes
// at most. A read that fails is the source's failure (*at_source set), a
// write the destination's.
int CopyByReadWrite(int in, int out, off_t length, bool* at_source) {
  char buffer[kCopyBufferSize];
  while (length > 0) {
    const size_t wanted = static_cast<size_t>(std::min<off_t>(length, sizeof buffer));
    const ssize_t n = read(in, buffer, wanted);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *at_source = true;
      return errno;
    }
    if (n == 0) return 0;
    const int error = WriteAll(out, buffer, static_cast<size_t>(n));
    if (error != 0) return error;
    length -= n;
  }
  return 0;
}

bool CopyRangeRefused(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Copies length bytes (fewer where in ends first) from the current offsets
// of in and out; 0 or an errno. copy_file_range lets the file system share
// or copy the blocks itself; where it refuses, or copies nothing at its
// first call (some file systems report their files as empty to it), plain
// reads and writes go on from the same offsets. Once length bytes are across
// the copy ends without a call that only finds the end: a file that grows
// meanwhile has a newer time by then, and the next pass copies it again. A
// failure of copy_file_range itself cannot be placed on either side, so it
// counts as the destination's.
int CopyRange(int in, int out, off_t length, bool* at_source) {
  off_t copied = 0;
  while (copied < length) {
    const size_t chunk = static_cast<size_t>(std::min<off_t>(length - copied, kCopyChunk));
    const ssize_t n = copy_file_range(in, nullptr, out, nullptr, chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      return CopyRangeRefused(errno) ? CopyByReadWrite(in, out, length - copied, at_source) : errno;
    }
    if (n == 0) return copied == 0 ? CopyByReadWrite(in, out, length, at_source) : 0;
    copied += n;
  }
  return 0;
}

// Copies a file with holes (size bytes as it was opened) range by range:
// only its data is written, each range at its own offset, so the holes stay
// holes; the last one, if any, is made by the final size. Where the file
// system cannot tell data from holes, the whole file is copied. 0 or an
// errno.
int CopySparse(int in, int out, off_t size, bool* at_source) {
  for (off_t at = 0; at < size;) {
    const off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // nothing but a hole to the end
    if (data < 0 && at == 0) return CopyRange(in, out, size, at_source);
    const off_t hole = data < 0 ? -1 : lseek(in, data, SEEK_HOLE);
    if (hole < 0 || lseek(in, data, SEEK_SET) < 0) {
      *at_source = true;
      return errno;
    }
    if (data >= size) break;
    if (lseek(out, data, SEEK_SET) < 0) return errno;
    const int error = CopyRange(in, out, std::min(hole, size) - data, at_source);
    if (error != 0) return error;
    at = hole;
  }
  return ftruncate(out, size) == 0 ? 0 : errno;
}

// The file's blocks cover less than its size: it has holes. A plain file
// never takes the range by range copy.
bool HasHoles(const struct stat& st) {
  return static_cast<off_t>(st.st_blocks) * 512 < st.st_size;
}

// Fills the new file out from in: content, owner and group where the runner
// may give them, permission bits and times. Returns 0 or an errno.
int FillCopy(int in, int out, const struct stat& source, bool* at_source) {
  const int error =
      HasHoles(source)
          ? CopySparse(in, out, source.st_size, at_source)
          : CopyRange(in, out, source.st_size > 0 ? source.st_size : kToTheEnd, at_source);
  if (error != 0) return error;
  // Before the bits: a change of owner clears setuid and setgid. A copy that
  // cannot keep its owner (the runner is not root) drops them, so that no
  // one's program runs with the rights of another.
  // The runner's own plain files are made with its owner and group already:
  // no call needed (setuid and setgid files are given theirs, so that a
  // group handed down by the folder never carries them).
  static const uid_t kOwnUser = geteuid();
  static const gid_t kOwnGroup = getegid();
  const bool ours = source.st_uid == kOwnUser && source.st_gid == kOwnGroup &&
                    (source.st_mode & (S_ISUID | S_ISGID)) == 0;
  const bool owner_kept = ours || fchown(out, source.st_uid, source.st_gid) == 0;
  if (!owner_kept && !MetadataNotStored(errno)) return errno;
  const mode_t mode = source.st_mode & (owner_kept ? 07777 : 01777);
  if (fchmod(out, mode) != 0 && !MetadataNotStored(errno)) return errno;
  const timespec times[2] = {source.st_atim, source.st_mtim};
  if (futimens(out, times) != 0) return errno;
  return 0;
}

// Creates name (a kPosixPathMax buffer ending in "<pid>.tmp") in folder for
// writing, new; a stray left by an earlier run of the same process id is
// removed once, and one that cannot be removed makes the copy take the next
// name, written to name. Returns the descriptor or -1 with errno set.
int CreateTemporary(int folder, char* name) {
  constexpr int kFlags = O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC;
  char* const suffix = name + std::strlen(name) - (sizeof kTemporarySuffix - 1);
  for (int n = 0; n < kTemporaryNames; ++n) {
    if (n > 0) {
      *suffix = '\0';
      const int room = static_cast<int>(kPosixPathMax - static_cast<size_t>(suffix - name));
      if (std::snprintf(suffix, static_cast<size_t>(room), "-%d%s", n, kTemporarySuffix) >= room) {
        errno = ENAMETOOLONG;
        return -1;
      }
    }
    const int fd = openat(folder, name, kFlags, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
    if (unlinkat(folder, name, 0) == 0) return openat(folder, name, kFlags, 0600);
  }
  errno = EEXIST;
  return -1;
}

// Renames from over to, both in folder; one refused as busy is tried again a
// few times. 0 or an errno.
int RenameOver(int folder, const char* from, const char* to) {
  for (int tries = 0;; ++tries) {
    if (renameat(folder, from, folder, to) == 0) return 0;
    if (errno != EBUSY || tries == kPlacingRetries) return errno;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPlacingRetryMilliseconds));
  }
}

// An unnamed file is given a name through its /proc link, which needs no
// privilege (AT_EMPTY_PATH would).
bool ProcLinksUsable() {
  static const bool usable = access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// Links the complete unnamed file out as name in folder; 0 or an errno
// (EEXIST when something has that name already).
int LinkUnnamed(int out, int folder, const char* name) {
  char self[32];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", out);
  return linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// Where a copy lands: the folder (a held descriptor, or AT_FDCWD when the
// names are paths), the destination's and the temporary's names in it.
struct Landing {
  int folder;
  const char* name;
  char* temporary;  // a kPosixPathMax buffer: the name taken is written back
};

// The old destination kept through PlaceKeepingOld; 0, or -1 with *error set.
int PlaceKept(const Landing& at, const char* keep_old_as, uint32_t* error) {
  *error = PlaceKeepingOld(at.folder, at.temporary, at.name, keep_old_as, KeepOrder::kLinkFirst);
  return *error == 0 ? 0 : -1;
}

// Puts the complete unnamed file out in place as destination and closes it.
// A new file is linked straight in: there is no rename, and nothing is left
// behind by a crash at any point. A file to replace needs the one-step
// rename, so the copy is linked under the temporary name first. 0, an errno,
// or -1 with *error set when the old file could not be kept.
int PlaceUnnamed(int out, const Landing& at, const char* keep_old_as, uint32_t* error) {
  int failure = keep_old_as == nullptr ? LinkUnnamed(out, at.folder, at.name) : EEXIST;
  if (failure == 0) {
    if (close(out) == 0) return 0;
    // Nothing was there before: taking the new name back leaves all as it was.
    failure = errno;
    unlinkat(at.folder, at.name, 0);
    return failure;
  }
  if (failure == EEXIST) {
    failure = LinkUnnamed(out, at.folder, at.temporary);
    if (failure == EEXIST && unlinkat(at.folder, at.temporary, 0) == 0) {
      failure = LinkUnnamed(out, at.folder, at.temporary);
    }
  }
  if (close(out) != 0 && failure == 0) failure = errno;
  if (failure != 0) return failure;
  if (keep_old_as != nullptr) return PlaceKept(at, keep_old_as, error);
  if (renameat(at.folder, at.temporary, at.folder, at.name) == 0) return 0;
  failure = errno;
  unlinkat(at.folder, at.temporary, 0);
  return failure;
}

// A volume that took the complete copy under its temporary name in the same
// folder, but not under the destination's, where nothing stood, refuses the
// name: characters its rules forbid, a name too long for it.
bool RefusesName(int failure, const Landing& at) {
  struct stat st;
  return MayRefuseName(failure) && fstatat(at.folder, at.name, &st, AT_SYMLINK_NOFOLLOW) != 0;
}

// The named path: created beside the destination, renamed over it. 0, an
// errno, or -1 with *error set (the temporary file cannot be created, the old
// file cannot be kept, the destination's name is refused).
int CopyThroughNamed(int in, const struct stat& st, const Landing& at, const char* keep_old_as,
                     uint32_t* error, bool* at_source) {
  const int out = CreateTemporary(at.folder, at.temporary);
  if (out < 0) {
    *error = ErrorIn(at.folder, at.temporary, errno);
    return -1;
  }
  int failure = FillCopy(in, out, st, at_source);
  if (close(out) != 0 && failure == 0) failure = errno;
  if (failure == 0 && keep_old_as != nullptr) {
    if (PlaceKept(at, keep_old_as, error) != 0) return -1;
  } else {
    if (failure == 0) failure = RenameOver(at.folder, at.temporary, at.name);
    if (failure != 0 && RefusesName(failure, at)) {
      unlinkat(at.folder, at.temporary, 0);
      *error = kErrorInvalidName;
      return -1;
    }
    if (failure != 0) {
      unlinkat(at.folder, at.temporary, 0);
      return failure;
    }
  }
  // Some volumes give a renamed file the time of the rename (FAT through
  // FUSE), or keep no time set on an open file (a share through FUSE): the
  // times are set again by name. A copy in place without them is still a
  // copy; the next pass finds it older and copies it again.
  const timespec times[2] = {st.st_atim, st.st_mtim};
  utimensat(at.folder, at.name, times, AT_SYMLINK_NOFOLLOW);
  return 0;
}

// Where a volume has no hard links (FAT, exFAT, many FUSE shares) link
// refuses with one of these; the old file is then kept by a rename.
bool LinksRefused(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOTSUP || error == ENOSYS ||
         error == EMLINK || error == EXDEV;
}

// Gives the old destination (name in folder) its kept name; *moved tells
// whether it left its own name (a rename) rather than gaining a second one
// (a link). 0 or an errno.
int KeepOld(int folder, const char* name, const char* keep_old_as, KeepOrder order, bool* moved) {
  *moved = false;
  if (order == KeepOrder::kLinkFirst) {
    if (linkat(folder, name, AT_FDCWD, keep_old_as, 0) == 0) return 0;
    if (!LinksRefused(errno)) return errno;
  }
  // link refuses a folder with EPERM too: a folder is no old file to keep.
  struct stat st;
  if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  const int failure = RenameNew(folder, name, keep_old_as);
  *moved = failure == 0;
  return failure;
}

pid_t ProcessId() {
  static const pid_t id = getpid();
  return id;
}

}  // namespace

bool OwnTemporaryName(char* out, size_t size, const char* folder) {
  const long id = static_cast<long>(ProcessId());
  const int n =
      folder == nullptr
          ? std::snprintf(out, size, "%s%ld%s", kTemporaryPrefix, id, kTemporarySuffix)
          : std::snprintf(out, size, "%s/%s%ld%s", folder, kTemporaryPrefix, id, kTemporarySuffix);
  return n >= 0 && static_cast<size_t>(n) < size;
}

int RenameNew(int folder, const char* from, const char* to) {
  if (renameat2(folder, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  struct stat st;
  if (lstat(to, &st) == 0) return EEXIST;
  return renameat(folder, from, AT_FDCWD, to) == 0 ? 0 : errno;
}

uint32_t PlaceKeepingOld(int folder, const char* temporary, const char* destination,
                         const char* keep_old_as, KeepOrder order) {
  bool moved = false;
  int failure = KeepOld(folder, destination, keep_old_as, order, &moved);
  if (failure != 0) {
    unlinkat(folder, temporary, 0);
    return ErrorForPath(keep_old_as, failure);
  }
  if (renameat(folder, temporary, folder, destination) == 0) return 0;
  failure = errno;
  // The old file back under its name; after a link it never left it.
  if (moved) {
    renameat(AT_FDCWD, keep_old_as, folder, destination);
  } else {
    unlink(keep_old_as);
  }
  unlinkat(folder, temporary, 0);
  return ErrorIn(folder, destination, failure);
}
bool CopyIntoPlace(int held, const char* source, const char* destination, const char* keep_old_as,
                   TemporaryKind kind, uint32_t* error, bool* at_source) {
  *at_source = false;
  char folder[kPosixPathMax];
  char temporary[kPosixPathMax];
  const char* last = nullptr;
  if (!SplitPath(destination, folder, &last)) {
    *error = kErrorNameTooLong;
    return false;
  }
  // In a held folder the names are its own; by path they are whole paths.
  const bool by_path = held == AT_FDCWD;
  if (!OwnTemporaryName(temporary, sizeof temporary, by_path ? folder : nullptr)) {
    *error = kErrorNameTooLong;
    return false;
  }
  // Non-blocking, so that a named pipe listed as a file cannot hang the pass.
  // A socket refuses the open with ENXIO: like a pipe or a device, it is no
  // plain file.
  const int in = open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) {
    *at_source = true;
    *error = ErrorForPath(source, errno == ENXIO ? EINVAL : errno);
    return false;
  }
  struct stat st;
  int failure = fstat(in, &st) != 0 ? errno : 0;
  if (failure == 0 && !S_ISREG(st.st_mode)) failure = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  if (failure != 0) {
    close(in);
    *at_source = true;
    *error = WindowsErrorFromErrno(failure);
    return false;
  }

  // Where the unnamed file is refused (a file system without it, an old
  // kernel), the named one does the work and reports any real failure.
  const int unnamed =
      kind == TemporaryKind::kUnnamedFirst && ProcLinksUsable()
          ? openat(held, by_path ? folder : ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)
          : -1;
  const Landing at{held, by_path ? destination : last, temporary};
  if (unnamed >= 0) {
    failure = FillCopy(in, unnamed, st, at_source);
    if (failure == 0) {
      failure = PlaceUnnamed(unnamed, at, keep_old_as, error);
    } else {
      close(unnamed);
    }
  } else {
    failure = CopyThroughNamed(in, st, at, keep_old_as, error, at_source);
  }
  close(in);
  if (failure == 0) return true;
  if (failure > 0) {
    *error = *at_source ? ErrorForPath(source, failure) : ErrorIn(held, at.name, failure);
  }
  return false;
}
