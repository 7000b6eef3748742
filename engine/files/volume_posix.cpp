#include "engine/files/volume_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "engine/files/letter_case.h"
#include "engine/files/posix_errors.h"
#include "engine/files/replace_copy_posix.h"
#include "jobs/posix_io.h"

namespace {

// The first name of folder fd that has an ASCII letter (flipped is its
// other spelling), or false. wanted, when given, is looked for instead:
// true when the folder lists it.
bool ScanFolder(int fd, const char* wanted, std::string* name, std::string* flipped) {
  const int listing = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return false;
  DIR* dir = fdopendir(listing);
  if (dir == nullptr) {
    close(listing);
    return false;
  }
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    if (wanted != nullptr) {
      found = std::strcmp(entry->d_name, wanted) == 0;
    } else if (!IsDotEntry(entry->d_name)) {
      *flipped = FlipAsciiCase(entry->d_name);
      found = !flipped->empty();
      if (found) *name = entry->d_name;
    }
    if (found) break;
  }
  closedir(dir);
  return found;
}

// Whether folder fd takes name in the other case (flipped) as name itself:
// 1 yes, 0 no, -1 it cannot tell.
int SameInOtherCase(int fd, const char* name, const char* flipped) {
  struct stat st;
  struct stat other;
  if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (fstatat(fd, flipped, &other, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : -1;
  if (st.st_dev == other.st_dev && st.st_ino == other.st_ino) return 1;
  // A volume may number an entry by the name it was asked by (FUSE without
  // numbers of its own): the other spelling still is the same entry unless
  // the folder lists it as one of its own.
  std::string unused;
  return ScanFolder(fd, flipped, &unused, &unused) ? 0 : 1;
}

// The folder's own name, asked in its parent, where that is on the same
// volume (the folder is no volume's root).
int SameOwnNameInOtherCase(const char* folder, int fd) {
  char resolved[kPosixPathMax];
  if (realpath(folder, resolved) == nullptr) return -1;
  char parent[kPosixPathMax];
  const char* last = nullptr;
  if (!SplitPath(resolved, parent, &last) || *last == '\0') return -1;
  const std::string flipped = FlipAsciiCase(last);
  if (flipped.empty()) return -1;
  const int parent_fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent_fd < 0) return -1;
  struct stat own;
  struct stat above;
  int answer = -1;
  if (fstat(fd, &own) == 0 && fstat(parent_fd, &above) == 0 && own.st_dev == above.st_dev) {
    answer = SameInOtherCase(parent_fd, last, flipped.c_str());
  }
  close(parent_fd);
  return answer;
}

// A probe file of our temporary name form, made and removed at once.
int ProbeInOtherCase(int fd) {
  char name[64];
  if (!OwnTemporaryName(name, sizeof name, nullptr)) return -1;
  int probe = openat(fd, name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  // A stray of an earlier run with the same process id.
  if (probe < 0 && errno == EEXIST && unlinkat(fd, name, 0) == 0) {
    probe = openat(fd, name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  }
  if (probe < 0) return -1;
  close(probe);
  const int answer = SameInOtherCase(fd, name, FlipAsciiCase(name).c_str());
  unlinkat(fd, name, 0);
  return answer;
}

// What the file system of type (as /proc/self/mountinfo names it) keeps.
bool TimesOfType(const char* type, TimeKeeping* kept) {
  for (const char* fat : {"vfat", "msdos", "fuse.fusefat"}) {
    if (std::strcmp(type, fat) == 0) {
      *kept = kFatTimes;
      return true;
    }
  }
  return false;
}

// The type of the file system mounted as device (major:minor).
bool MountedType(dev_t device, char* type, size_t size) {
  FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
  if (mounts == nullptr) return false;
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "%u:%u", major(device), minor(device));
  char* line = nullptr;
  size_t capacity = 0;
  bool found = false;
  // "id parent major:minor root mount-point options [optional...] - type source ..."
  while (!found && getline(&line, &capacity, mounts) > 0) {
    char number[32];
    if (std::sscanf(line, "%*s %*s %31s", number) != 1 || std::strcmp(number, wanted) != 0) {
      continue;
    }
    const char* dash = std::strstr(line, " - ");
    char name[64];
    if (dash != nullptr && std::sscanf(dash + 3, "%63s", name) == 1) {
      std::snprintf(type, size, "%s", name);
      found = true;
    }
  }
  std::free(line);
  std::fclose(mounts);
  return found;
}

// This runner's temporary name in the folder of path. False when too long.
bool TemporaryBeside(const char* path, char (&temporary)[kPosixPathMax]) {
  char folder[kPosixPathMax];
  const char* last = nullptr;
  return SplitPath(path, folder, &last) && OwnTemporaryName(temporary, sizeof temporary, folder);
}

}  // namespace

bool VolumeIgnoresCase(const char* folder, bool may_probe) {
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string name;
  std::string flipped;
  int answer = ScanFolder(fd, nullptr, &name, &flipped)
                   ? SameInOtherCase(fd, name.c_str(), flipped.c_str())
                   : -1;
  if (answer < 0) answer = SameOwnNameInOtherCase(folder, fd);
  if (answer < 0 && may_probe) answer = ProbeInOtherCase(fd);
  close(fd);
  return answer == 1;
}

bool VolumeTimesKept(const char* path, TimeKeeping* kept) {
  struct statfs volume;
  if (statfs(path, &volume) != 0) return false;
  switch (volume.f_type) {
    // The kernel's own drivers keep a time given to an open file.
    case 0x4d44:  // vfat, msdos
      *kept = {kFatTimes.resolution, kFatTimes.local_time, true};
      return true;
    case 0xEF53:      // ext2, ext3, ext4
    case 0x01021994:  // tmpfs
    case 0x9123683E:  // btrfs
    case 0x58465342:  // xfs
    case 0x794C7630:  // overlayfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0x7366746E:  // ntfs3
    case 0x2011BAB0:  // exfat, which keeps 10 ms and its offset from UTC
      *kept = {kFineTimes.resolution, kFineTimes.local_time, true};
      return true;
    case 0x65735546: {  // FUSE: its driver's name tells
      struct stat st;
      char type[64];
      return stat(path, &st) == 0 && MountedType(st.st_dev, type, sizeof type) &&
             TimesOfType(type, kept);
    }
    default:
      return false;
  }
}

bool OnShareOrFuse(const char* path) {
  struct statfs volume;
  if (statfs(path, &volume) != 0) return false;
  switch (volume.f_type) {
    case 0x65735546:  // FUSE
    case 0x517B:      // smbfs
    case 0xFF534D42:  // cifs
    case 0xFE534D42:  // smb2
    case 0x6969:      // nfs
    case 0x01021997:  // 9p
      return true;
    default:
      return false;
  }
}

int RenameThroughTemporary(const char* path, const char* new_path) {
  char temporary[kPosixPathMax];
  if (!TemporaryBeside(new_path, temporary)) return ENAMETOOLONG;
  // Some volumes give a renamed entry the time of the rename (FAT through
  // FUSE): its times are put back.
  struct stat st;
  if (lstat(path, &st) != 0) return errno;
  if (rename(path, temporary) != 0) return errno;
  if (rename(temporary, new_path) != 0) {
    const int failure = errno;
    rename(temporary, path);
    return failure;
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  utimensat(AT_FDCWD, new_path, times, AT_SYMLINK_NOFOLLOW);
  return 0;
}

bool FolderNameRefused(const char* path, int failure) {
  if (!MayRefuseName(failure)) return false;
  char probe[kPosixPathMax];
  if (!TemporaryBeside(path, probe) || mkdir(probe, 0700) != 0) return false;
  rmdir(probe);
  return true;
}
