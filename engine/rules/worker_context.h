// What the walks work with: their path and message buffers, the MiB they
// count, the file services, the host they report to, and the stop request
// and failure flags they share with the pass and run control.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/files/file_services.h"
#include "engine/rules/host.h"
#include "engine/rules/mass_change.h"
#include "engine/rules/pass_date_folders.h"
#include "engine/rules/path_buffer.h"

// A versions date folder's name, "YYYY-MM-DD_HHMMSS", and its NUL.
constexpr size_t kDateFolderNameSize = 18;

// The prefixes of the lines whose path a log may shorten.
constexpr char kCopyingPrefix[] = "Copying ";
constexpr char kUpdatingPrefix[] = "Updating ";
constexpr char kNewerDestPrefix[] = "Newer Dest ";
// A dry run's line after an update or removal: where the old entry would go.
constexpr char kOldVersionPrefix[] = "Old version to ";
// A destination folder the source lacks, kept for what the job leaves out in it.
constexpr char kKeptForLeftOutPrefix[] = "Kept, holds what is left out: ";

// What a pass did with entries, each counted where the walks log it.
struct EntryCounts {
  uint32_t copied = 0;   // a "Copying " line whose copy is in place
  uint32_t updated = 0;  // the same for "Updating "
  uint32_t removed = 0;  // "Removed "
  // Left as they were, with a line that fails the pass: "Skipped, ...",
  // "Conflict, both kept", "Kept, source not readable", a subfolder that
  // could not be listed, "Delete failed on ", "Kept, could not delete: ".
  uint32_t skipped = 0;
  // Jobs the mass-change guard stopped: "Error: Mirror would remove ...".
  uint32_t mass_refused = 0;
  // Source entries the job's patterns or a volume's system folders left out
  // (a folder counts once, whatever it holds).
  uint32_t left_out = 0;
};

struct WorkerContext {
  uint32_t done_mib = 0;    // MiB counted so far in this pass
  uint32_t posted_mib = 0;  // the count last sent to the progress bar
  char message[kPathBufferSize] = {};
  char source[kPathBufferSize] = {};
  char destination[kPathBufferSize] = {};
  EntryCounts counts;  // this pass's, kept by the walks
  // Where the reports go; set by run control as it starts a worker.
  std::atomic<Host*> host{nullptr};
  // Where the log lines go as well, whole (the run log, once it is on).
  std::atomic<LogSink*> log_sink{nullptr};
  // Asks the walks to end after the entry in hand: set by Stop, closing and
  // the program's exit; cleared as a pass ends.
  std::atomic<bool> stop_request{false};
  // Set when the destination or the medium failed (a copy that aborts, copies
  // not flushed, the source lost mid-clean): the walks and the pass end as on
  // a stop request. Cleared as a pass starts.
  std::atomic<bool> medium_failed{false};
  // Set when something of the pass failed (a path error, a copy failure, an
  // entry skipped or kept for safety); cleared as a pass starts.
  std::atomic<bool> pass_failed{false};

  // The file services the walks and the watcher use.
  FileServices* files = &DefaultFileServices();
  // The files only note changes (a dry run): the walks also say where each
  // old version would go.
  bool dry_run = false;

  // Set by run control as a pass starts: the versions date folder's name
  // (the pass's local start time), the days old versions are kept (0: none
  // kept, the old file is replaced or removed as it is), and the choice for
  // a mass change.
  char version_stamp[kDateFolderNameSize] = {};
  uint32_t keep_versions_days = 0;
  // The date folders this pass made for its old versions; cleared as it starts.
  PassDateFolders date_folders;
  MassChange mass_change = MassChange::kRefuse;
  // The running job's updates, for the guard; cleared as each job starts.
  UpdateGuard updates;

  // The job whose walks run (its top folders are what a wait for the medium
  // asks after), and whether both answered as it started: only a medium
  // that was there can go away and come back. Set by RunJob; nullptr
  // outside a job.
  const struct JobRecord* job = nullptr;
  bool tops_answered = false;
  // What the job leaves out, and where its tops end in the source and
  // destination buffers (Sync's walk back has them swapped). Set by RunJob;
  // nullptr outside a job, which then leaves nothing out.
  const struct Exclusions* exclusions = nullptr;
  size_t source_top = 0;
  size_t destination_top = 0;
  // How long a pass waits for a medium that stopped answering before it
  // gives up on it; set by run control. 0: no wait.
  uint32_t medium_wait_seconds = 0;
  // How often a medium came back after a wait in this pass, and that count
  // as the job's walks last started from the top: while the two differ, the
  // walks have lost their medium since, and nothing is removed.
  uint32_t medium_returns = 0;
  uint32_t walks_start_returns = 0;
  // Copies of the job in hand were found not to keep their times (learned
  // as they are placed; cleared as a job starts).
  bool times_not_kept = false;
  // When the pass started (FILETIME); set by run control. A temporary copy
  // of ours older than that is a stray of a run that ended.
  int64_t pass_started = INT64_MAX;

  // True when the walks are to end after the entry in hand.
  bool ShouldStop() const { return stop_request || medium_failed; }
  // Reporting to the host (no-ops while there is none); log lines also go
  // to the log sink.
  void AppendLog(const char* text);
  // A line whose path part the log may shorten to its width.
  void AppendPathLine(const char* prefix, const char* path);
  void SetProgressRange(uint32_t range);
  void SetProgress(uint32_t position);
  // Sends done_mib to the progress bar when it moved since the last time.
  void UpdateProgress();
  void HighlightJob(int row);
  // Asks the person at the host whether a mass change goes ahead, and waits
  // for the answer; no host answers no.
  bool AskMassChange(const char* question);
};

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

// Whether a mass change goes ahead, by the pass's choice: kAllow lets it
// through, kRefuse never does, kAsk asks the host (and waits for the
// answer). The question and the refusal's line are made of what, the
// counts' sentence ("Mirror would remove 4,812 of 5,000 files in <path>").
// A refusal logs "Error: <what> - <refused>", fails the pass and is counted.
bool LetMassChangeThrough(WorkerContext& context, const char* what, const char* refused);

// Whole MiB of a file, from the low 32 bits of its size.
inline uint32_t SizeInMiB(uint32_t size_low) {
  return size_low >> 20;
}
