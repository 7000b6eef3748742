#include "jobs/job_list.h"

#include <cstring>
#include <new>

namespace {

const char* const kModeNames[kJobModeCount] = {"Copy", "Mirror", "Move", "Sync"};

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (FoldCase(*a) != FoldCase(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

bool ReserveSlot(JobList& jobs) {
  const int index = jobs.count;
  if (index % kJobListStep == 0) {
    const int capacity = index + kJobListStep;
    JobRecord** slots = new (std::nothrow) JobRecord*[capacity]();
    if (slots == nullptr) return false;
    for (int i = 0; i < index && i < jobs.capacity; ++i) slots[i] = jobs.slots[i];
    if (index < jobs.capacity) slots[index] = jobs.slots[index];
    delete[] jobs.slots;
    jobs.slots = slots;
    jobs.capacity = capacity;
  }
  JobRecord* record = new (std::nothrow) JobRecord{};
  if (record == nullptr) return false;
  delete jobs.slots[index];  // an earlier reservation that was never committed
  jobs.slots[index] = record;
  return true;
}

void Commit(JobList& jobs) { ++jobs.count; }

void Remove(JobList& jobs, int i) {
  if (i < 0 || i >= jobs.count) return;
  // A reservation not yet committed is dropped with the removal.
  if (jobs.count < jobs.capacity) {
    delete jobs.slots[jobs.count];
    jobs.slots[jobs.count] = nullptr;
  }
  delete jobs.slots[i];
  for (int k = i; k + 1 < jobs.count; ++k) jobs.slots[k] = jobs.slots[k + 1];
  --jobs.count;
  jobs.slots[jobs.count] = nullptr;
}

void Swap(JobList& jobs, int i, int j) {
  if (i < 0 || j < 0 || i >= jobs.count || j >= jobs.count) return;
  JobRecord* t = jobs.slots[i];
  jobs.slots[i] = jobs.slots[j];
  jobs.slots[j] = t;
}

int FirstWithoutDestination(const JobList& jobs) {
  int i = 0;
  while (i < jobs.count && jobs.slots[i]->destination[0] != '\0') ++i;
  return i;
}

void ClearJobs(JobList& jobs) {
  for (int i = 0; i < jobs.capacity; ++i) delete jobs.slots[i];
  delete[] jobs.slots;
  jobs = JobList{};
}

const char* ModeName(int mode) {
  return (mode >= 0 && mode < kJobModeCount) ? kModeNames[mode] : kModeNames[kModeCopy];
}

int ModeFromName(const char* text) {
  for (int i = 0; i < kJobModeCount; ++i) {
    if (EqualIgnoringCase(text, kModeNames[i])) return i;
  }
  return kModeCopy;
}
