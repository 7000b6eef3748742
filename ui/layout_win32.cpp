// Places the job list, the log and the progress bar, and runs the splitter
// drag between the job list and the log. The buttons and boxes keep their
// template positions. Every size is taken at the window's DPI.
#include <cstdint>

#include "ui/main_window.h"

bool gDragging = false;

namespace {

int Separator() {
  return static_cast<int>(gWindowSettings.separator);
}

void Place(HWND control, const ControlBox& box, UINT flags) {
  SetWindowPos(control, HWND_TOP, box.x, box.y, box.width, box.height, flags | SWP_NOACTIVATE);
}

}  // namespace

void LayOut(HWND window) {
  RECT frame;
  GetWindowRect(window, &frame);
  // A minimized window's rectangle lies off screen: storing it would reopen
  // the window where nobody can see it.
  if (!IsIconic(window)) {
    gWindowSettings.placement[0] = frame.left;
    gWindowSettings.placement[1] = frame.top;
    gWindowSettings.placement[2] = frame.right - frame.left;
    gWindowSettings.placement[3] = frame.bottom - frame.top;
  }
  RECT list;
  GetWindowRect(gJobListView, &list);
  const ControlPlaces places =
      PlaceControls(frame.right - list.left, frame.bottom - list.top, Separator(),
                    FrameMetricsAtDpi(gWindowDpi), gWindowDpi);
  Place(gJobListView, places.list, SWP_NOMOVE);
  Place(GetDlgItem(window, IDC_LOG), places.log, 0);
  Place(GetDlgItem(window, IDC_PROGRESS), places.progress, 0);
}

void OnMouseMove(HWND window, int x, int y) {
  // Client coordinates left of or above the window arrive as negative 16-bit values.
  x = static_cast<int16_t>(x);
  y = static_cast<int16_t>(y);
  if (OnSplitterBand(x, y, Separator(), gWindowSettings.placement[2], gWindowDpi)) {
    SetCursor(gSizeCursor);
  }
  if (!gDragging) return;
  RECT client;
  GetClientRect(window, &client);
  if (y < client.top) {
    y = client.top;
  } else if (y > client.bottom) {
    y = client.bottom;
  }
  gWindowSettings.separator = static_cast<uint32_t>(y - MetricAtDpi(SM_CYCAPTION, gWindowDpi));
  LayOut(window);
}

void OnLButtonDown(HWND window, int x, int y) {
  x = static_cast<uint16_t>(x);
  y = static_cast<uint16_t>(y);
  if (StartsSplitterDrag(x, y, gWindowSettings.placement[2], gWindowSettings.placement[3],
                         gWindowDpi)) {
    gDragging = true;
    SetCapture(window);
  }
}

void OnLButtonUp(HWND) {
  if (!gDragging) return;
  gDragging = false;
  ReleaseCapture();
}
