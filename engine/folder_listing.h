// The listing loop both walks share. One side's folder is listed (the source
// for the copy walk, the destination for the clean walk); each entry's name
// is appended to both buffers, so that the walk's action on it finds both
// paths in place, and both are cut back after it. The other side's folder is
// held open meanwhile for the entries' questions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/medium_wait.h"
#include "engine/path_buffer.h"
#include "engine/worker_context.h"

// listed names the folder listed or, when from_folder is false, one file,
// which is its own pattern and which no entry's name extends; other names its
// counterpart on the other side. Each end is where its path ends.
struct FolderListing {
  char* listed;
  size_t listed_end;
  char* other;
  size_t other_end;
  bool from_folder;
};

inline FolderListing ListingOf(char* listed, char* other, bool from_folder) {
  return {listed, std::strlen(listed), other, std::strlen(other), from_folder};
}

enum class ListingResult {
  kListed,      // to its end, to a stop, or to an entry that ended it
  kTooLong,     // no room for the listing's pattern: reported as too long
  kNotStarted,  // the listing could not be started, or failed on the way: *error says why
};

// What room() gives an entry the walk does not take.
constexpr size_t kNotTaken = static_cast<size_t>(-1);

// Lists the folder of listing. room(entry) tells whether the walk takes the
// entry and how many bytes its paths keep free past its name (a folder to be
// walked keeps room for its own listing); one whose paths would not fit is
// skipped as too long. take(entry, other_folder) acts on the entry named in
// both buffers; false ends the listing, as a stop does after the entry in
// hand. A listing that fails because the medium went away waits for it and
// starts again from its first entry (the entries done before find
// themselves done). The progress bar is sent the count as the listing ends.
// Both buffers hold on return what they held.
template <typename Room, typename Take>
ListingResult ListFolder(WorkerContext& context, const FolderListing& listing, uint32_t* error,
                         Room room, Take take) {
  char* const listed = listing.listed;
  char* const other = listing.other;
  const size_t s = listing.listed_end;
  const size_t d = listing.other_end;
  if (listing.from_folder && !AppendElement(listed, s, kAllEntries, 0)) {
    ReportTooLong(context, listed, kAllEntries);
    return ListingResult::kTooLong;
  }
  listed[s] = '\0';
  FindEntry entry;
  // Starts (again) from the first entry; one that fails for a medium that
  // went away waits for it.
  const auto start = [&]() -> void* {
    for (int tries = 0;; ++tries) {
      if (listing.from_folder) AppendElement(listed, s, kAllEntries, 0);
      void* find = context.files->StartFind(listed, &entry, error);
      listed[s] = '\0';
      if (find != nullptr) return find;
      if (tries == kMediumRetries || AfterFailure(context, *error) != MediumResult::kBack) {
        return nullptr;
      }
    }
  };
  void* find = start();
  if (find == nullptr) return ListingResult::kNotStarted;
  void* other_folder = context.files->OpenFolder(other);
  uint32_t returns = context.medium_returns;

  ListingResult result = ListingResult::kListed;
  for (int restarts = 0;; ++restarts) {
    bool ended = false;  // by the entry in hand
    do {
      if (context.medium_returns != returns) {
        // A folder held open across a drop may no longer answer.
        context.files->CloseFolder(other_folder);
        other_folder = context.files->OpenFolder(other);
        returns = context.medium_returns;
      }
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
      const bool go_on = take(entry, other_folder);
      listed[s] = '\0';
      other[d] = '\0';
      ended = !go_on;
    } while (!ended && !context.ShouldStop() && context.files->NextFind(find, &entry, error));
    if (ended || context.ShouldStop() || *error == 0) break;
    // Failed on the way: once the medium is back, from the first entry again.
    context.files->EndFind(find);
    find = restarts < kMediumRetries && AfterFailure(context, *error) == MediumResult::kBack
               ? start()
               : nullptr;
    if (find == nullptr) {
      result = ListingResult::kNotStarted;
      break;
    }
  }

  context.UpdateProgress();
  context.files->CloseFolder(other_folder);
  if (find != nullptr) context.files->EndFind(find);
  return result;
}
