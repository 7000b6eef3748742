// Real volumes for the tests: an image file of a kind mounted through FUSE,
// or a Samba share on 127.0.0.1 mounted through smbnetfs. tests/volumes/
// volume.sh starts each in a process of its own; they are stopped by those
// process ids. Where this machine cannot (no /dev/fuse, a tool missing, a
// mount refused) the test is skipped with the reason.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/walk_fixture.h"

enum class VolumeKind { kFat32, kExfat, kNtfs, kNtfsWindowsNames };

// The kind as the script names it: "fat32", "exfat", "ntfs", "ntfs-windows".
const char* VolumeKindName(VolumeKind kind);

// One image file mounted on a folder.
class ScratchVolume {
 public:
  ScratchVolume() = default;
  ~ScratchVolume() { Unmount(); }
  ScratchVolume(const ScratchVolume&) = delete;
  ScratchVolume& operator=(const ScratchVolume&) = delete;

  // Makes image (unless it exists) and mounts it on folder. False with *why
  // set when it cannot.
  bool Mount(VolumeKind kind, const fs::path& image, const fs::path& folder, std::string* why);
  // Unmounts, and ends the driver if it is still there. True when both are gone.
  bool Unmount();
  // Ends the driver at once: the volume goes away under whoever uses it. Its
  // mount answers ENOTCONN until Unmount.
  void Kill();
  pid_t pid() const { return pid_; }

 private:
  fs::path folder_;
  pid_t pid_ = 0;
};

// A Samba server sharing a scratch folder, mounted through smbnetfs.
class ScratchShare {
 public:
  ScratchShare() = default;
  ~ScratchShare() { Stop(); }
  ScratchShare(const ScratchShare&) = delete;
  ScratchShare& operator=(const ScratchShare&) = delete;

  // Starts both under scratch (on a free port). False with *why set.
  bool Start(const fs::path& scratch, std::string* why);
  // The server goes away and comes back; the client stays mounted.
  bool StopServer();
  bool StartServer();
  void Stop();
  // The share's folder through the client, and the folder it shares.
  const fs::path& path() const { return path_; }
  fs::path served() const { return scratch_ / "share"; }

 private:
  fs::path scratch_;
  fs::path path_;
  pid_t server_ = 0;
  pid_t client_ = 0;
};

// A walk whose destination folder lies on a real volume: dst is <volume>/backup.
class VolumeWalkTest : public WalkTest {
 protected:
  // Mounts a fresh volume of kind and moves dst onto it; skips the test with
  // the reason when it cannot (call from SetUp, or return when IsSkipped()).
  void UseVolume(VolumeKind kind);
  // The same on a fresh share.
  void UseShare();

  ScratchVolume volume;
  ScratchShare share;
  fs::path volume_root;
};

// A fixture per kind, for tests of one kind.
template <VolumeKind kKind>
class OnVolume : public VolumeWalkTest {
 protected:
  void SetUp() override { UseVolume(kKind); }
};
