#include "engine/rules/versions.h"

#include <cstring>
#include <string>
#include <vector>

#include "engine/rules/path_buffer.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// "YYYY-MM-DD_HHMMSS": the separators' places; every other place is a digit.
constexpr char kStampPattern[] = "0000-00-00_000000";
static_assert(sizeof kStampPattern == kDateFolderNameSize);

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// Writes value's last count decimal digits at out.
void PutDigits(char* out, int value, int count) {
  unsigned rest = value < 0 ? 0u : static_cast<unsigned>(value);
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
}

int Digits(const char* text, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i)
    value = value * 10 + (text[i] - '0');
  return value;
}

// The length of a side's top without a separator it may end with ("C:\", "/").
size_t TopEnd(const char* path, size_t top_length) {
  return top_length > 0 && path[top_length - 1] == kPathSeparator ? top_length - 1 : top_length;
}

}  // namespace

int64_t LocalSeconds(const std::tm& local) {
  const int64_t days =
      DaysFromCivil(int64_t{local.tm_year} + 1900, local.tm_mon + 1, local.tm_mday);
  return days * kSecondsPerDay + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

void FormatStamp(const std::tm& local, char (&stamp)[kDateFolderNameSize]) {
  std::memcpy(stamp, kStampPattern, kDateFolderNameSize);
  PutDigits(stamp, local.tm_year + 1900, 4);
  PutDigits(stamp + 5, local.tm_mon + 1, 2);
  PutDigits(stamp + 8, local.tm_mday, 2);
  PutDigits(stamp + 11, local.tm_hour, 2);
  PutDigits(stamp + 13, local.tm_min, 2);
  PutDigits(stamp + 15, local.tm_sec, 2);
}

bool ParseStamp(const char* name, int64_t* local_seconds) {
  for (size_t i = 0; i + 1 < kDateFolderNameSize; ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (kStampPattern[i] == '0' ? !digit : name[i] != kStampPattern[i]) return false;
  }
  if (name[kDateFolderNameSize - 1] != '\0') return false;
  std::tm local{};
  local.tm_year = Digits(name, 4) - 1900;
  local.tm_mon = Digits(name + 5, 2) - 1;
  local.tm_mday = Digits(name + 8, 2);
  local.tm_hour = Digits(name + 11, 2);
  local.tm_min = Digits(name + 13, 2);
  local.tm_sec = Digits(name + 15, 2);
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 ||
      local.tm_hour > 23 || local.tm_min > 59 || local.tm_sec > 60) {
    return false;
  }
  *local_seconds = LocalSeconds(local);
  return true;
}

bool ParseDateFolderName(const char* name, int64_t* local_seconds) {
  const size_t stamp_length = kDateFolderNameSize - 1;
  if (std::strlen(name) <= stamp_length) return ParseStamp(name, local_seconds);
  const char* tail = name + stamp_length;
  if (tail[0] != '-' || tail[1] < '1' || tail[1] > '9' || (tail[1] == '1' && tail[2] == '\0')) {
    return false;
  }
  for (const char* digit = tail + 1; *digit != '\0'; ++digit)
    if (*digit < '0' || *digit > '9') return false;
  char stamp[kDateFolderNameSize];
  std::memcpy(stamp, name, stamp_length);
  stamp[stamp_length] = '\0';
  return ParseStamp(stamp, local_seconds);
}

bool VersionPathFor(const char* path, size_t top_length, const char* stamp,
                    char (&out)[kPathBufferSize]) {
  const size_t top_end = TopEnd(path, top_length);
  const size_t length = std::strlen(path);
  if (length <= top_end + 1 || path[top_end] != kPathSeparator) return false;
  const std::string version = std::string(path, top_end) + kPathSeparator + kVersionsFolderName +
                              kPathSeparator + stamp + (path + top_end);
  if (version.size() >= kPathBufferSize) return false;
  std::memcpy(out, version.c_str(), version.size() + 1);
  return true;
}

bool MakeVersionFolders(FileServices& files, const char* version_path, size_t top_length) {
  const size_t top_end = TopEnd(version_path, top_length);
  const size_t versions_end = top_end + 1 + std::strlen(kVersionsFolderName);
  const std::string path = version_path;
  if (path.size() <= versions_end || path[versions_end] != kPathSeparator) return false;
  const size_t stamp_end = path.find(kPathSeparator, versions_end + 1);
  if (stamp_end == std::string::npos) return false;
  bool made = false;  // a level made: every level below it is missing too
  for (size_t end = versions_end; end != std::string::npos;
       end = path.find(kPathSeparator, end + 1)) {
    const std::string level = path.substr(0, end);
    if (!made) {
      PathInfo info;
      uint32_t error = 0;
      if (files.ReadInfo(level.c_str(), &info, &error)) {
        if ((info.attributes & kAttrReparsePoint) || !(info.attributes & kAttrFolder)) return false;
        continue;
      }
      if (error != kErrorFileNotFound) return false;
    }
    // The date folder is as private as the versions folder; a level below it
    // is like its counterpart below the top.
    const std::string like =
        end == stamp_end ? path.substr(0, versions_end)
                         : path.substr(0, top_end) + path.substr(stamp_end, end - stamp_end);
    uint32_t error = 0;  // a level not made keeps no version, whatever the cause
    made = end == versions_end ? files.MakeHiddenFolder(level.c_str())
                               : files.MakeFolder(nullptr, level.c_str(), like.c_str(), &error);
    if (!made) return false;
  }
  return true;
}

AfterRecycle JudgeAfterRecycle(int result, uint32_t keep_versions_days) {
  if (keep_versions_days > 0) return AfterRecycle::kMoveAside;
  return result == static_cast<int>(kErrorNoTrash) ? AfterRecycle::kRemoveForGood
                                                   : AfterRecycle::kFailed;
}

PruneCounts PruneVersions(FileServices& files, const char* top, uint32_t days,
                          int64_t now_local_seconds) {
  PruneCounts counts;
  const std::string versions =
      std::string(top, TopEnd(top, std::strlen(top))) + kPathSeparator + kVersionsFolderName;
  PathInfo info;
  uint32_t error = 0;
  if (!files.ReadInfo(versions.c_str(), &info, &error) || (info.attributes & kAttrReparsePoint) ||
      !(info.attributes & kAttrFolder)) {
    return counts;
  }
  const int64_t oldest_kept = now_local_seconds - int64_t{days} * kSecondsPerDay;
  // Listed whole before anything goes: a listing is not disturbed by removals.
  std::vector<std::string> old;
  FindEntry entry;
  void* find = files.StartFind((versions + kPathSeparator + kAllEntries).c_str(), &entry, &error);
  if (find == nullptr) return counts;
  do {
    int64_t stamp = 0;
    if ((entry.attributes & kAttrFolder) && !(entry.attributes & kAttrReparsePoint) &&
        ParseDateFolderName(entry.name, &stamp) && (days == 0 || stamp < oldest_kept)) {
      old.push_back(versions + kPathSeparator + entry.name);
    }
  } while (files.NextFind(find, &entry, &error));
  files.EndFind(find);
  for (const std::string& folder : old)
    ++(files.RemoveForGood(nullptr, folder.c_str()) == 0 ? counts.removed : counts.failed);
  return counts;
}

void PruneJobVersions(WorkerContext& context, const JobRecord& job) {
  int64_t now = 0;
  if (context.keep_versions_days == 0 || !ParseStamp(context.version_stamp, &now)) return;
  const bool sync = job.mode == kModeSync;
  for (int side = 0; side < (sync ? 2 : 1); ++side) {
    char top[kPathBufferSize];
    if (side == 0) {
      CopyJobPath(top, job.destination);
    } else {
      CopyJobPath(top, job.source);
    }
    // A single-file job's top is the folder its file is copied into.
    if (!context.files->IsFolder(top)) continue;
    const PruneCounts counts = PruneVersions(*context.files, top, context.keep_versions_days, now);
    if (counts.failed > 0) {
      LogWithPath(context, "Old versions not all removed in ", top);
    }
  }
}
