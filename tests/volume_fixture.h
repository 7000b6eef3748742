// Real volumes for the tests, started by tests/volumes/volume.sh: an image
// mounted through FUSE, or a Samba share on 127.0.0.1 through smbnetfs.
// Where this machine cannot mount one, the test is skipped with the reason.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/walk_fixture.h"

enum class VolumeKind { kFat32, kExfat, kNtfs, kNtfsWindowsNames, kShare };

// The kind as the script names it ("ntfs-windows").
const char* VolumeKindName(VolumeKind kind);

// One volume under a scratch folder: an image there (kept, so that it mounts
// again as it was), or a server sharing a folder there and its client.
class ScratchVolume {
 public:
  ScratchVolume() = default;
  ~ScratchVolume() { Unmount(); }
  ScratchVolume(const ScratchVolume&) = delete;
  ScratchVolume& operator=(const ScratchVolume&) = delete;

  // False with *why set when it cannot.
  bool Mount(VolumeKind kind, const fs::path& scratch, std::string* why);
  // Unmounts, and ends what serves it if it is still there. True when gone.
  bool Unmount();
  // A share's server goes away and comes back; the client stays mounted.
  bool StopServer();
  bool StartServer();
  // The volume's folder (a share's through the client), and what a share serves.
  const fs::path& path() const { return path_; }
  fs::path served() const { return scratch_ / "share"; }

 private:
  VolumeKind kind_ = VolumeKind::kFat32;
  fs::path scratch_;
  fs::path path_;
  pid_t pid_ = 0;  // the driver, or the share's client
};

// A walk whose destination folder lies on a real volume: dst is <volume>/backup.
class VolumeWalkTest : public WalkTest {
 protected:
  // Mounts a fresh volume of kind under scratch and moves dst onto it; skips
  // the test with the reason when it cannot (call from SetUp, or return when
  // IsSkipped()).
  void UseVolume(VolumeKind kind);

  const fs::path scratch = temp.path() / "volume";
  ScratchVolume volume;
};

// A fixture per kind, for tests of one kind.
template <VolumeKind kKind>
class OnVolume : public VolumeWalkTest {
 protected:
  void SetUp() override { UseVolume(kKind); }
};
