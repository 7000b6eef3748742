// The layout of the job list, log and progress bar, and the splitter drag,
// driven by the window's own size and mouse messages.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "tests/ui_test_window.h"

namespace {

// A control's rectangle in the main window's client coordinates.
RECT ClientRectOf(HWND window, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(/*hWndFrom=*/nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

struct Controls {
  RECT list, log, progress;
};

LPARAM Point(int x, int y) {
  return MAKELPARAM(x, y);
}

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    window_ = OpenMainWindow(dir_.Join("layout.lpj"));
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override { CloseMainWindow(window_); }

  Controls Place() {
    return {ClientRectOf(window_, gJobListView),
            ClientRectOf(window_, GetDlgItem(window_, IDC_LOG)),
            ClientRectOf(window_, GetDlgItem(window_, IDC_PROGRESS))};
  }
  void Resize(int width, int height) {
    SetWindowPos(window_, /*hWndInsertAfter=*/nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  int Separator() { return static_cast<int>(gWindowSettings.separator); }

  TempDir dir_;
  HWND window_ = nullptr;
};

int Width(const RECT& r) {
  return r.right - r.left;
}
int Height(const RECT& r) {
  return r.bottom - r.top;
}

TEST_F(LayoutTest, PlacesTheControlsFromTheFrameAndTheSeparator) {
  const int fx = GetSystemMetrics(SM_CXDLGFRAME);
  const int fy = GetSystemMetrics(SM_CYDLGFRAME);
  const int cap = GetSystemMetrics(SM_CYCAPTION);
  RECT frame, list;
  GetWindowRect(window_, &frame);
  GetWindowRect(gJobListView, &list);
  const int w = frame.right - list.left;
  const int h = frame.bottom - list.top;
  const Controls c = Place();
  EXPECT_EQ(Width(c.list), w - 2 * fx - 2);
  EXPECT_EQ(Height(c.list), 100);
  EXPECT_EQ(c.log.left, 0);
  EXPECT_EQ(c.log.top, cap + 100 + 10);
  EXPECT_EQ(Width(c.log), w - 2 * fx - 2);
  EXPECT_EQ(Height(c.log), h - 100 - fy - 25);
  EXPECT_EQ(c.progress.left, 1);
  EXPECT_EQ(c.progress.top, h + 4);
  EXPECT_EQ(Width(c.progress), w - 2 * fx - 4);
  EXPECT_EQ(Height(c.progress), 16);
  const int32_t expected[4] = {frame.left, frame.top, frame.right - frame.left,
                               frame.bottom - frame.top};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(gWindowSettings.placement[i], expected[i]) << i;

  // Where they overlap, the progress bar lies above the log, the log above the job list.
  HWND top = GetWindow(window_, GW_CHILD);
  EXPECT_EQ(top, GetDlgItem(window_, IDC_PROGRESS));
  EXPECT_EQ(GetWindow(top, GW_HWNDNEXT), GetDlgItem(window_, IDC_LOG));
  EXPECT_EQ(GetWindow(GetWindow(top, GW_HWNDNEXT), GW_HWNDNEXT), gJobListView);
}

TEST_F(LayoutTest, GrowingTheWindowGrowsTheLogAndMovesTheProgressBar) {
  const Controls before = Place();
  Resize(640 + 100, 400 + 100);
  const Controls after = Place();
  EXPECT_EQ(gWindowSettings.placement[2], 740);
  EXPECT_EQ(gWindowSettings.placement[3], 500);
  EXPECT_EQ(Width(after.list), Width(before.list) + 100);
  EXPECT_EQ(Height(after.list), Height(before.list));
  EXPECT_EQ(Width(after.log), Width(before.log) + 100);
  EXPECT_EQ(Height(after.log), Height(before.log) + 100);
  EXPECT_EQ(after.log.top, before.log.top);
  EXPECT_EQ(Width(after.progress), Width(before.progress) + 100);
  EXPECT_EQ(after.progress.top, before.progress.top + 100);
}

TEST_F(LayoutTest, MinimizedWindowKeepsItsLastPlacement) {
  Resize(700, 450);
  int32_t restored[4];
  for (int i = 0; i < 4; ++i)
    restored[i] = gWindowSettings.placement[i];
  ShowWindow(window_, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(window_));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(gWindowSettings.placement[i], restored[i]) << i;
  ShowWindow(window_, SW_RESTORE);
  EXPECT_EQ(gWindowSettings.placement[2], 700);
  EXPECT_EQ(gWindowSettings.placement[3], 450);
}

TEST_F(LayoutTest, DraggingTheBoundaryMovesOnlyTheSplit) {
  const int cap = GetSystemMetrics(SM_CYCAPTION);
  const Controls before = Place();
  const int band = Separator() + 25;
  SendMessageA(window_, WM_LBUTTONDOWN, MK_LBUTTON, Point(100, band));
  ASSERT_TRUE(gDragging);
  EXPECT_EQ(GetCapture(), window_);
  SendMessageA(window_, WM_MOUSEMOVE, MK_LBUTTON, Point(100, 100 + cap + 50));
  SendMessageA(window_, WM_LBUTTONUP, 0, Point(100, 100 + cap + 50));
  EXPECT_FALSE(gDragging);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(Separator(), 150);

  const Controls after = Place();
  EXPECT_EQ(Height(after.list), Height(before.list) + 50);
  EXPECT_EQ(after.log.top, before.log.top + 50);
  EXPECT_EQ(Height(after.log), Height(before.log) - 50);
  EXPECT_EQ(after.progress.top, before.progress.top);
  EXPECT_EQ(Height(after.progress), Height(before.progress));

  // Moves after the release leave the split where it is; closing stores it.
  SendMessageA(window_, WM_MOUSEMOVE, 0, Point(100, 300));
  EXPECT_EQ(Separator(), 150);
  CloseMainWindow(window_);
  EXPECT_EQ(StoredSetting("Seperator"), 150u);
}

TEST_F(LayoutTest, DragIsClampedToTheClientArea) {
  const int cap = GetSystemMetrics(SM_CYCAPTION);
  RECT client;
  GetClientRect(window_, &client);
  SendMessageA(window_, WM_LBUTTONDOWN, MK_LBUTTON, Point(100, 150));
  ASSERT_TRUE(gDragging);
  // Above the window the coordinate arrives as a negative 16-bit value.
  SendMessageA(window_, WM_MOUSEMOVE, MK_LBUTTON, Point(100, -40));
  EXPECT_EQ(Separator(), client.top - cap);
  SendMessageA(window_, WM_MOUSEMOVE, MK_LBUTTON, Point(100, client.bottom + 200));
  EXPECT_EQ(Separator(), client.bottom - cap);
  SendMessageA(window_, WM_LBUTTONUP, 0, 0);
}

TEST_F(LayoutTest, DragStartsOnlyInsideTheMargins) {
  const int width = gWindowSettings.placement[2];
  const int height = gWindowSettings.placement[3];
  const struct {
    int x, y;
    bool drags;
  } cases[] = {{100, 40, false},        {100, 41, true},          {4, 200, false},
               {5, 200, true},          {width - 4, 200, false},  {width - 5, 200, true},
               {100, height - 5, true}, {100, height - 4, false}, {-10, 200, false}};
  for (const auto& c : cases) {
    SendMessageA(window_, WM_LBUTTONDOWN, MK_LBUTTON, Point(c.x, c.y));
    EXPECT_EQ(gDragging, c.drags) << c.x << ", " << c.y;
    SendMessageA(window_, WM_LBUTTONUP, 0, 0);
    EXPECT_FALSE(gDragging);
  }
}

TEST_F(LayoutTest, SizingCursorShowsOnTheBand) {
  const int separator = Separator();
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  ASSERT_NE(arrow, gSizeCursor);
  const struct {
    int x, y;
    bool sizing;
  } cases[] = {{100, separator + 19, false}, {100, separator + 20, true},
               {100, separator + 30, true},  {100, separator + 31, false},
               {4, separator + 25, false},   {5, separator + 25, true}};
  for (const auto& c : cases) {
    SetCursor(arrow);
    OnMouseMove(window_, c.x, c.y);
    EXPECT_EQ(GetCursor() == gSizeCursor, c.sizing) << c.x << ", " << c.y;
  }
}

}  // namespace
