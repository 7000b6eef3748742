// What a volume does with names and times, asked of the volume itself: the
// Windows backend's answers to IgnoresCase and TimesKept.
#pragma once

#include "engine/files/file_services.h"

bool VolumeIgnoresCase(const char* folder, bool may_probe);

// A local volume's file system name tells, and its driver keeps the time
// a copy is given; a share names the server's choice, which need not be
// the disk's (a NAS may say "NTFS" for a FAT disk), so a copy tells there.
bool VolumeTimesKept(const char* path, TimeKeeping* kept);
