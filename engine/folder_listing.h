// The listing loop both walks share. One side's folder is listed (the source
// for the copy walk, the destination for the clean walk); each entry's name
// is appended to both buffers, so that the walk's action on it finds both
// paths in place, and both are cut back after it. The other side's folder is
// held open meanwhile for the entries' questions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/path_buffer.h"
#include "engine/worker_context.h"

// One folder's listing. listed names the folder listed or, when from_folder
// is false, one file, which is its own pattern and which no entry's name
// extends; other names its counterpart on the other side. The two ends are
// where their paths end, kept on return.
struct FolderListing {
  char* listed;
  char* other;
  bool from_folder;
  size_t listed_end;
  size_t other_end;
  void* find = nullptr;
  void* other_folder = nullptr;  // held open for the entries' questions
};

inline FolderListing ListingOf(char* listed, char* other, bool from_folder) {
  return {listed, other, from_folder, std::strlen(listed), std::strlen(other)};
}

enum class ListingResult {
  kListed,      // listed to its end, to a stop, or to an entry that ended it
  kTooLong,     // no room for the listing's pattern: reported as too long
  kNotStarted,  // the listing could not be started: its error says why
};

// What an entry that is not taken gets from a walk's room function.
constexpr size_t kNotTaken = static_cast<size_t>(-1);

// Appends the pattern, starts the listing with its first entry in *entry and
// opens the other side's folder: kListed when started, with both buffers as
// they were.
ListingResult StartListing(WorkerContext& context, FolderListing& listing, FindEntry* entry,
                           uint32_t* error);

// Sends the count to the progress bar when it moved, lets go of the listing
// and of the folder held open, and cuts both buffers back to their ends.
void EndListing(WorkerContext& context, FolderListing& listing);

// Lists the folder of listing. For each entry, room(entry) tells whether the
// walk takes it (kNotTaken: passed by) and how many bytes its paths keep free
// past its name (a folder to be walked keeps room for its own listing). An
// entry whose paths would not fit is skipped as too long. take(entry) acts on
// the entry named in both buffers; false ends the listing. The listing also
// ends after the entry in hand on a stop. On a failure to start, *error
// tells why.
template <typename Room, typename Take>
ListingResult ListFolder(WorkerContext& context, FolderListing& listing, uint32_t* error, Room room,
                         Take take) {
  FindEntry entry;
  const ListingResult started = StartListing(context, listing, &entry, error);
  if (started != ListingResult::kListed) return started;
  char* const listed = listing.listed;
  char* const other = listing.other;
  const size_t s = listing.listed_end;
  const size_t d = listing.other_end;
  do {
    const size_t spare = room(entry);
    if (spare == kNotTaken) continue;
    if (listing.from_folder && !AppendElement(listed, s, entry.name, spare)) {
      ReportTooLong(context, listed, entry.name);
      continue;
    }
    if (!AppendElement(other, d, entry.name, spare)) {
      listed[s] = '\0';
      ReportTooLong(context, other, entry.name);
      continue;
    }
    const bool go_on = take(entry);
    listed[s] = '\0';
    other[d] = '\0';
    if (!go_on) break;
  } while (!context.ShouldStop() && context.files->NextFind(listing.find, &entry));
  EndListing(context, listing);
  return ListingResult::kListed;
}
