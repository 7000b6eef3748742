#include <windows.h>

#include "tests/tree_helpers.h"

fs::path CreateHidden(const fs::path& folder, const std::string& name, bool as_folder) {
  const fs::path path = folder / name;
  if (as_folder) {
    fs::create_directory(path);
  } else {
    WriteFile(path, "");
  }
  SetFileAttributesA(path.string().c_str(), FILE_ATTRIBUTE_HIDDEN);
  return path;
}

bool SetWriteTime(const fs::path& path, int64_t filetime) {
  // Backup semantics let the same call open a folder.
  HANDLE file = CreateFileA(path.string().c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(filetime & 0xFFFFFFFF);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(filetime) >> 32);
  const bool set =
      SetFileTime(file, /*lpCreationTime=*/nullptr, /*lpLastAccessTime=*/nullptr, &time) != 0;
  CloseHandle(file);
  return set;
}

// Wine 8 makes no link to try the walks on: it refuses a junction's
// reparse point (error 50) and reports a symbolic link made that does not
// exist. The link cases skip there.
bool MakeFolderLink(const fs::path&, const fs::path&) {
  return false;
}
