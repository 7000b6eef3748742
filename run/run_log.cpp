#include "run/run_log.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "jobs/utf8.h"
#include "jobs/whole_file.h"
#include "run/escaped_text.h"

namespace {

constexpr char kLogExtension[] = ".log";
constexpr char kOldLogSuffix[] = ".1";
constexpr size_t kLogPathSize = kPathBufferSize + sizeof kLogExtension + sizeof kOldLogSuffix;
// Lines are written in blocks of this size: a write per line would cost more
// than the copy of a small file. A crash loses at most this tail.
constexpr size_t kWriteBufferSize = 16 * 1024;
// The end of the file read for the summary: far more than a summary line.
constexpr long kTailSize = 2 * kPathBufferSize;

// The log file's path for the project at project_path: the absolute path with
// the file name's extension (from its last dot, unless that is its first
// character) replaced by ".log", or ".log" added. False when it cannot be
// had whole.
bool LogPathOf(const char* project_path, char (&project)[kPathBufferSize],
               char (&path)[kLogPathSize]) {
  if (!MakeAbsolute(project_path, project, sizeof project)) return false;
  const char* separator = std::strrchr(project, kPathSeparator);
  const char* name = separator != nullptr ? separator + 1 : project;
  const char* dot = std::strrchr(name, '.');
  const size_t stem = dot != nullptr && dot != name ? dot - project : std::strlen(project);
  std::snprintf(path, sizeof path, "%.*s%s", static_cast<int>(stem), project, kLogExtension);
  return true;
}

// The local date and time now, "2026-12-07 02:00:13".
void Stamp(char (&text)[kTimeStampSize]) {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  if (local == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local) == 0) {
    std::snprintf(text, sizeof text, "0000-00-00 00:00:00");
  }
}

std::FILE* OpenForAppend(const char* path, char* buffer) {
  std::FILE* file = std::fopen(path, "a");
  if (file != nullptr) std::setvbuf(file, buffer, _IOFBF, kWriteBufferSize);
  return file;
}

// True when the file at path is empty or ends with a line end: a pass killed
// in the middle of a line leaves it without one.
bool EndsWithLineEnd(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return true;
  const bool ends = std::fseek(file, -1, SEEK_END) != 0 || std::fgetc(file) == '\n';
  std::fclose(file);
  return ends;
}

// Opens the log at path for a new entry, on a line of its own. A log past
// kRunLogRotateSize is first kept as <path>.1.
std::FILE* OpenForEntry(const char* path, char* buffer) {
  std::FILE* file = OpenForAppend(path, buffer);
  if (file == nullptr) return nullptr;
  long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  if (size < 0 || size > kRunLogRotateSize) {
    std::fclose(file);
    char old[kLogPathSize];
    std::snprintf(old, sizeof old, "%s%s", path, kOldLogSuffix);
    if (!DefaultWholeFiles().Replace(path, old)) return nullptr;
    file = OpenForAppend(path, buffer);
    size = 0;
  }
  if (file != nullptr && size > 0 && !EndsWithLineEnd(path)) std::fputc('\n', file);
  return file;
}

class RunLog : public LogSink {
 public:
  void Open(const char* project_path) {
    std::lock_guard<std::mutex> lock(mutex_);
    known_ = LogPathOf(project_path, project_, path_);
    // Named in the line that says it cannot be written.
    if (!known_) FormatWhole(path_, sizeof path_, "%s", project_path);
    on_ = true;
    has_summary_ = false;
  }

  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    on_ = false;
  }

  void Begin(Host* host) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!on_) return;
      host_ = host;
      in_entry_ = true;
      start_ = std::chrono::steady_clock::now();
      Stamp(started_);
      file_ = known_ ? OpenForEntry(path_, buffer_) : nullptr;
      if (file_ != nullptr) {
        std::fprintf(file_, "%s Run of ", started_);
        PutEscaped(project_, file_);
        std::fputc('\n', file_);
        if (!Dropped()) return;
      }
    }
    ReportUnwritten(host);
  }

  void Flush() {
    Host* report = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!in_entry_) return;
      if (file_ != nullptr) std::fflush(file_);
      if (Dropped()) report = host_;
    }
    if (report != nullptr) ReportUnwritten(report);
  }

  void End(const WorkerContext& context, RunOutcome outcome) {
    Host* report = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!in_entry_) return;
      in_entry_ = false;
      std::memcpy(summary_.started, started_, sizeof started_);
      summary_.outcome = outcome;
      summary_.counts = context.counts;
      summary_.mib = context.done_mib;
      const auto ran = std::chrono::steady_clock::now() - start_;
      summary_.seconds =
          static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(ran).count());
      has_summary_ = true;
      if (file_ != nullptr && !WriteSummary(file_)) report = host_;
      file_ = nullptr;
    }
    if (report != nullptr) ReportUnwritten(report);
  }

  void Amend(const std::vector<std::string>& lines, RunOutcome outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (in_entry_ || !has_summary_) return;
    summary_.outcome = outcome;
    if (!on_ || !known_) return;
    std::FILE* file = OpenForAppend(path_, buffer_);
    if (file == nullptr) return;
    for (const std::string& line : lines) {
      PutEscaped(line.c_str(), file);
      std::fputc('\n', file);
    }
    WriteSummary(file);
  }

  bool Paths(std::string* project, std::string* log) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!on_ || !known_) return false;
    *project = project_;
    *log = path_;
    return true;
  }

  bool Summary(char (&line)[kSummarySize]) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (has_summary_) FormatSummary(summary_, line);
    return has_summary_;
  }

  void AppendLog(const char* line) override {
    Write([line](std::FILE* file) {
      PutEscaped(line, file);
      std::fputc('\n', file);
    });
  }

  void AppendPathLine(const char* prefix, const char* path) override {
    Write([prefix, path](std::FILE* file) {
      PutEscaped(prefix, file);
      PutEscaped(path, file);
      std::fputc('\n', file);
    });
  }

 private:
  // Writes to the entry's file, if it has one; a failed write is said once.
  template <typename Writing>
  void Write(const Writing& writing) {
    Host* report = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (file_ == nullptr) return;
      writing(file_);
      if (Dropped()) report = host_;
    }
    if (report != nullptr) ReportUnwritten(report);
  }

  // With mutex_ held: after a failed write the file is let go for the rest of
  // the entry, and true is returned, once.
  bool Dropped() {
    if (file_ == nullptr || std::ferror(file_) == 0) return false;
    std::fclose(file_);
    file_ = nullptr;
    return true;
  }

  // With mutex_ held: the summary line ends file, which is closed. False
  // when it could not be written whole.
  bool WriteSummary(std::FILE* file) {
    char line[kSummarySize];
    FormatSummary(summary_, line);
    std::fprintf(file, "%s\n", line);
    const bool failed = std::ferror(file) != 0;
    return std::fclose(file) == 0 && !failed;
  }

  // path_ is set on the window thread, before any entry that names it.
  void ReportUnwritten(Host* host) {
    char line[kLogPathSize + 32];
    FormatWhole(line, sizeof line, "Error: Run log not written: %s", path_);
    host->AppendLog(line);
  }

  std::mutex mutex_;
  bool on_ = false;
  bool known_ = false;  // path_ is the log's path, project_ the project's
  char project_[kPathBufferSize] = {};
  char path_[kLogPathSize] = {};
  // The entry in hand.
  Host* host_ = nullptr;
  bool in_entry_ = false;
  std::chrono::steady_clock::time_point start_;
  char started_[kTimeStampSize] = {};
  std::FILE* file_ = nullptr;
  char buffer_[kWriteBufferSize];
  // The last entry's summary, once one has ended.
  bool has_summary_ = false;
  RunSummary summary_;
};

RunLog gRunLog;

}  // namespace

LogSink* OpenRunLog(const char* project_path) {
  if (project_path[0] == '\0') {
    gRunLog.Close();
    return nullptr;
  }
  gRunLog.Open(project_path);
  return &gRunLog;
}

void BeginRunLogEntry(Host* host) {
  gRunLog.Begin(host);
}

void FlushRunLog() {
  gRunLog.Flush();
}

void EndRunLogEntry(const WorkerContext& context, RunOutcome outcome) {
  gRunLog.End(context, outcome);
}

void AmendLastRunLogEntry(const std::vector<std::string>& lines, RunOutcome outcome) {
  gRunLog.Amend(lines, outcome);
}

bool RunLogPaths(std::string* project, std::string* log) {
  return gRunLog.Paths(project, log);
}

bool LastRunSummary(char (&line)[kSummarySize]) {
  return gRunLog.Summary(line);
}

bool ReadLastRun(const char* project_path, RunSummary* summary) {
  char project[kPathBufferSize];
  char path[kLogPathSize];
  if (!LogPathOf(project_path, project, path)) return false;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  const bool from_start = std::fseek(file, -kTailSize, SEEK_END) != 0;
  if (from_start) std::rewind(file);
  char tail[kTailSize + 1];
  size_t n = std::fread(tail, 1, kTailSize, file);
  std::fclose(file);
  // The last line, without its line end; a file cut short has none.
  if (n == 0 || tail[n - 1] != '\n') return false;
  tail[--n] = '\0';
  if (n > 0 && tail[n - 1] == '\r') tail[--n] = '\0';
  const char* last = std::strrchr(tail, '\n');
  if (last == nullptr && !from_start) return false;
  return ParseSummary(last != nullptr ? last + 1 : tail, summary);
}

namespace {

// The last summary in the log at path that says finished. An entry's summary
// written again (amended) counts, not the one before it.
bool LastFinishedIn(const char* path, RunSummary* summary) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::string text;
  char block[kWriteBufferSize];
  for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
    text.append(block, n);
  std::fclose(file);
  char amended[kTimeStampSize] = {};
  size_t end = text.size();
  while (end > 0) {
    const size_t start = text.rfind('\n', end - 1);
    const size_t from = start == std::string::npos ? 0 : start + 1;
    std::string line = text.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    RunSummary read;
    if (ParseSummary(line.c_str(), &read) && std::strcmp(read.started, amended) != 0) {
      if (read.outcome == RunOutcome::kFinished) {
        *summary = read;
        return true;
      }
      std::memcpy(amended, read.started, sizeof amended);
    }
    if (start == std::string::npos) break;
    end = start;
  }
  return false;
}

}  // namespace

bool ReadLastFinishedRun(const char* project_path, RunSummary* summary) {
  char project[kPathBufferSize];
  char path[kLogPathSize];
  if (!LogPathOf(project_path, project, path)) return false;
  if (LastFinishedIn(path, summary)) return true;
  char old[kLogPathSize + sizeof kOldLogSuffix];
  std::snprintf(old, sizeof old, "%s%s", path, kOldLogSuffix);
  return LastFinishedIn(old, summary);
}
