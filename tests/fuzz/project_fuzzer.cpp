// Reads arbitrary bytes as a project file, checks what was loaded and that
// it survives a save and a reload. Built by tests/fuzz/run_fuzzer.sh.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jobs/project_file.h"
#include "tests/project_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryWholeFiles files;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  files.Put("fuzz.lpj", bytes);
  JobList jobs;
  TotalsRecord totals;
  ProjectState state;
  LoadProject("fuzz.lpj", jobs, totals, state, files);
  std::string failure = CheckLoadedJobs(bytes, jobs);
  if (failure.empty()) failure = CheckSaveAndReload(jobs);
  ClearJobs(jobs);
  if (!failure.empty()) {
    std::fprintf(stderr, "invariant broken: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
