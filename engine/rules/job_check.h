// The check a job passes before its walks run: paths that cannot be what the
// user meant, and trees that lie inside each other.
#pragma once

#include "engine/rules/worker_context.h"
#include "jobs/job_list.h"

// What is wrong with the job's paths as text, as a short phrase ("empty
// source", "comma or control character in destination"); nullptr when
// nothing is. An empty path would name the root of the file system; a comma
// or a control character cannot come from the project file as the user
// meant it (its fields are split at commas).
const char* JobPathFault(const JobRecord& job);

// True when the folder at path is the folder (volume, id) or lies inside it,
// whatever links, "..", relative steps or letter case the path takes.
bool FolderWithin(FileServices& files, const char* path, uint64_t volume, uint64_t id);

// Decides whether job, shown in row row (counting from 0), may run: its
// paths must be sound and neither tree may lie inside the other, whatever
// links, "..", relative steps or letter case the paths take on the way. One
// folder for both is allowed; a destination that does not exist yet holds
// nothing. A refused job is logged as "Error: Job <row + 1> not run -
// <reason>" and marks the pass as failed.
bool CheckJob(WorkerContext& context, const JobRecord& job, int row);

// Whether a job's two tops are two trees: a hidden folder is made in the
// destination's top (the first destination_length bytes of its buffer) and
// looked for in the source's (its first source_length bytes). One tree named
// twice, or the source seen through a share or another mount, shows it;
// where the folder cannot be made nothing is known. Only two trees may give
// a Move's sources up for copies found equal: in one tree the "copy" is the
// source itself.
enum class TopsVerdict { kApart, kOneTree, kUnknown };
TopsVerdict AskTopsApart(WorkerContext& context, size_t source_length, size_t destination_length);
