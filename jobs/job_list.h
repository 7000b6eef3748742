// Job records, the mode table and the ordered job list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum JobMode : uint16_t { kModeCopy = 0, kModeMirror = 1, kModeMove = 2, kModeSync = 3 };
constexpr int kJobModeCount = 4;

constexpr size_t kJobSourceSize = 256;
constexpr size_t kJobDestinationSize = 276;
constexpr uint16_t kJobEnabled = 0x0001;

// One job. Zero-filled when created: mode Copy, not enabled, both paths empty.
// Bits of flags other than kJobEnabled carry no meaning but are kept.
struct JobRecord {
  uint16_t mode;
  uint16_t flags;
  char source[kJobSourceSize];
  char destination[kJobDestinationSize];
  // What the job's walks leave out, in the order written (see
  // jobs/exclusion_patterns.h): each one accepted where it entered.
  std::vector<std::string> exclusions;
};
static_assert(offsetof(JobRecord, mode) == 0);
static_assert(offsetof(JobRecord, flags) == 2);
static_assert(offsetof(JobRecord, source) == 4);
static_assert(offsetof(JobRecord, destination) == 4 + kJobSourceSize);

constexpr int kJobListStep = 128;

// Job i is run i-th, shown in row i and written i-th. The list owns its
// records. slots[count], when not null, is a reserved record not yet committed.
struct JobList {
  int32_t count = 0;
  int32_t capacity = 0;
  JobRecord** slots = nullptr;
};

// Makes room at index count (a new array of index + 128 pointers whenever
// that index is a multiple of 128) and puts a zero-filled record there without
// changing count. False when an allocation fails.
bool ReserveSlot(JobList& jobs);
// The reserved record becomes job count - 1.
void Commit(JobList& jobs);
// Removes job i and releases its record; later jobs move down one place.
void Remove(JobList& jobs, int i);
void Swap(JobList& jobs, int i, int j);
// Index of the first job whose destination is empty, or count.
int FirstWithoutDestination(const JobList& jobs);
// Releases every record and the array.
void ClearJobs(JobList& jobs);

inline bool IsEnabled(const JobRecord& job) {
  return (job.flags & kJobEnabled) != 0;
}

// One of "Copy", "Mirror", "Move", "Sync"; a mode out of range gives "Copy".
const char* ModeName(int mode);
// Index of the first name equal to text ignoring letter case, or 0.
int ModeFromName(const char* text);
