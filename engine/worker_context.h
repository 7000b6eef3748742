// The meeting point of the window thread and the two workers: path buffers,
// progress counters, thread slots and request flags, the reporting to the
// window, and the two tree walks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/file_services.h"
#include "engine/host.h"
#include "engine/move_batch.h"
#include "jobs/job_list.h"

constexpr size_t kPathBufferSize = 512;

// Log texts shared by the walks and the pass.
extern const char kCopyingPrefix[];    // "Copying "
extern const char kUpdatingPrefix[];   // "Updating "
extern const char kNewerDestPrefix[];  // "Newer Dest "

using ThreadHandle = void*;

// A folder on the copy walk's chain, from the job's top folder down to the
// folder being listed: where its path ends in the source buffer and, once a
// folder link made it worth asking, which folder it is.
struct WalkedFolder {
  size_t length;
  bool asked;
  bool known;
  uint64_t volume;
  uint64_t id;
};
// Every level adds at least a separator and one character to the source path.
constexpr size_t kMaxWalkDepth = kPathBufferSize / 2;

struct WorkerContext {
  // MiB counted by the previous pass: the next pass's progress range. The pass
  // writes it as it ends while the window may be saving it.
  std::atomic<uint32_t> total{0};
  uint32_t done = 0;    // MiB counted so far in this pass
  uint32_t posted = 0;  // the value last sent to the progress bar
  char message[kPathBufferSize] = {};
  char source[kPathBufferSize] = {};
  char destination[kPathBufferSize] = {};
  char watch_source[kPathBufferSize] = {};
  char watch_destination[kPathBufferSize] = {};
  std::atomic<Host*> window{nullptr};
  std::atomic<ThreadHandle> pass_slot{nullptr};
  std::atomic<ThreadHandle> watcher_slot{nullptr};
  std::atomic<bool> stop_request{false};
  std::atomic<bool> move{false};
  // The mode of the job in hand, and whether its walk goes from the job's
  // destination back to its source (Sync's second walk). Set by the pass.
  uint16_t mode = kModeCopy;
  bool reverse = false;
  std::atomic<bool> watcher_stop_request{false};
  std::atomic<bool> exit_when_done{false};

  // The file services the walks and the watcher use.
  FileServices* files = &DefaultFileServices();
  // The jobs of the running pass: a copy taken as it starts, so that edits in
  // the window never reach a pass half-way.
  std::vector<JobRecord> pass_jobs;
  // Set when something of the pass failed (a path error, a copy failure, an
  // entry skipped or kept for safety); cleared as a pass starts.
  std::atomic<bool> pass_failed{false};
  // The copy walk's chain of folders, for telling a link loop.
  WalkedFolder walked[kMaxWalkDepth] = {};
  size_t walked_depth = 0;
  // Move's copies waiting to be flushed before their sources go.
  MoveBatch moves;

  // Reporting to the window (no-ops while window is null).
  void AppendLog(const char* text);
  // Composes prefix + path in message, the path part shortened to the log's
  // width w (client width - 10) as w + w/5 - width(prefix), and returns it.
  const char* CompactForLog(const char* prefix, const char* path);
  void SetProgressRange(uint32_t range);
  void SetProgress(uint32_t position);
  // Sends done to the progress bar when it moved since the last time.
  void UpdateProgress();
  void HighlightJob(int row);

  // Brings the destination tree in destination up to date with the source in
  // source (a folder or one file). False only when the source cannot be
  // listed. A failure of one source entry skips it with a line; a failure of
  // the destination or the medium sets stop_request instead. Nothing is
  // written through a link in the destination; a folder link in the source
  // that leads back to a folder being walked is skipped and logged. With the
  // move flag, each copied source file inside the source tree itself is
  // deleted once its copy is durable. Both buffers hold on return what they
  // held on entry.
  bool CopyWalk();
  // Removes from the destination tree what the source lacks (to the recycle
  // bin), and reports destination files newer than their source. False when
  // the destination cannot be listed, or when the source is gone (neither a
  // folder nor a file): then nothing is removed. A source folder that holds
  // nothing the walks take, beside a destination that does, removes nothing
  // either (an unmounted share's empty mount point); the pass fails. Both
  // buffers are kept.
  bool MirrorClean();
};

// Whole MiB of a file, from the low 32 bits of its size.
inline uint32_t SizeInMiB(uint32_t size_low) {
  return size_low >> 20;
}
