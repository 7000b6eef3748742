// Where the layout puts the job list, the log and the progress bar, and where
// the splitter answers the mouse, as pure functions of the window's size and
// DPI. The offsets are kBaseDpi pixels and grow with the DPI; the frame and
// caption sizes come from the system at the window's DPI.
#pragma once

#include "ui/window_settings.h"

struct ControlBox {
  int x, y, width, height;  // client coordinates of the main window
};

// The system's sizes at the window's DPI: SM_CXDLGFRAME, SM_CYDLGFRAME, SM_CYCAPTION.
struct FrameMetrics {
  int frame_x, frame_y, caption;
};

struct ControlPlaces {
  ControlBox list;  // only its size is applied: the job list keeps its place
  ControlBox log;
  ControlBox progress;
};

// width and height: from the job list's top-left corner to the window's
// bottom-right one; separator: the job list's height at the window's DPI.
ControlPlaces PlaceControls(int width, int height, int separator, const FrameMetrics& frame,
                            unsigned dpi);

// Whether a mouse at client (x, y) lies on the band below the job list that
// shows the sizing cursor, in a window window_width wide.
bool OnSplitterBand(int x, int y, int separator, int window_width, unsigned dpi);
// Whether a left-button press at client (x, y) starts a drag of the boundary
// in a window window_width × window_height.
bool StartsSplitterDrag(int x, int y, int window_width, int window_height, unsigned dpi);
