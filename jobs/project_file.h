// The project file: job records and one totals record, comma-separated text
// with CR LF line ends and no quoting.
#pragma once

#include <cstdint>

#include "jobs/job_list.h"
#include "jobs/whole_file.h"

constexpr int kMaxProjectJobs = 65000;
constexpr size_t kProjectPathSize = 512;

// The three numbers of the totals record. They live elsewhere (the worker
// context's total, the run settings); callers pass them in and take them back.
struct TotalsRecord {
  uint32_t total = 0;
  int32_t end_option = 0;
  int32_t time_limit = 0;
};

// What loading learned about the file that saving must respect.
struct ProjectState {
  // The file exists but could not be read: it is never removed or overwritten.
  bool unreadable = false;
  // The file could not be loaded exactly as it stands (a field too long for its
  // buffer, the job cap reached, a record cut short, a NUL byte, text in the
  // system's legacy code page read as UTF-8): before the first save over it
  // the old file is kept beside it as "<path>.bak".
  bool inexact = false;
};

// Fills jobs (emptied first) and replaces each of the three numbers that the
// file holds. A job whose source or destination does not fit its field is not
// loaded: it would name another path. False when the file is missing or could
// not be read (state says which); the list is then empty.
bool LoadProject(const char* path, JobList& jobs, TotalsRecord& totals, ProjectState& state,
                 WholeFiles& files = DefaultWholeFiles());

// Writes the jobs and the totals in one safe step. An empty job list removes
// the file. False when nothing was written: an empty path, an unreadable file
// kept as it was, or a failure (the old file is then unchanged).
bool SaveProject(const char* path, const JobList& jobs, const TotalsRecord& totals,
                 ProjectState& state, WholeFiles& files = DefaultWholeFiles());
