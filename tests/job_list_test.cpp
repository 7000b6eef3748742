#include "jobs/job_list.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

JobRecord* AddJob(JobList& jobs, const char* source, const char* destination = "") {
  EXPECT_TRUE(ReserveSlot(jobs));
  JobRecord* job = jobs.slots[jobs.count];
  std::strcpy(job->source, source);
  std::strcpy(job->destination, destination);
  Commit(jobs);
  return job;
}

// Index of the job whose record is this one, or count.
int FindRecord(const JobList& jobs, const JobRecord* record) {
  int i = 0;
  while (i < jobs.count && jobs.slots[i] != record)
    ++i;
  return i;
}

TEST(JobList, GrowsInStepsOf128AndKeepsEveryPointer) {
  JobList jobs;
  JobRecord* records[301];
  for (int i = 0; i <= 300; ++i) {
    const int before = jobs.capacity;
    ASSERT_TRUE(ReserveSlot(jobs));
    if (i % 128 == 0) {
      EXPECT_EQ(jobs.capacity, i + 128) << "index " << i;
    } else {
      EXPECT_EQ(jobs.capacity, before) << "index " << i;
    }
    ASSERT_LT(jobs.count, jobs.capacity);
    records[i] = jobs.slots[jobs.count];
    Commit(jobs);
  }
  EXPECT_EQ(jobs.count, 301);
  for (int i = 0; i <= 300; ++i)
    EXPECT_EQ(jobs.slots[i], records[i]);
  ClearJobs(jobs);
  EXPECT_EQ(jobs.count, 0);
}

TEST(JobList, ReservedRecordIsZeroAndReplacedWhenNotCommitted) {
  JobList jobs;
  ASSERT_TRUE(ReserveSlot(jobs));
  const JobRecord zero{};
  EXPECT_EQ(std::memcmp(jobs.slots[0], &zero, sizeof zero), 0);
  EXPECT_EQ(jobs.count, 0);
  std::strcpy(jobs.slots[0]->source, "left behind");
  ASSERT_TRUE(ReserveSlot(jobs));
  EXPECT_EQ(jobs.slots[0]->source[0], '\0');
  EXPECT_EQ(jobs.slots[0]->mode, kModeCopy);
  EXPECT_FALSE(IsEnabled(*jobs.slots[0]));
  ClearJobs(jobs);
}

TEST(JobList, RemoveSwapAndFind) {
  JobList jobs;
  JobRecord* a = AddJob(jobs, "a", "A");
  JobRecord* b = AddJob(jobs, "b");
  JobRecord* c = AddJob(jobs, "c", "C");
  EXPECT_EQ(FindRecord(jobs, b), 1);
  EXPECT_EQ(FirstWithoutDestination(jobs), 1);

  Remove(jobs, 0);
  ASSERT_EQ(jobs.count, 2);
  EXPECT_EQ(jobs.slots[0], b);
  EXPECT_EQ(jobs.slots[1], c);
  EXPECT_EQ(jobs.slots[2], nullptr);
  EXPECT_EQ(FindRecord(jobs, a), jobs.count);

  Swap(jobs, 0, 1);
  EXPECT_EQ(jobs.slots[0], c);
  EXPECT_EQ(jobs.slots[1], b);
  EXPECT_EQ(FirstWithoutDestination(jobs), 1);
  b->destination[0] = 'B';
  EXPECT_EQ(FirstWithoutDestination(jobs), jobs.count);

  // Out-of-range indexes change nothing.
  Remove(jobs, 2);
  Remove(jobs, -1);
  Swap(jobs, 1, 2);
  EXPECT_EQ(jobs.count, 2);
  EXPECT_EQ(jobs.slots[1], b);

  // A pending reservation does not survive a removal as a stray job.
  ASSERT_TRUE(ReserveSlot(jobs));
  Remove(jobs, 1);
  EXPECT_EQ(jobs.count, 1);
  EXPECT_EQ(jobs.slots[1], nullptr);
  ClearJobs(jobs);
}

TEST(JobList, ModeNamesAndLookup) {
  const struct {
    const char* text;
    int mode;
  } cases[] = {{"Copy", 0}, {"Mirror", 1}, {"Move", 2},    {"Sync", 3}, {"mirror", 1},
               {"SYNC", 3}, {"MoVe", 2},   {"Mirrors", 0}, {"", 0},     {"Backup", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(ModeFromName(c.text), c.mode) << c.text;
  for (int mode = 0; mode < kJobModeCount; ++mode)
    EXPECT_EQ(ModeFromName(ModeName(mode)), mode);
  EXPECT_STREQ(ModeName(7), "Copy");
}

}  // namespace
