// Places the job list, the log and the progress bar, and runs the splitter
// drag between the job list and the log. The buttons and boxes keep their
// template positions.
#include <cstdint>

#include "ui/main_window.h"

bool gDragging = false;

namespace {

// Offsets in pixels from the frame, the caption and the separator.
constexpr int kSplitterBandTop = 20;
constexpr int kSplitterBandBottom = 30;
constexpr int kSideMargin = 4;
constexpr int kDragTopLimit = 40;
constexpr int kDragBottomMargin = 5;
constexpr int kProgressHeight = 16;

int Separator() {
  return static_cast<int>(gWindowSettings.separator);
}

void Place(HWND control, int x, int y, int width, int height, UINT flags) {
  SetWindowPos(control, HWND_TOP, x, y, width, height, flags | SWP_NOACTIVATE);
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
  const int width = frame.right - list.left;
  const int height = frame.bottom - list.top;
  const int fx = GetSystemMetrics(SM_CXDLGFRAME);
  const int fy = GetSystemMetrics(SM_CYDLGFRAME);
  const int cap = GetSystemMetrics(SM_CYCAPTION);
  const int separator = Separator();

  Place(gJobListView, 0, 0, width - 2 * fx - 2, separator, SWP_NOMOVE);
  Place(GetDlgItem(window, IDC_LOG), 0, cap + separator + 10, width - 2 * fx - 2,
        height - separator - fy - 25, 0);
  Place(GetDlgItem(window, IDC_PROGRESS), 1, height + 4, width - 2 * fx - 4, kProgressHeight, 0);
}

void OnMouseMove(HWND window, int x, int y) {
  // Client coordinates left of or above the window arrive as negative 16-bit values.
  x = static_cast<int16_t>(x);
  y = static_cast<int16_t>(y);
  const int separator = Separator();
  if (x > kSideMargin && x < gWindowSettings.placement[2] - kSideMargin &&
      y >= separator + kSplitterBandTop && y <= separator + kSplitterBandBottom) {
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
  gWindowSettings.separator = static_cast<uint32_t>(y - GetSystemMetrics(SM_CYCAPTION));
  LayOut(window);
}

void OnLButtonDown(HWND window, int x, int y) {
  x = static_cast<uint16_t>(x);
  y = static_cast<uint16_t>(y);
  if (x > kSideMargin && x < gWindowSettings.placement[2] - kSideMargin && y > kDragTopLimit &&
      y <= gWindowSettings.placement[3] - kDragBottomMargin) {
    gDragging = true;
    SetCapture(window);
  }
}

void OnLButtonUp(HWND) {
  if (!gDragging) return;
  gDragging = false;
  ReleaseCapture();
}
