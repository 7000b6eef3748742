#include "engine/entry_rules.h"

#include "engine/path_buffer.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;

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
                      SameSecondRule rule) {
  if (!found) return FileVerdict::kCopy;
  if (there.attributes & kAttrReparsePoint) return FileVerdict::kLinkInTheWay;
  if (there.attributes & kAttrFolder) return FileVerdict::kFolderInTheWay;
  // Whole seconds, truncated: file systems keep times at different resolutions.
  const int64_t source_second = source.last_write / kTicksPerSecond;
  const int64_t there_second = there.last_write / kTicksPerSecond;
  if (source_second > there_second) return FileVerdict::kUpdate;
  // A copy cut short, or a file changed within the second of its last copy,
  // shows only in its size.
  if (source_second < there_second) return FileVerdict::kLeave;
  if (FullSize(source) == there.size) return FileVerdict::kSame;
  switch (rule) {
    case SameSecondRule::kUpdate:
      return FileVerdict::kUpdate;
    case SameSecondRule::kConflict:
      return FileVerdict::kConflict;
    default:
      return FileVerdict::kLeave;
  }
}

bool TimeKept(int64_t source, int64_t placed) {
  return source / kTicksPerSecond == placed / kTicksPerSecond;
}

bool ContentDecides(FileVerdict verdict, const FindEntry& source, const PathInfo& there,
                    bool times_kept) {
  const bool by_time = verdict == FileVerdict::kUpdate || verdict == FileVerdict::kLeave ||
                       verdict == FileVerdict::kConflict;
  return by_time && !times_kept && FullSize(source) == there.size &&
         !((source.attributes | there.attributes) & (kAttrReparsePoint | kAttrFolder));
}

FolderVerdict JudgeFolder(bool found, const PathInfo& there) {
  if (!found) return FolderVerdict::kMake;
  if (there.attributes & kAttrReparsePoint) return FolderVerdict::kLinkInTheWay;
  if (!(there.attributes & kAttrFolder)) return FolderVerdict::kFileInTheWay;
  return FolderVerdict::kWalk;
}

DestinationVerdict JudgeDestinationEntry(const FindEntry& entry, bool in_source, uint32_t error,
                                         const PathInfo& there, bool top_source_there) {
  if (in_source) {
    if (entry.attributes & kAttrFolder) {
      return IsPlainFolder(entry) ? DestinationVerdict::kWalkInto : DestinationVerdict::kLeave;
    }
    const bool newer =
        !(entry.attributes & kAttrReparsePoint) && entry.last_write > there.last_write;
    return newer ? DestinationVerdict::kNewerDest : DestinationVerdict::kLeave;
  }
  if (!top_source_there) return DestinationVerdict::kSourceLost;
  if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
    return DestinationVerdict::kRemove;
  }
  return DestinationVerdict::kKeepUnreadable;
}

MediumVerdict JudgeMedium(uint32_t error, bool tops_answer) {
  if (!tops_answer || error == kErrorBadNetPath) return MediumVerdict::kMediumGone;
  return MediumVerdict::kFailureStands;
}

CopyFailureVerdict JudgeCopyFailure(uint32_t error, bool at_source) {
  if (error == kErrorNameTooLong) return CopyFailureVerdict::kPathTooLong;
  if (!at_source) return CopyFailureVerdict::kAbort;
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
