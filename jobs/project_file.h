// The project file: job records and one totals record, comma-separated text
// with CR LF line ends and no quoting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jobs/job_list.h"
#include "jobs/whole_file.h"

constexpr int kMaxProjectJobs = 65000;
constexpr size_t kProjectPathSize = 512;

// The versions retention a project without a V record has, in days.
constexpr int32_t kDefaultKeepVersionsDays = 30;

// The numbers a project keeps beside its jobs: the three of the totals record
// ("T,total,end option,time limit") and the versions retention ("V,days",
// written only when it is not the default). They live elsewhere (run
// control's previous total, the run settings); callers pass them in and take
// them back.
struct TotalsRecord {
  uint32_t total = 0;
  int32_t end_option = 0;
  int32_t time_limit = 0;
  int32_t keep_versions_days = kDefaultKeepVersionsDays;
  // The command run after each pass ("N,command", the rest of its line,
  // written after the totals only when set); empty for none.
  std::string after_command = {};
};

// Why a job record of the file was not loaded.
enum class LeftOutReason {
  kPathTooLong,   // its source or destination does not fit its field
  kCutShort,      // the file ends inside the record
  kOverJobLimit,  // it comes after the first kMaxProjectJobs jobs
  kBadPattern,    // one of its patterns is refused (jobs/exclusion_patterns.h)
  // The N record's command: one the system would not run as written, or a
  // second one (which of two was meant cannot be told).
  kCommandControlCharacter,
  kCommandTooLong,
  kSecondCommand,
};

constexpr size_t kLeftOutTextSize = 100;
constexpr size_t kLeftOutLineSize = 192;

// A job record of the file that is not in the job list, or a command record
// not taken.
struct LeftOutJob {
  LeftOutReason reason;
  int line;  // the line of the file its record begins on, counting from 1
  // The record as written, ending in "..." when it had to be cut to fit.
  char text[kLeftOutTextSize];
};

// What loading learned about the file that saving must respect.
struct ProjectState {
  // The file exists but could not be read: it is never removed or overwritten.
  bool unreadable = false;
  // Saving would not give back the file as it stands (the numbers of its
  // totals record aside), its text was in the system's legacy code page and is
  // read as UTF-8, it began with a byte order mark, or a destination runs on
  // past a comma: before the first save over it the old file is kept beside
  // it as "<path>.bak".
  bool inexact = false;
  // The job records not loaded, in file order; of those past the job limit
  // only the first.
  std::vector<LeftOutJob> left_out;
};

// Fills jobs (emptied first) and replaces each number of totals that the
// file holds; a V record whose days are not plain digits leaves the
// retention as it was. A UTF-8 byte order mark at the start is skipped. A
// job's destination is the rest of its line, commas included: a path split
// at a comma would name another folder. A job whose source or
// destination does not fit its field is not loaded: it would name another
// path; state lists it. Each "X,<pattern>" record right after a job's
// record is one of its patterns, the rest of its line, commas included; a
// job with a pattern refused is not loaded either. False when the file is
// missing or could not be read (state says which); the list is then empty.
bool LoadProject(const char* path, JobList& jobs, TotalsRecord& totals, ProjectState& state,
                 WholeFiles& files = DefaultWholeFiles());

// Writes the jobs and the totals in one safe step. An empty job list removes
// the file. False when nothing was written: an empty path, an unreadable file
// kept as it was, or a failure (the old file is then unchanged).
bool SaveProject(const char* path, const JobList& jobs, const TotalsRecord& totals,
                 ProjectState& state, WholeFiles& files = DefaultWholeFiles());

// The log line that names a job left out at load, for instance
// "Error: Job on line 3 left out, path too long: O,1,Copy,...", or for a
// command "Error: Command on line 5 left out, control character: N,...".
void DescribeLeftOut(const LeftOutJob& job, char* line, size_t size);
