// Where a pass keeps an old entry: <top>/.larkspan-versions/<its date
// folder>/<path below the top>. The date folder is the pass's own, made as
// its first old entry there comes: named after the pass's stamp, or, where
// another pass took that name (one started in the same second), the next
// free "<stamp>-2", "<stamp>-3", ... Where this pass already kept an old
// version of the same path (a second job into the same destination, a file
// replaced twice), the later one goes beside it as "<stem> (2)<extension>",
// then " (3)", ...: nothing kept is ever replaced.
#pragma once

#include <cstddef>
#include <string>

#include "engine/rules/worker_context.h"

// The pass's date folder in the versions folder at versions: the one it
// made there earlier, else one made now (the versions folder too, hidden,
// where missing) under the first free name of the pass's stamp; *fresh when
// it was made in the copy walk in hand. False when none can be made.
bool ClaimDateFolder(WorkerContext& context, const std::string& versions, std::string* name,
                     bool* fresh);

// Leaves path as it is where nothing has that name, else makes it the first
// free "<stem> (<n>)<extension>" beside it (the extension from the last dot
// of the last element, none for a name that begins with its only dot). False
// when none is free or fits, or a name cannot be asked about.
bool TakeFreeName(FileServices& files, char (&path)[kPathBufferSize]);

// The place in out for the old entry at path, an entry below the top of its
// side (whose path is path's first top_length bytes), with every folder on
// the way there. False when the old entry cannot be kept.
bool PrepareVersionPlace(WorkerContext& context, const char* path, size_t top_length,
                         char (&out)[kPathBufferSize]);
