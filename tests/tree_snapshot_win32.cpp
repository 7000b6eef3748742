#include "tests/tree_snapshot.h"

// Wine's recycle deletes for good: nothing recycled can be found again, so
// the scenarios that may remove nothing check source and destination alone.
std::vector<fs::path> TrashFolders() {
  return {};
}

void EmptyTrash() {}
