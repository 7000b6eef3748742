#include "engine/folder_listing.h"

ListingResult StartListing(WorkerContext& context, FolderListing& listing, FindEntry* entry,
                           uint32_t* error) {
  if (listing.from_folder && !AppendElement(listing.listed, listing.listed_end, kAllEntries, 0)) {
    ReportTooLong(context, listing.listed, kAllEntries);
    return ListingResult::kTooLong;
  }
  listing.find = context.files->StartFind(listing.listed, entry, error);
  listing.listed[listing.listed_end] = '\0';
  if (listing.find == nullptr) return ListingResult::kNotStarted;
  listing.other_folder = context.files->OpenFolder(listing.other);
  return ListingResult::kListed;
}

void EndListing(WorkerContext& context, FolderListing& listing) {
  context.UpdateProgress();
  context.files->CloseFolder(listing.other_folder);
  context.files->EndFind(listing.find);
  listing.listed[listing.listed_end] = '\0';
  listing.other[listing.other_end] = '\0';
}
