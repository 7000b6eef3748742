#include "engine/trash_posix.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kTextSize = 4096;
// Room left in a trash name for a unique tail and ".trashinfo" within NAME_MAX.
constexpr size_t kTrashNameMax = 200;

using Text = char[kTextSize];

// Formats into text; false when the result does not fit.
bool Format(Text& text, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int n = std::vsnprintf(text, kTextSize, format, arguments);
  va_end(arguments);
  return n >= 0 && static_cast<size_t>(n) < kTextSize;
}

bool Absolute(const char* path, Text& absolute) {
  if (path[0] == '/') return Format(absolute, "%s", path);
  Text here;
  if (getcwd(here, sizeof here) == nullptr) return false;
  return Format(absolute, "%s/%s", here, path);
}

// The user's data folder: $XDG_DATA_HOME when it is absolute, else
// ~/.local/share.
bool DataHome(Text& home) {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return Format(home, "%s", data);
  const char* user_home = std::getenv("HOME");
  return user_home != nullptr && user_home[0] == '/' && Format(home, "%s/.local/share", user_home);
}

// Creates folder and whatever it lacks on the way, for the user alone.
// 0 or an errno.
int MakeFolders(Text& folder) {
  for (char* slash = std::strchr(folder + 1, '/');; slash = std::strchr(slash + 1, '/')) {
    if (slash != nullptr) *slash = '\0';
    const int made = mkdir(folder, 0700) == 0 || errno == EEXIST ? 0 : errno;
    if (slash == nullptr) return made;
    *slash = '/';
    if (made != 0) return made;
  }
}

// The top folder of the volume (device) that holds the absolute folder.
void VolumeTop(const char* folder, dev_t device, Text& top) {
  std::snprintf(top, kTextSize, "%s", folder);
  for (;;) {
    char* slash = std::strrchr(top, '/');
    if (slash == nullptr || slash[1] == '\0') return;  // "/" itself
    const char kept = slash[slash == top ? 1 : 0];
    slash[slash == top ? 1 : 0] = '\0';
    struct stat st;
    const bool same_volume = stat(top, &st) == 0 && st.st_dev == device;
    slash[slash == top ? 1 : 0] = kept;
    if (!same_volume) return;
    slash[slash == top ? 1 : 0] = '\0';
  }
}

// A trash folder must be a real folder of the user's, on the item's volume.
bool UsableTrash(const char* trash, dev_t device) {
  struct stat st;
  return lstat(trash, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
         st.st_dev == device;
}

// The trash of a volume other than the home trash's, below its top folder.
int VolumeTrash(const char* top, dev_t device, Text& trash) {
  const char* base = top[1] == '\0' ? "" : top;
  const unsigned uid = static_cast<unsigned>(getuid());
  struct stat st;
  // An administrator's .Trash, sticky and not a link, holds one folder per user.
  if (Format(trash, "%s/.Trash", base) && lstat(trash, &st) == 0 && S_ISDIR(st.st_mode) &&
      (st.st_mode & S_ISVTX) != 0 && Format(trash, "%s/.Trash/%u", base, uid)) {
    if ((mkdir(trash, 0700) == 0 || errno == EEXIST) && UsableTrash(trash, device)) return 0;
  }
  if (!Format(trash, "%s/.Trash-%u", base, uid)) return ENAMETOOLONG;
  if (mkdir(trash, 0700) != 0 && errno != EEXIST) return kNoTrash;
  return UsableTrash(trash, device) ? 0 : kNoTrash;
}

// Chooses the trash for the item at the absolute path item on device. top
// is left empty for the home trash, else it is the volume's top folder,
// against which the info file names the item.
int ChooseTrash(const char* item, dev_t device, Text& trash, Text& top) {
  top[0] = '\0';
  Text home;
  struct stat st;
  if (DataHome(home)) {
    if (stat(home, &st) != 0) MakeFolders(home);
    if (stat(home, &st) == 0 && st.st_dev == device) {
      return Format(trash, "%s/Trash", home) ? 0 : ENAMETOOLONG;
    }
  }
  Text folder;
  std::snprintf(folder, sizeof folder, "%s", item);
  char* slash = std::strrchr(folder, '/');
  slash[slash == folder ? 1 : 0] = '\0';
  VolumeTop(folder, device, top);
  return VolumeTrash(top, device, trash);
}

bool Unreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("-._~/", c) != nullptr;
}

// The info file's text: the item's path, percent-encoded, and the local time.
bool InfoText(const char* shown, char* text, size_t size) {
  size_t used = static_cast<size_t>(std::snprintf(text, size, "[Trash Info]\nPath="));
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(shown); *c != 0; ++c) {
    if (used + 4 >= size) return false;
    if (Unreserved(*c)) {
      text[used++] = static_cast<char>(*c);
    } else {
      used += static_cast<size_t>(std::snprintf(text + used, size - used, "%%%02X", *c));
    }
  }
  const time_t now = std::time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  const int n =
      std::snprintf(text + used, size - used, "\nDeletionDate=%04d-%02d-%02dT%02d:%02d:%02d\n",
                    local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec);
  return n >= 0 && static_cast<size_t>(n) < size - used;
}

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

// Moves from to the free name to; EEXIST when something has that name.
int MoveToFreeName(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: look first.
  struct stat st;
  if (lstat(to, &st) == 0) return EEXIST;
  return rename(from, to) == 0 ? 0 : errno;
}

std::atomic<unsigned> gUniqueTail{0};

}  // namespace

int MoveToTrash(const char* path) {
  Text item;
  if (!Absolute(path, item)) return ENAMETOOLONG;
  struct stat st;
  if (lstat(item, &st) != 0) return errno;
  Text trash;
  Text top;
  const int chosen = ChooseTrash(item, st.st_dev, trash, top);
  if (chosen != 0) return chosen;

  const size_t top_length = std::strlen(top);
  const char* shown = top_length == 0 ? item : item + top_length + (top_length > 1 ? 1 : 0);
  char info_text[3 * kTextSize];
  if (!InfoText(shown, info_text, sizeof info_text)) return ENAMETOOLONG;
  const char* name = std::strrchr(item, '/') + 1;
  const int name_length = static_cast<int>(std::min(std::strlen(name), kTrashNameMax));

  // The info file, made new, reserves the name; a taken name is followed by
  // one with a tail of this process and a counter, not by a search.
  for (int attempt = 0;; ++attempt) {
    Text info;
    Text target;
    char tail[48] = "";
    if (attempt > 0) {
      std::snprintf(tail, sizeof tail, ".%ld-%u", static_cast<long>(getpid()), ++gUniqueTail);
    }
    if (!Format(info, "%s/info/%.*s%s.trashinfo", trash, name_length, name, tail) ||
        !Format(target, "%s/files/%.*s%s", trash, name_length, name, tail)) {
      return ENAMETOOLONG;
    }
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    int fd = open(info, kFlags, 0600);
    if (fd < 0 && errno == ENOENT) {
      Text folder;
      if (Format(folder, "%s/info", trash)) MakeFolders(folder);
      if (Format(folder, "%s/files", trash)) MakeFolders(folder);
      fd = open(info, kFlags, 0600);
    }
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return errno;
    int failure = WriteAll(fd, info_text, std::strlen(info_text));
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0) failure = MoveToFreeName(item, target);
    if (failure == 0) return 0;
    unlink(info);
    if (failure != EEXIST || attempt > 3) return failure;
  }
}
