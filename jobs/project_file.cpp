#include "jobs/project_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "jobs/after_command.h"
#include "jobs/exclusion_patterns.h"
#include "jobs/legacy_code_page.h"
#include "jobs/utf8.h"

namespace {

constexpr size_t kScratchSize = 64;
constexpr size_t kLineSize = 1024;
constexpr int kBackupNames = 9;
// Older editors begin a UTF-8 file with it.
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// Fields, not lines: a comma or a CR ends a field, and one LF right after it
// is skipped. An LF anywhere else is an ordinary character.
struct FieldReader {
  const char* at;
  const char* end;
  bool joined = false;  // some destination ran on past a comma
  // Line breaks are counted up to counted, for naming left-out jobs.
  const char* counted = at;
  int line = 1;
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
  if (fitted != nullptr) *fitted = whole;
  if (reader.at >= reader.end) return false;
  ++reader.at;
  if (reader.at < reader.end && *reader.at == '\n') ++reader.at;
  return true;
}

// A destination is the rest of its line, up to the CR or the end of the text,
// as written: a path that holds a comma keeps it, so the job names what the
// user wrote (and is refused at Start) instead of a folder cut at the comma.
// *fitted tells whether it fitted target; if not, target is left empty.
void ReadDestination(FieldReader& reader, char* target, size_t size, bool* fitted) {
  const size_t rest = static_cast<size_t>(reader.end - reader.at);
  const char* line_end = static_cast<const char*>(std::memchr(reader.at, '\r', rest));
  if (line_end == nullptr) line_end = reader.end;
  const size_t length = static_cast<size_t>(line_end - reader.at);
  if (std::memchr(reader.at, ',', length) != nullptr) reader.joined = true;
  *fitted = length < size;
  const size_t copied = *fitted ? length : 0;
  std::memcpy(target, reader.at, copied);
  target[copied] = '\0';
  reader.at = line_end;
  if (reader.at < reader.end) ++reader.at;
  if (reader.at < reader.end && *reader.at == '\n') ++reader.at;
}

// The line of the text at, counting a CR LF, a lone CR or a lone LF as one
// break. Asked in file order, so the text is scanned once.
int LineAt(FieldReader& reader, const char* at) {
  for (; reader.counted < at; ++reader.counted) {
    const char c = *reader.counted;
    const bool crlf = c == '\r' && reader.counted + 1 < reader.end && reader.counted[1] == '\n';
    if ((c == '\r' && !crlf) || c == '\n') ++reader.line;
  }
  return reader.line;
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

enum class JobRead { kWhole, kPathTooLong, kCutShort };

// Reads the fields of a job record that follow its O.
JobRead ReadJob(FieldReader& reader, JobRecord& job) {
  char scratch[kScratchSize];
  if (!ReadField(reader, scratch, sizeof scratch)) return JobRead::kCutShort;
  job.flags = static_cast<uint16_t>(ParseNumber(scratch));
  if (!ReadField(reader, scratch, sizeof scratch)) return JobRead::kCutShort;
  job.mode = static_cast<uint16_t>(ModeFromName(scratch));
  bool source_whole = false;
  bool destination_whole = false;
  if (!ReadField(reader, job.source, sizeof job.source, &source_whole)) return JobRead::kCutShort;
  ReadDestination(reader, job.destination, sizeof job.destination, &destination_whole);
  // A path cut to its field would name another place.
  return source_whole && destination_whole ? JobRead::kWhole : JobRead::kPathTooLong;
}

// A pattern record, "X,<pattern>", starts where the reader stands.
bool AtPatternRecord(const FieldReader& reader) {
  return reader.end - reader.at >= 2 && reader.at[0] == 'X' && reader.at[1] == ',';
}

// Reads the pattern records that follow a job's record into patterns (when
// not null). Returns where the first refused one starts, or nullptr.
const char* ReadPatterns(FieldReader& reader, std::vector<std::string>* patterns) {
  const char* refused = nullptr;
  while (AtPatternRecord(reader)) {
    const char* record = reader.at;
    reader.at += 2;
    // The rest of the line, as a destination is read, bounded only by it.
    const size_t rest = static_cast<size_t>(reader.end - reader.at);
    const char* line_end = static_cast<const char*>(std::memchr(reader.at, '\r', rest));
    if (line_end == nullptr) line_end = reader.end;
    const std::string pattern(reader.at, line_end);
    reader.at = line_end;
    if (reader.at < reader.end) ++reader.at;
    if (reader.at < reader.end && *reader.at == '\n') ++reader.at;
    if (refused != nullptr) continue;
    if (!IsAcceptablePattern(pattern)) {
      refused = record;
    } else if (patterns != nullptr) {
      patterns->push_back(pattern);
    }
  }
  return refused;
}

// Notes the record from record to where the reader stands as left out, its
// text from text on (the record itself by default).
void LeaveOut(FieldReader& reader, const char* record, LeftOutReason reason,
              std::vector<LeftOutJob>& left_out, const char* text = nullptr) {
  LeftOutJob job{reason, LineAt(reader, record), {}};
  const char* end = reader.at;
  if (text != nullptr) {
    record = text;
    // Its own line names it.
    const char* line_end =
        static_cast<const char*>(std::memchr(text, '\r', static_cast<size_t>(end - text)));
    if (line_end != nullptr) end = line_end;
  }
  size_t length = static_cast<size_t>(end - record);
  while (length > 0 && (record[length - 1] == '\r' || record[length - 1] == '\n'))
    --length;
  if (length < sizeof job.text) {
    std::memcpy(job.text, record, length);
  } else {
    const size_t kept = sizeof job.text - 4;
    std::memcpy(job.text, record, kept);
    std::memcpy(job.text + kept, "...", 4);
  }
  left_out.push_back(job);
}

// The command of an N record, from where the reader stands: the rest of the
// line, commas and all. A command never holds a line break, so a lone LF ends
// it as a CR does. One with a control character, one too long, or any after
// the first (*seen) is left out; a command that must not run is not guessed at.
void ReadCommandRecord(FieldReader& reader, const char* record, bool* seen, TotalsRecord& totals,
                       std::vector<LeftOutJob>& left_out) {
  const char* end = reader.at;
  while (end < reader.end && *end != '\r' && *end != '\n')
    ++end;
  const std::string_view command(reader.at, static_cast<size_t>(end - reader.at));
  reader.at = end;
  if (reader.at < reader.end && *reader.at == '\r') ++reader.at;
  if (reader.at < reader.end && *reader.at == '\n') ++reader.at;
  if (*seen) {
    LeaveOut(reader, record, LeftOutReason::kSecondCommand, left_out);
  } else if (command.size() > kAfterCommandMaxLength) {
    LeaveOut(reader, record, LeftOutReason::kCommandTooLong, left_out);
  } else if (AfterCommandFault(command) != nullptr) {
    LeaveOut(reader, record, LeftOutReason::kCommandControlCharacter, left_out);
  } else {
    totals.after_command.assign(command);
  }
  *seen = true;
}

// Reads records until the text or memory runs out. Jobs past the cap are read
// and left out, so that a totals record after them still counts.
void ReadRecords(FieldReader& reader, JobList& jobs, TotalsRecord& totals,
                 std::vector<LeftOutJob>& left_out) {
  char scratch[kScratchSize];
  JobRecord beyond_cap;
  bool command_seen = false;
  while (reader.at < reader.end) {
    // Patterns of a job left out, or of none, go with it.
    if (AtPatternRecord(reader)) {
      ReadPatterns(reader, nullptr);
      continue;
    }
    const bool room = jobs.count < kMaxProjectJobs;
    if (room && !ReserveSlot(jobs)) return;
    const char* record = reader.at;
    const bool more = ReadField(reader, scratch, sizeof scratch);
    if (scratch[0] == 'O') {
      JobRecord& job = room ? *jobs.slots[jobs.count] : beyond_cap;
      const JobRead read = more ? ReadJob(reader, job) : JobRead::kCutShort;
      if (!room) {
        if (left_out.empty() || left_out.back().reason != LeftOutReason::kOverJobLimit) {
          LeaveOut(reader, record, LeftOutReason::kOverJobLimit, left_out);
        }
      } else if (read == JobRead::kWhole) {
        const char* refused = ReadPatterns(reader, &job.exclusions);
        if (refused == nullptr) {
          Commit(jobs);
        } else {
          LeaveOut(reader, record, LeftOutReason::kBadPattern, left_out, refused);
        }
      } else {
        LeaveOut(
            reader, record,
            read == JobRead::kCutShort ? LeftOutReason::kCutShort : LeftOutReason::kPathTooLong,
            left_out);
      }
      if (read == JobRead::kCutShort) return;
    } else if (!more) {
      return;
    } else if (scratch[0] == 'T') {
      if (!ReadField(reader, scratch, sizeof scratch)) return;
      totals.total = static_cast<uint32_t>(ParseNumber(scratch));
      if (!ReadField(reader, scratch, sizeof scratch)) return;
      totals.end_option = ParseNumber(scratch);
      if (!ReadField(reader, scratch, sizeof scratch)) return;
      totals.time_limit = ParseNumber(scratch);
    } else if (scratch[0] == 'N') {
      ReadCommandRecord(reader, record, &command_seen, totals, left_out);
    } else if (scratch[0] == 'V') {
      if (!ReadField(reader, scratch, sizeof scratch)) return;
      // Days that are no plain number never turn the versions off.
      const size_t digits = std::strspn(scratch, "0123456789");
      if (digits > 0 && scratch[digits] == '\0') totals.keep_versions_days = ParseNumber(scratch);
    }
  }
}

// Appends one formatted line, bounded by the line buffer.
void AppendLine(std::string& text, const char* line, int length) {
  if (length > 0) text.append(line, std::min<size_t>(length, kLineSize - 1));
}

// A job's patterns, each the rest of its line: never cut to a line buffer.
void AppendPatternLines(std::string& text, const JobRecord& job) {
  for (const std::string& pattern : job.exclusions) {
    text += "X,";
    text += pattern;
    text += "\r\n";
  }
}

void AppendJobLines(std::string& text, const JobList& jobs) {
  char line[kLineSize];
  for (int i = 0; i < jobs.count; ++i) {
    const JobRecord& job = *jobs.slots[i];
    AppendLine(text, line,
               std::snprintf(line, sizeof line, "O,%d,%s,%s,%s\r\n", job.flags, ModeName(job.mode),
                             job.source, job.destination));
    AppendPatternLines(text, job);
  }
}

// The totals record, and the versions record when it is not the default.
void AppendTotalsLines(std::string& text, const TotalsRecord& totals) {
  char line[kLineSize];
  AppendLine(text, line,
             std::snprintf(line, sizeof line, "T,%d,%d,%d\r\n", static_cast<int>(totals.total),
                           totals.end_option, totals.time_limit));
  if (totals.keep_versions_days == kDefaultKeepVersionsDays) return;
  AppendLine(text, line, std::snprintf(line, sizeof line, "V,%d\r\n", totals.keep_versions_days));
}

// The command record, when a command is set. Not bounded by the line buffer:
// a command cut short would run something else.
void AppendCommandLine(std::string& text, const TotalsRecord& totals) {
  if (totals.after_command.empty()) return;
  text.append("N,").append(totals.after_command).append("\r\n");
}

// True when saving what was loaded gives back text: the same job lines, then
// the totals record (and a versions record) as a save writes the numbers
// read, or none (a save only adds it). Those numbers are what a save is meant
// to update.
bool SavesAsRead(const std::string& text, const JobList& jobs, const TotalsRecord& totals) {
  std::string saved;
  AppendJobLines(saved, jobs);
  if (text == saved) return true;
  AppendTotalsLines(saved, totals);
  AppendCommandLine(saved, totals);
  return text == saved;
}

constexpr size_t kBackupNameSize = kProjectPathSize + 16;

// "<path>.bak" for the first, then "<path>.bak2" ... "<path>.bak9".
void BackupName(const char* path, int i, char* name) {
  std::snprintf(name, kBackupNameSize, i == 1 ? "%s.bak" : "%s.bak%d", path, i);
}

// Keeps the file as it stands beside itself, under the first free backup name.
bool KeepBackup(WholeFiles& files, const char* path) {
  std::string old;
  const ReadResult read = files.ReadAll(path, &old);
  if (read == ReadResult::kMissing) return true;
  if (read != ReadResult::kRead) return false;
  for (int i = 1; i <= kBackupNames; ++i) {
    char backup[kBackupNameSize];
    BackupName(path, i, backup);
    // The copy is as private as the project.
    if (!files.Exists(backup)) return WriteFileSafely(files, backup, old.data(), old.size(), path);
  }
  return false;
}

}  // namespace

void DescribeLeftOut(const LeftOutJob& job, char* line, size_t size) {
  char reason[48] = "path too long";
  const char* later = "";
  const char* what = "Job";
  if (job.reason == LeftOutReason::kCommandControlCharacter ||
      job.reason == LeftOutReason::kCommandTooLong || job.reason == LeftOutReason::kSecondCommand) {
    what = "Command";
    std::snprintf(reason, sizeof reason, "%s",
                  job.reason == LeftOutReason::kSecondCommand    ? "a second command"
                  : job.reason == LeftOutReason::kCommandTooLong ? "too long"
                                                                 : "control character");
  } else if (job.reason == LeftOutReason::kCutShort) {
    std::snprintf(reason, sizeof reason, "record cut short");
  } else if (job.reason == LeftOutReason::kBadPattern) {
    std::snprintf(reason, sizeof reason, "pattern refused");
  } else if (job.reason == LeftOutReason::kOverJobLimit) {
    std::snprintf(reason, sizeof reason, "over %d jobs", kMaxProjectJobs);
    later = " and every job after it";
  }
  std::snprintf(line, size, "Error: %s on line %d%s left out, %s: %s", what, job.line, later,
                reason, job.text);
}

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
  // A save writes no mark: the file as it was is kept.
  const bool marked = text.starts_with(kByteOrderMark);
  if (marked) text.erase(0, sizeof kByteOrderMark - 1);
  // Text that is no UTF-8 up to its end (its first NUL) was written in the
  // system's legacy code page: it is read as UTF-8 from now on, and the file
  // as it was is kept.
  const bool converted = !IsUtf8(text.c_str()) && LegacyCodePageToUtf8(text, &text);
  // The text ends at its first NUL, as a C string would.
  const size_t length = std::strlen(text.c_str());
  FieldReader reader{text.data(), text.data() + length};
  ReadRecords(reader, jobs, totals, state.left_out);
  // A destination that runs on past a comma is saved as it was read: its
  // file is kept before the first save, not again at each save until the
  // job is mended.
  char backup[kBackupNameSize];
  BackupName(path, 1, backup);
  state.inexact = marked || converted || !SavesAsRead(text, jobs, totals) ||
                  (reader.joined && !files.Exists(backup));
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
  AppendJobLines(text, jobs);
  AppendTotalsLines(text, totals);
  AppendCommandLine(text, totals);
  return WriteFileSafely(files, path, text.data(), text.size());
}
