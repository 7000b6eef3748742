#include "tests/scratch_trash.h"
#include "tests/tree_snapshot.h"

std::vector<fs::path> TrashFolders() {
  return {ScratchDataHome() / "Trash"};
}

void EmptyTrash() {
  std::error_code ignored;
  fs::remove_all(ScratchDataHome() / "Trash", ignored);
}
