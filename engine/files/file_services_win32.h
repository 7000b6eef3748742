// What the Windows file services add to their seam: the recycle's owner for
// the window, and the last step of a replace that keeps the old file, which
// tests drive on its own.
#pragma once

#include <cstdint>

#include "engine/files/file_services.h"

// The window (an HWND) that owns any dialog Recycle might show; nullptr for
// none. Set by the main window as it opens, cleared as it goes.
void SetRecycleOwner(void* window);

// Puts the complete file at temporary in place as destination, the old
// destination file first renamed to keep_old_as (no rename ever replaces
// anything). Returns 0 or the failure's error number; where the second rename
// fails the first is undone, so that the old file is back at destination.
// The temporary file is the caller's to remove on failure.
uint32_t PlaceKeepingOld(const wchar_t* temporary, const wchar_t* destination,
                         const wchar_t* keep_old_as);
