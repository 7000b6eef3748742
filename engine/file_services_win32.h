// What the Windows file services add to their seam, for the window only.
#pragma once

#include "engine/file_services.h"

// The window (an HWND) that owns any dialog Recycle might show; nullptr for
// none. Set by the main window as it opens, cleared as it goes.
void SetRecycleOwner(void* window);
