#include "engine/files/volume_win32.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

#include "engine/files/letter_case.h"
#include "engine/files/wide_path_win32.h"

namespace {

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// The first name of folder that has an ASCII letter, or, when wanted is
// given, whether folder lists it.
bool ScanFolder(const std::string& folder, const char* wanted, std::string* name) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (wanted != nullptr) {
      found = std::strcmp(data.cFileName, wanted) == 0;
    } else if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
      found = !FlipAsciiCase(data.cFileName).empty();
      if (found) *name = data.cFileName;
    }
  } while (!found && FindNextFileA(find, &data));
  FindClose(find);
  return found;
}

// Whether folder takes name in its other case as name itself: 1 yes, 0 no,
// -1 it cannot tell.
int SameInOtherCase(const std::string& folder, const std::string& name) {
  const std::string flipped = FlipAsciiCase(name.c_str());
  HANDLE own = OpenToAsk((folder + "\\" + name).c_str());
  if (own == INVALID_HANDLE_VALUE) return -1;
  HANDLE other = OpenToAsk((folder + "\\" + flipped).c_str());
  const DWORD error = GetLastError();
  int answer = 0;
  if (other == INVALID_HANDLE_VALUE) {
    answer = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
  } else {
    // Two entries of their own, unless the folder does not list the other.
    answer = SameFile(own, other) || !ScanFolder(folder, flipped.c_str(), nullptr) ? 1 : 0;
    CloseHandle(other);
  }
  CloseHandle(own);
  return answer;
}

// The folder's own name, asked in its parent on the same volume.
int SameOwnNameInOtherCase(const char* folder) {
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(folder, MAX_PATH, full, /*lpFilePart=*/nullptr);
  if (n == 0 || n >= MAX_PATH) return -1;
  std::string path(full);
  while (!path.empty() && path.back() == '\\')
    path.pop_back();
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return -1;
  const std::string parent = path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  if (FlipAsciiCase(name.c_str()).empty()) return -1;
  HANDLE own = OpenToAsk(path.c_str());
  HANDLE above =
      OpenToAsk((parent.find('\\') == std::string::npos ? parent + "\\" : parent).c_str());
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  const bool same_volume = own != INVALID_HANDLE_VALUE && above != INVALID_HANDLE_VALUE &&
                           GetFileInformationByHandle(own, &a) &&
                           GetFileInformationByHandle(above, &b) &&
                           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber;
  if (own != INVALID_HANDLE_VALUE) CloseHandle(own);
  if (above != INVALID_HANDLE_VALUE) CloseHandle(above);
  return same_volume ? SameInOtherCase(parent, name) : -1;
}

// A probe file of our temporary name form, gone as its handle closes.
int ProbeInOtherCase(const std::string& folder) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%lu%s", kTemporaryPrefix, GetCurrentProcessId(),
                kTemporarySuffix);
  HANDLE probe = CreateFileA((folder + "\\" + name).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                             /*hTemplateFile=*/nullptr);
  if (probe == INVALID_HANDLE_VALUE) return -1;
  const int answer = SameInOtherCase(folder, name);
  CloseHandle(probe);
  return answer;
}

}  // namespace

bool VolumeIgnoresCase(const char* folder, bool may_probe) {
  std::string path(folder);
  while (path.size() > 1 && path.back() == '\\')
    path.pop_back();
  std::string name;
  int answer = ScanFolder(path, nullptr, &name) ? SameInOtherCase(path, name) : -1;
  if (answer < 0) answer = SameOwnNameInOtherCase(folder);
  if (answer < 0 && may_probe) answer = ProbeInOtherCase(path);
  return answer == 1;
}

bool VolumeTimesKept(const char* path, TimeKeeping* kept) {
  char root[MAX_PATH];
  char type[MAX_PATH + 1];
  if (!GetVolumePathNameA(path, root, MAX_PATH) || std::strncmp(root, "\\\\", 2) == 0 ||
      !GetVolumeInformationA(root, /*lpVolumeNameBuffer=*/nullptr, 0,
                             /*lpVolumeSerialNumber=*/nullptr,
                             /*lpMaximumComponentLength=*/nullptr,
                             /*lpFileSystemFlags=*/nullptr, type, sizeof type)) {
    return false;
  }
  if (std::strncmp(type, "FAT", 3) == 0) {
    *kept = {kFatTimes.resolution, kFatTimes.local_time, true};
    return true;
  }
  // exFAT keeps 10 ms and its offset from UTC.
  for (const char* fine : {"NTFS", "exFAT", "ReFS"}) {
    if (std::strcmp(type, fine) == 0) {
      *kept = {kFineTimes.resolution, kFineTimes.local_time, true};
      return true;
    }
  }
  return false;
}
