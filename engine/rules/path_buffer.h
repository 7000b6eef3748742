// Growing a walk's path in its fixed buffer. A path that does not fit is
// refused and reported, never cut into a different path.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "engine/rules/worker_context.h"

// Copies a job's path field into a working buffer. A job's paths always fit;
// a field without its NUL is still read only up to its own end.
template <size_t N>
void CopyJobPath(char (&to)[kPathBufferSize], const char (&from)[N]) {
  static_assert(N < kPathBufferSize);
  const size_t length = strnlen(from, N);
  std::memcpy(to, from, length);
  to[length] = '\0';
}

// Room a folder's path keeps for the separator and kAllEntries its walk appends.
inline size_t ListingRoom() {
  return 1 + std::strlen(kAllEntries);
}

// The "." and ".." a folder listing may hold.
inline bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// A name of the form of our own temporary copies (kTemporaryPrefix, digits,
// optionally "-" and more digits, kTemporarySuffix). One that a killed run
// left behind is a stray, never a file to copy: a Sync would carry it back
// into the source.
bool IsOwnTemporaryName(const char* name);

// Writes kPathSeparator and name at path[end] (where path's NUL is), provided
// spare more bytes remain free after the new NUL. False, with path unchanged,
// when the result would not fit in kPathBufferSize bytes.
bool AppendElement(char* path, size_t end, const char* name, size_t spare);

// Logs head followed by path, composed in the message buffer and cut at its
// end when longer.
void LogWithPath(WorkerContext& context, const char* head, const char* path);
// The same with the first length bytes of path alone (a walk's top in its
// buffer).
void LogWithPath(WorkerContext& context, const char* head, const char* path, size_t length);

// Logs "Skipped, path too long: " with folder, separator and name, as much of
// them as the message buffer holds, counts the entry as skipped and marks the
// pass as failed.
void ReportTooLong(WorkerContext& context, const char* folder, const char* name);

// Logs head followed by path, counts the entry as skipped and marks the pass
// as failed: an entry left alone for safety or after a failure.
void ReportSkipped(WorkerContext& context, const char* head, const char* path);

// The line of an entry or folder left alone because a link stands, or was
// swapped in, where the destination has a folder.
extern const char kLinkInDestination[];

// Removes the entry named in the destination buffer, in its folder held as
// folder (nullptr: by path), whose side's top ends at top_length: to the
// recycle bin or trash; where that fails, with versions kept, into the
// versions folder (a dry run names the place in a line), else deleted for
// good where the volume has no trash. Logs "Removed <path>", counted as
// removed, or "Delete failed on <path>", counted as skipped and marking the
// pass as failed; a folder no longer at its path is reported as a link in
// the destination. True when it is gone. Nothing is removed, and nothing
// logged, while the walks lost their medium since they started from the top,
// nor after a removal that met the medium gone and saw it back (the walks
// run again first).
bool RecycleDestination(WorkerContext& context, void* folder, size_t top_length);

// What a walk asks of the volumes of the paths in the buffers at a job's
// top, once: whether the destination ignores letter case, and the times the
// coarser of the two keeps (a second's resolution where neither's name tells).
struct VolumeFacts {
  bool ignores_case;
  TimeKeeping times;
  bool times_told;  // the destination's file system name told its times
};
VolumeFacts AskVolumes(WorkerContext& context);

// Adds the names of the entries the walks take in the folder named in path
// (a context buffer) to names; path is kept. False when it cannot be listed.
bool ListTakenNames(WorkerContext& context, char* path, std::vector<std::string>* names);
