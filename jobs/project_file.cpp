#include "jobs/project_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr size_t kScratchSize = 64;
constexpr size_t kLineSize = 1024;
constexpr int kBackupNames = 9;

// Fields, not lines: a comma or a CR ends a field, and one LF right after it
// is skipped. An LF anywhere else is an ordinary character.
struct FieldReader {
  const char* at;
  const char* end;
  bool cut = false;  // some field did not fit its target
};

// Copies one field into target, bounded by its size. Returns false when the
// field ran to the end of the text. *fitted tells whether it was copied whole.
bool ReadField(FieldReader& reader, char* target, size_t size, bool* fitted = nullptr) {
  size_t n = 0;
  bool whole = true;
  while (reader.at < reader.end && *reader.at != ',' && *reader.at != '\r') {
    if (n + 1 < size) {
      target[n++] = *reader.at;
    } else {
      whole = false;
    }
    ++reader.at;
  }
  target[n] = '\0';
  if (!whole) reader.cut = true;
  if (fitted != nullptr) *fitted = whole;
  if (reader.at >= reader.end) return false;
  ++reader.at;
  if (reader.at < reader.end && *reader.at == '\n') ++reader.at;
  return true;
}

// atoi and atol as the Windows runtime has them: leading blanks, a sign,
// digits; an overflow gives the nearest bound.
int32_t ParseNumber(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
    ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT32_MAX + int64_t{1}) value = INT32_MAX + int64_t{1};
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

// Reads records until the text or memory runs out. Jobs past the cap are read
// and left out, so that a totals record after them still counts. Returns true
// when every record was taken whole.
bool ReadRecords(FieldReader& reader, JobList& jobs, TotalsRecord& totals) {
  char scratch[kScratchSize];
  JobRecord beyond_cap;
  bool all_taken = true;
  while (reader.at < reader.end) {
    const bool room = jobs.count < kMaxProjectJobs;
    if (room && !ReserveSlot(jobs)) return false;
    if (!ReadField(reader, scratch, sizeof scratch)) return all_taken;
    if (scratch[0] == 'O') {
      JobRecord& job = room ? *jobs.slots[jobs.count] : beyond_cap;
      if (!ReadField(reader, scratch, sizeof scratch)) return false;
      job.flags = static_cast<uint16_t>(ParseNumber(scratch));
      if (!ReadField(reader, scratch, sizeof scratch)) return false;
      job.mode = static_cast<uint16_t>(ModeFromName(scratch));
      bool source_whole = false;
      bool destination_whole = false;
      if (!ReadField(reader, job.source, sizeof job.source, &source_whole)) return false;
      ReadField(reader, job.destination, sizeof job.destination, &destination_whole);
      // A path cut to its field would name another place: such a job is left
      // out, and the file is kept as it was (see ProjectState::inexact).
      if (source_whole && destination_whole && room) Commit(jobs);
      if (!room) all_taken = false;
    } else if (scratch[0] == 'T') {
      if (!ReadField(reader, scratch, sizeof scratch)) return all_taken;
      totals.total = static_cast<uint32_t>(ParseNumber(scratch));
      if (!ReadField(reader, scratch, sizeof scratch)) return all_taken;
      totals.end_option = ParseNumber(scratch);
      if (!ReadField(reader, scratch, sizeof scratch)) return all_taken;
      totals.time_limit = ParseNumber(scratch);
    }
  }
  return all_taken;
}

// Appends one formatted line, bounded by the line buffer.
void AppendLine(std::string& text, const char* line, int length) {
  if (length > 0) text.append(line, std::min<size_t>(length, kLineSize - 1));
}

// Keeps the file as it stands beside itself, under the first free name of
// "<path>.bak", "<path>.bak2" ... "<path>.bak9".
bool KeepBackup(WholeFiles& files, const char* path) {
  std::string old;
  const ReadResult read = files.ReadAll(path, &old);
  if (read == ReadResult::kMissing) return true;
  if (read != ReadResult::kRead) return false;
  for (int i = 1; i <= kBackupNames; ++i) {
    char backup[kProjectPathSize + 16];
    std::snprintf(backup, sizeof backup, i == 1 ? "%s.bak" : "%s.bak%d", path, i);
    // The copy is as private as the project.
    if (!files.Exists(backup)) return WriteFileSafely(files, backup, old.data(), old.size(), path);
  }
  return false;
}

}  // namespace

bool LoadProject(const char* path, JobList& jobs, TotalsRecord& totals, ProjectState& state,
                 WholeFiles& files) {
  ClearJobs(jobs);
  state = ProjectState{};
  if (path[0] == '\0') return false;
  std::string text;
  const ReadResult read = files.ReadAll(path, &text);
  if (read != ReadResult::kRead) {
    state.unreadable = read == ReadResult::kUnreadable;
    return false;
  }
  // The text ends at its first NUL, as a C string would.
  const size_t length = std::strlen(text.c_str());
  FieldReader reader{text.data(), text.data() + length};
  const bool whole = ReadRecords(reader, jobs, totals);
  state.inexact = !whole || reader.cut || length != text.size();
  return true;
}

bool SaveProject(const char* path, const JobList& jobs, const TotalsRecord& totals,
                 ProjectState& state, WholeFiles& files) {
  if (path[0] == '\0' || state.unreadable) return false;
  if (state.inexact) {
    if (!KeepBackup(files, path)) return false;
    state.inexact = false;
  }
  if (jobs.count == 0) return files.RemoveIfPresent(path);

  std::string text;
  char line[kLineSize];
  for (int i = 0; i < jobs.count; ++i) {
    const JobRecord& job = *jobs.slots[i];
    AppendLine(text, line,
               std::snprintf(line, sizeof line, "O,%d,%s,%s,%s\r\n", job.flags, ModeName(job.mode),
                             job.source, job.destination));
  }
  AppendLine(text, line,
             std::snprintf(line, sizeof line, "T,%d,%d,%d\r\n", static_cast<int>(totals.total),
                           totals.end_option, totals.time_limit));
  return WriteFileSafely(files, path, text.data(), text.size());
}
