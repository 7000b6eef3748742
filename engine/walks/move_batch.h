// Move's deletions. A source file is deleted only once its copy is durable
// (flushed to storage, so a power loss keeps it) and the source is still as
// it was listed: a file written to meanwhile is kept for the next run.
// Copies are flushed in batches, one flush for many files.
#pragma once

#include <cstddef>
#include <cstdint>

struct FindEntry;
struct WorkerContext;

constexpr size_t kMoveBatchSize = 32 * 1024;

// The copies waiting to be flushed and their sources waiting to be deleted,
// in the same order. copies: each copy's path, NUL-terminated, one after the
// other (the list FileServices::FlushCopies takes once an empty path ends
// it). sources: each source's size and time as listed, then its path.
// Each source is deleted in its folder opened from the job's source top
// (its first top_length bytes) without following a link on the way, so that
// a folder swapped for a link since the copy leads nowhere.
struct MoveBatch {
  char copies[kMoveBatchSize];
  char sources[kMoveBatchSize];
  size_t copies_used = 0;
  size_t sources_used = 0;
  size_t top_length = 0;
};

// Notes in batch the file listed as entry, copied from the context's source
// path to its destination path (or found there equal), for deletion. A full
// batch is settled first.
void QueueMove(WorkerContext& context, MoveBatch& batch, const FindEntry& entry);

// Flushes the noted copies, then deletes each source that is as it was
// listed and logs "Kept, changed while copied: <path>" for each that is not.
// A source that cannot be deleted, or not asked about, or whose folder is
// no longer reached without a link, is named in "Kept, could not delete:
// <path>", counted as skipped and fails the pass.
// When the copies cannot be flushed no source is deleted: one error line,
// and the pass fails and stops (the medium failed).
void SettleMoves(WorkerContext& context, MoveBatch& batch);
