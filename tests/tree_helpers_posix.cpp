#include <fcntl.h>
#include <sys/stat.h>

#include "tests/tree_helpers.h"

namespace {
constexpr int64_t kUnixEpochAsFiletime = 116444736000000000;
}

fs::path CreateHidden(const fs::path& folder, const std::string& name, bool as_folder) {
  const fs::path path = folder / ("." + name);
  if (as_folder) {
    fs::create_directory(path);
  } else {
    WriteFile(path, "");
  }
  return path;
}

bool SetWriteTime(const fs::path& path, int64_t filetime) {
  const int64_t since_epoch = filetime - kUnixEpochAsFiletime;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(since_epoch / 10000000);
  times[1].tv_nsec = static_cast<long>(since_epoch % 10000000) * 100;
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool MakeFolderLink(const fs::path& target, const fs::path& link) {
  std::error_code error;
  fs::create_directory_symlink(target, link, error);
  return !error;
}
