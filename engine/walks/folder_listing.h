// The listing loop both walks share. One side's folder is listed (the source
// for the copy walk, the destination for the clean walk); each entry's name
// is appended to both buffers, so that the walk's action on it finds both
// paths in place, and both are cut back after it. The other side's folder is
// held open meanwhile for the entries' questions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/rules/entry_rules.h"
#include "engine/rules/exclusions.h"
#include "engine/rules/medium_wait.h"
#include "engine/rules/path_buffer.h"
#include "engine/rules/worker_context.h"

// listed names the folder listed or, when from_folder is false, one file,
// which is its own pattern and which no entry's name extends; other names its
// counterpart on the other side. Each end is where its path ends. The
// destination's side (other for the copy walk, listed for the clean walk) is
// held open from parent, the held destination folder one level up, or by
// its path at the job's top.
struct FolderListing {
  char* listed;
  size_t listed_end;
  char* other;
  size_t other_end;
  bool from_folder;
  bool destination_listed;
  bool top;
  void* parent;
};

inline FolderListing ListingOf(char* listed, char* other, bool from_folder, bool destination_listed,
                               bool top, void* parent) {
  return {listed,      std::strlen(listed), other, std::strlen(other),
          from_folder, destination_listed,  top,   parent};
}

// The folders the listing holds open for its entries: the other side's, for
// the entries' questions, and the destination's, for the changes in it (the
// same folder for the copy walk). Either may be nullptr: the calls then go by
// path.
struct HeldFolders {
  void* other;
  void* destination;
};

// Holds the destination folder of listing open: the job's top by its path,
// following links, a subfolder from its parent's held folder, never through
// a link. A link swapped in for it is reported as a link in the
// destination: false then, and the folder is not listed.
inline bool HoldDestination(WorkerContext& context, const FolderListing& listing, void** held) {
  const char* path = listing.destination_listed ? listing.listed : listing.other;
  if (listing.top) {
    *held = context.files->OpenFolder(path);
    return true;
  }
  const char* parent_end = std::strrchr(path, kPathSeparator);
  const size_t parent_length = parent_end == nullptr ? 0 : static_cast<size_t>(parent_end - path);
  uint32_t error = 0;
  *held = context.files->OpenSubfolder(listing.parent, path, parent_length, &error);
  if (*held != nullptr || error != kErrorFolderSwapped) return true;
  ReportSkipped(context, kLinkInDestination, path);
  return false;
}

// Holds the folders of listing anew after its medium came back: the
// destination's from its parent opened again by path (a subfolder still
// never through a link), the other side's by its path. False when a link
// now stands for the destination folder, reported as for HoldDestination.
inline bool HoldAnew(WorkerContext& context, const FolderListing& listing, HeldFolders* held) {
  if (listing.destination_listed) context.files->CloseFolder(held->other);
  context.files->CloseFolder(held->destination);
  *held = {nullptr, nullptr};
  char* const path = listing.destination_listed ? listing.listed : listing.other;
  char* const parent_end = std::strrchr(path, kPathSeparator);
  FolderListing anew = listing;
  anew.parent = nullptr;
  if (!listing.top && parent_end != nullptr) {
    *parent_end = '\0';
    anew.parent = context.files->OpenFolder(path);
    *parent_end = kPathSeparator;
  }
  const bool still = HoldDestination(context, anew, &held->destination);
  context.files->CloseFolder(anew.parent);
  held->other =
      listing.destination_listed ? context.files->OpenFolder(listing.other) : held->destination;
  return still;
}

enum class ListingResult {
  kListed,      // to its end, to a stop, or to an entry that ended it
  kTooLong,     // no room for the listing's pattern: reported as too long
  kNotStarted,  // the listing could not be started, or failed on the way: *error says why
};

// What room() gives an entry the walk does not take.
constexpr size_t kNotTaken = static_cast<size_t>(-1);

// Lists the folder named in path (a context buffer; it is kept) without
// taking anything, calling taken(entry) for each entry the copy walk takes
// (what the job leaves out aside) until it returns false. False when the folder cannot be listed,
// or the listing fails on the way, *error telling why.
template <typename Taken>
bool ListTaken(WorkerContext& context, char* path, uint32_t* error, Taken taken) {
  const size_t length = std::strlen(path);
  if (!AppendElement(path, length, kAllEntries, 0)) {
    *error = kErrorNameTooLong;
    return false;
  }
  FindEntry entry;
  void* find = context.files->StartFind(path, &entry, error);
  path[length] = '\0';
  if (find == nullptr) return false;
  do {
    if (IsTaken(entry) && !LeftOut(context, path, length, entry) && !taken(entry)) break;
  } while (context.files->NextFind(find, &entry, error));
  context.files->EndFind(find);
  return *error == 0;
}

// Adds the names of the entries the walks take in the folder named in path
// (a context buffer) to names; path is kept. False when it cannot be listed.
inline bool ListTakenNames(WorkerContext& context, char* path, std::vector<std::string>* names) {
  uint32_t error = 0;
  return ListTaken(context, path, &error,
                   [names](const FindEntry& entry) {
                     names->emplace_back(entry.name);
                     return true;
                   }) ||
         error == kErrorFileNotFound;
}

// What ListFolder does before it takes any entry: by default nothing, each
// entry is taken as it is listed.
struct TakeAsListed {};

// Lists the folder of listing. room(entry) tells whether the walk takes the
// entry and how many bytes its paths keep free past its name (a folder to be
// walked keeps room for its own listing); one whose paths would not fit is
// skipped as too long. take(entry, held) acts on the entry named in both
// buffers, held the folders held open for it; false ends the listing, as a
// stop does after the entry in hand. A listing that fails because the medium
// went away waits for it and starts again from its first entry (the entries
// done before find themselves done); once a medium came back, both folders
// are held anew before the next entry, as a handle held across the drop may
// no longer answer. The progress bar is sent the count as the listing ends.
// Both buffers hold on return what they held. Given a whole(entries) step,
// the listing is read whole first and handed to it, with both buffers naming
// their folders, before any entry is taken: a walk that must see every name
// before it acts on one (letter case) gets them without a second listing. A
// destination folder that had entries copied, updated or removed and is no
// longer at its path (renamed away meanwhile, a link or another folder in
// its place) is reported as a link in the destination: the changes went to
// the folder held, not to that path.
template <typename Room, typename Take, typename Whole = TakeAsListed>
ListingResult ListFolder(WorkerContext& context, const FolderListing& listing, uint32_t* error,
                         Room room, Take take, Whole whole = {}) {
  constexpr bool kReadWhole = !std::is_same_v<Whole, TakeAsListed>;
  char* const listed = listing.listed;
  char* const other = listing.other;
  const size_t s = listing.listed_end;
  const size_t d = listing.other_end;
  HeldFolders held{nullptr, nullptr};
  if (!HoldDestination(context, listing, &held.destination)) return ListingResult::kListed;
  if (listing.from_folder && !AppendElement(listed, s, kAllEntries, 0)) {
    context.files->CloseFolder(held.destination);
    ReportTooLong(context, listed, kAllEntries);
    return ListingResult::kTooLong;
  }
  listed[s] = '\0';
  // A medium that comes back from here on has the folders held anew.
  uint32_t returns = context.medium_returns;
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
  if (find == nullptr) {
    context.files->CloseFolder(held.destination);
    return ListingResult::kNotStarted;
  }
  std::vector<FindEntry> entries;
  size_t next = 1;
  // Where asked, reads the rest of the listing and hands it over whole;
  // false when it failed on the way.
  const auto read_whole = [&] {
    if constexpr (kReadWhole) {
      entries.clear();
      next = 1;
      do {
        entries.push_back(entry);
      } while (context.files->NextFind(find, &entry, error));
      if (*error != 0) return false;
      whole(entries);
      entry = entries[0];
    }
    return true;
  };
  // The next entry: from the listing, or from what was read of it.
  const auto next_entry = [&] {
    if constexpr (kReadWhole) {
      *error = 0;
      if (next == entries.size()) return false;
      entry = entries[next++];
      return true;
    } else {
      return context.files->NextFind(find, &entry, error);
    }
  };
  held.other = listing.destination_listed ? context.files->OpenFolder(other) : held.destination;
  const auto changes = [&context] {
    return context.counts.copied + context.counts.updated + context.counts.removed;
  };
  const auto changes_before = changes();

  ListingResult result = ListingResult::kListed;
  for (int restarts = 0;; ++restarts) {
    bool ended = false;  // by the entry in hand
    if (read_whole()) {
      do {
        if (context.medium_returns != returns) {
          // A folder held open across a drop may no longer answer, nor be
          // the same folder to the server that came back: held anew rather
          // than taken for one swapped.
          returns = context.medium_returns;
          if (!HoldAnew(context, listing, &held)) {
            ended = true;
            break;
          }
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
        const bool go_on = take(entry, held);
        listed[s] = '\0';
        other[d] = '\0';
        ended = !go_on;
      } while (!ended && !context.ShouldStop() && next_entry());
    }
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
  const char* destination = listing.destination_listed ? listed : other;
  // A medium that stayed away cannot say where the folder is: the pass ends
  // on its loss instead.
  if (!context.medium_failed && changes() != changes_before &&
      !context.files->FolderStillAt(held.destination, destination)) {
    ReportSkipped(context, kLinkInDestination, destination);
  }
  if (listing.destination_listed) context.files->CloseFolder(held.other);
  context.files->CloseFolder(held.destination);
  if (find != nullptr) context.files->EndFind(find);
  return result;
}
