#include "engine/rules/entry_rules.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/files/letter_case.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerHour = 3600 * kTicksPerSecond;

int64_t Distance(int64_t a, int64_t b) {
  return a > b ? a - b : b - a;
}

// source against there in whole units of times: -1 older, 0 the same, 1 newer.
// Equal sizes also take an hour's shift of a volume in local time as the same.
int CompareTimes(int64_t source, int64_t there, bool same_size, const TimeKeeping& times) {
  if (times.resolution <= kTicksPerSecond) {
    // Whole seconds, truncated: file systems keep times at different resolutions.
    const int64_t source_second = source / kTicksPerSecond;
    const int64_t there_second = there / kTicksPerSecond;
    return source_second > there_second ? 1 : source_second < there_second ? -1 : 0;
  }
  const int64_t distance = Distance(source, there);
  if (distance < times.resolution) return 0;
  if (times.local_time && same_size && Distance(distance, kTicksPerHour) < times.resolution) {
    return 0;
  }
  return source > there ? 1 : -1;
}

// A name of the form of our own temporary copies (kTemporaryPrefix, digits,
// optionally "-" and more digits, kTemporarySuffix). One that a killed run
// left behind is a stray, never a file to copy: a Sync would carry it back
// into the source.
bool IsOwnTemporaryName(const char* name) {
  if (std::strncmp(name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1) != 0) return false;
  // "<pid>" or "<pid>-<n>" before the suffix.
  const char* end = name + sizeof kTemporaryPrefix - 1;
  for (int part = 0; part < 2; ++part) {
    const char* digits = end;
    while (*end >= '0' && *end <= '9')
      ++end;
    if (end == digits) return false;
    if (std::strcmp(end, kTemporarySuffix) == 0) return true;
    if (*end++ != '-') return false;
  }
  return false;
}

}  // namespace

bool IsTaken(const FindEntry& entry) {
  return IsListed(entry) && ((entry.attributes & kAttrFolder) || !IsOwnTemporaryName(entry.name));
}

TemporaryVerdict JudgeTemporary(const FindEntry& entry, int64_t pass_started) {
  if ((entry.attributes & (kAttrFolder | kAttrReparsePoint)) || !IsOwnTemporaryName(entry.name)) {
    return TemporaryVerdict::kNotOurs;
  }
  return entry.last_write < pass_started ? TemporaryVerdict::kStray : TemporaryVerdict::kInUse;
}

FileVerdict JudgeFile(const FindEntry& source, bool found, const PathInfo& there,
                      SameSecondRule rule, const TimeKeeping& times) {
  if (!found) return FileVerdict::kCopy;
  if (there.attributes & kAttrReparsePoint) return FileVerdict::kLinkInTheWay;
  if (there.attributes & kAttrFolder) return FileVerdict::kFolderInTheWay;
  const bool same_size = FullSize(source) == there.size;
  const int order = CompareTimes(source.last_write, there.last_write, same_size, times);
  if (order > 0) return FileVerdict::kUpdate;
  // A copy cut short, or a file changed within the second of its last copy,
  // shows only in its size.
  if (order < 0) return FileVerdict::kLeave;
  if (same_size) return FileVerdict::kSame;
  switch (rule) {
    case SameSecondRule::kUpdate:
      return FileVerdict::kUpdate;
    case SameSecondRule::kConflict:
      return FileVerdict::kConflict;
    default:
      return FileVerdict::kLeave;
  }
}

bool TimeKept(int64_t source, int64_t placed, const TimeKeeping& times) {
  return CompareTimes(source, placed, true, times) == 0;
}

bool ContentDecides(FileVerdict verdict, const FindEntry& source, const PathInfo& there,
                    bool times_kept) {
  const bool by_time = verdict == FileVerdict::kUpdate || verdict == FileVerdict::kLeave ||
                       verdict == FileVerdict::kConflict;
  return by_time && !times_kept && FullSize(source) == there.size &&
         !((source.attributes | there.attributes) & (kAttrReparsePoint | kAttrFolder));
}

bool ShowsNewerThere(const FindEntry& there, const PathInfo& source, const TimeKeeping& times) {
  if (times.resolution <= kTicksPerSecond) return there.last_write > source.last_write;
  return CompareTimes(there.last_write, source.last_write, FullSize(there) == source.size, times) >
         0;
}

TimeKeeping CoarserTimes(const TimeKeeping& a, const TimeKeeping& b) {
  return {std::max(a.resolution, b.resolution), a.local_time || b.local_time, a.sticks && b.sticks};
}

bool TimesFromCopy(int64_t source_time, int64_t copy_time, TimeKeeping* kept) {
  const int64_t second = source_time / kTicksPerSecond;
  // A copy dated far from its source kept no time of it (a share that dates
  // copies "now"): it tells nothing.
  const int64_t apart = copy_time > source_time ? copy_time - source_time : source_time - copy_time;
  if (second % 2 == 0 || apart >= kFatTimes.resolution) return false;
  // A volume of even seconds truncates or rounds to one; a finer one keeps
  // the odd second.
  *kept = (copy_time / kTicksPerSecond) % 2 == 0 ? kFatTimes : kFineTimes;
  return true;
}

std::vector<CaseNote> JudgeLetterCase(const std::vector<std::string>& source_names,
                                      const std::vector<std::string>& destination_names) {
  // Names by their folded text, then byte order.
  using Keyed = std::vector<std::pair<std::string, const std::string*>>;
  const auto keyed = [](const std::vector<std::string>& names) {
    Keyed out;
    out.reserve(names.size());
    for (const std::string& name : names)
      out.emplace_back(FoldCase(name.c_str()), &name);
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : *a.second < *b.second;
    });
    return out;
  };
  const Keyed source = keyed(source_names);
  const Keyed there = keyed(destination_names);
  std::vector<CaseNote> notes;
  auto held = there.begin();
  for (auto group = source.begin(); group != source.end();) {
    auto end = group;
    while (end != source.end() && end->first == group->first)
      ++end;
    while (held != there.end() && held->first < group->first)
      ++held;
    auto held_end = held;
    while (held_end != there.end() && held_end->first == group->first)
      ++held_end;
    // The spelling the destination holds, else the first.
    auto taken = group;
    for (auto it = group; it != end; ++it) {
      const auto same = [&](const auto& h) { return *h.second == *it->second; };
      if (std::any_of(held, held_end, same)) {
        taken = it;
        break;
      }
    }
    for (auto it = group; it != end; ++it) {
      if (it != taken) notes.push_back({*it->second, CaseVerdict::kClash, *taken->second});
    }
    const auto same_as_taken = [&](const auto& h) { return *h.second == *taken->second; };
    if (held != held_end && !std::any_of(held, held_end, same_as_taken)) {
      notes.push_back({*taken->second, CaseVerdict::kRename, *held->second});
    }
    group = end;
    held = held_end;
  }
  std::sort(notes.begin(), notes.end(),
            [](const CaseNote& a, const CaseNote& b) { return a.name < b.name; });
  return notes;
}

const CaseNote* FindCaseNote(const std::vector<CaseNote>& notes, const char* name) {
  const auto it =
      std::lower_bound(notes.begin(), notes.end(), name,
                       [](const CaseNote& note, const char* n) { return note.name < n; });
  return it != notes.end() && it->name == name ? &*it : nullptr;
}

FolderVerdict JudgeFolder(bool found, const PathInfo& there) {
  if (!found) return FolderVerdict::kMake;
  if (there.attributes & kAttrReparsePoint) return FolderVerdict::kLinkInTheWay;
  if (!(there.attributes & kAttrFolder)) return FolderVerdict::kFileInTheWay;
  return FolderVerdict::kWalk;
}

DestinationVerdict JudgeDestinationEntry(const FindEntry& entry, bool in_source, uint32_t error,
                                         const PathInfo& there, bool top_source_there,
                                         bool in_other_case, const TimeKeeping& times) {
  if (in_source) {
    if (entry.attributes & kAttrFolder) {
      return IsPlainFolder(entry) ? DestinationVerdict::kWalkInto : DestinationVerdict::kLeave;
    }
    const bool newer =
        !(entry.attributes & kAttrReparsePoint) && ShowsNewerThere(entry, there, times);
    return newer ? DestinationVerdict::kNewerDest : DestinationVerdict::kLeave;
  }
  if (!top_source_there) return DestinationVerdict::kSourceLost;
  if (in_other_case) return DestinationVerdict::kLeave;
  if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
    return DestinationVerdict::kRemove;
  }
  return DestinationVerdict::kKeepUnreadable;
}

MediumVerdict JudgeMedium(uint32_t error, bool tops_answer) {
  if (!tops_answer || error == kErrorBadNetPath) return MediumVerdict::kMediumGone;
  return MediumVerdict::kFailureStands;
}

CopyFailureVerdict JudgeCopyFailure(uint32_t error, bool at_source, bool folder_answers,
                                    bool keeping) {
  if (keeping && !at_source && (error == kErrorNameTooLong || error == kErrorFileExists)) {
    return CopyFailureVerdict::kVersionNotKept;
  }
  if (error == kErrorNameTooLong) return CopyFailureVerdict::kPathTooLong;
  if (error == kErrorFolderSwapped) return CopyFailureVerdict::kFolderSwapped;
  if (!at_source) {
    // Invalid characters, a reserved name, a trailing dot or space: the
    // volume refuses the name. Where the folder does not answer, the same
    // numbers can stand for a share that is gone.
    const bool name_refused =
        error == kErrorInvalidName || error == kErrorInvalidParameter || error == kErrorBadPathName;
    return name_refused && folder_answers ? CopyFailureVerdict::kNameRefused
                                          : CopyFailureVerdict::kAbort;
  }
  switch (error) {
    case kErrorFileNotFound:      // gone since it was listed, or a dangling link
    case kErrorPathNotFound:      // its folder gone since it was listed
    case kErrorAccessDenied:      // not readable
    case kErrorSharingViolation:  // held open by another program
    case kErrorLockViolation:
    case kErrorInvalidParameter:  // a pipe, a socket or a device
    case kErrorCantAccessFile:
    case kErrorLinkLoop:
      return CopyFailureVerdict::kSkipEntry;
    default:  // a source share that dropped, a failing disk: the medium
      return CopyFailureVerdict::kAbort;
  }
}
