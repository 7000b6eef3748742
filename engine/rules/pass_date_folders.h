// The date folders a pass has made its own: one in each versions folder it
// keeps an old entry in, made as the first such entry comes and never shared
// with another pass, and the last folder in one of them found whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PassDateFolder {
  std::string versions;  // the versions folder's path
  std::string name;      // the pass's date folder in it: "<stamp>" or "<stamp>-<n>"
  uint32_t walk = 0;     // the copy walk it was made in
};

struct PassDateFolders {
  std::vector<PassDateFolder> made;
  // Copy walks started in this pass. One walk, with the clean walk after it,
  // keeps each path at most once: a date folder made in the walk in hand
  // holds no earlier version of a path it keeps.
  uint32_t walks = 0;
  // A folder in one of them whose every level was made or checked by this
  // pass: the next old entry kept there needs no check. They are this
  // pass's own, private folders; only a level met afresh is asked about.
  std::string whole;
};
