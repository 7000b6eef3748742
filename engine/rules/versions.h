// The versions folder: where a pass keeps the old file it replaces, and an
// entry it removes where no recycle bin or trash takes it, and for how long.
// It sits at the top of a side of a job, hidden, so that no walk copies or
// removes it: <top>/.larkspan-versions/<date folder>/<path below the top>,
// one date folder per pass, named "YYYY-MM-DD_HHMMSS" after the pass's local
// start time, or "YYYY-MM-DD_HHMMSS-<n>" where an earlier pass of the same
// second has that name (engine/version_place.h). To restore a file, copy it
// back from its date folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "engine/files/file_services.h"
#include "engine/rules/worker_context.h"
#include "jobs/job_list.h"

constexpr char kVersionsFolderName[] = ".larkspan-versions";

// A local time (as localtime gives it) as seconds since 1970-01-01 00:00 of
// the same clock, no time zone applied: the scale on which the ages of date
// folders are measured.
int64_t LocalSeconds(const std::tm& local);

// The date folder's name for a local time.
void FormatStamp(const std::tm& local, char (&stamp)[kDateFolderNameSize]);

// The local time that a date folder's name stands for, as LocalSeconds
// counts it. False for any name not of exactly that pattern: digits where
// they belong, a month, day, hour, minute and second in their ranges.
bool ParseStamp(const char* name, int64_t* local_seconds);

// As ParseStamp, for the name of a date folder: a stamp, or a stamp followed
// by "-<n>" (n from 2, no leading zero).
bool ParseDateFolderName(const char* name, int64_t* local_seconds);

// Writes to out the place in the versions folder for path, an entry below
// the top of its side (whose path is path's first top_length bytes):
// <top>/.larkspan-versions/<stamp>/<path below the top>. False when it does
// not fit, or path is the top itself: such an entry cannot be kept.
bool VersionPathFor(const char* path, size_t top_length, const char* stamp,
                    char (&out)[kPathBufferSize]);

// Creates each missing folder on the way to version_path (a result of
// VersionPathFor with the same top_length), not the entry itself: the
// versions folder hidden, the date folder private, each level below it with
// the permission bits of its counterpart below the top. A level that is a
// link, or no folder, fails the call: nothing is ever kept through a link.
// True when every level is there.
bool MakeVersionFolders(FileServices& files, const char* version_path, size_t top_length);

// What a removal does after the recycle bin or trash answered result (not 0):
// with versions kept, the entry is moved aside into the versions folder,
// whatever the trash's failure (a share's trash may fail with an I/O error);
// without, it is deleted for good where there is no trash, as the shell does
// on a share, and otherwise the removal failed.
enum class AfterRecycle { kFailed, kRemoveForGood, kMoveAside };
AfterRecycle JudgeAfterRecycle(int result, uint32_t keep_versions_days);

struct PruneCounts {
  uint32_t removed = 0;  // date folders deleted
  uint32_t failed = 0;   // date folders that could not be deleted whole
};

// Deletes for good each date folder in the versions folder at the top of a
// side that is older than days at now (as LocalSeconds counts). Only real
// folders (no links) whose names are date folder names go; any other entry
// stays, and nothing happens when the versions folder is missing, a link or
// no folder. With 0 days no version is kept: every date folder goes.
PruneCounts PruneVersions(FileServices& files, const char* top, uint32_t days,
                          int64_t now_local_seconds);

// The end of a pass that ran to its end: prunes the versions folders at the
// tops of job's sides that may hold one (its destination; for Sync also its
// source) by the pass's retention, measured from the pass's stamp. Nothing
// with 0 days: no versions are made then, and those kept before stay. A date
// folder that cannot be deleted is named in a line.
void PruneJobVersions(WorkerContext& context, const JobRecord& job);
