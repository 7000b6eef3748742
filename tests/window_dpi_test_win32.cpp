// The main window on a display of 96 or 144 dpi (the dpi the test is started
// for, in LARKSPAN_TEST_DPI): its sizes against those at 96, a placement
// stored at 96, a change of DPI while it is open, and the job list under the
// themed common controls.
#include "ui/main_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "run/run_control.h"
#include "tests/test_support.h"
#include "tests/ui_test_window.h"

namespace {

UINT ExpectedDpi() {
  const char* dpi = std::getenv("LARKSPAN_TEST_DPI");
  return dpi != nullptr ? static_cast<UINT>(std::atoi(dpi)) : kBaseDpi;
}

RECT ClientRectOf(HWND window, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(/*hWndFrom=*/nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

int Width(const RECT& r) {
  return r.right - r.left;
}
int Height(const RECT& r) {
  return r.bottom - r.top;
}

int ColumnWidth(int column) {
  return static_cast<int>(SendMessageA(gJobListView, LVM_GETCOLUMNWIDTH, column, 0));
}

int FontHeight(HWND control) {
  LOGFONTA font = {};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font, &font);
  return std::abs(font.lfHeight);
}

class WindowDpiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dpi_ = ExpectedDpi();
    DeleteSettings();
  }
  void TearDown() override { CloseMainWindow(window_); }

  void Open() {
    window_ = OpenMainWindow(project_);
    ASSERT_NE(window_, nullptr);
    // A display that is not at the dpi asked for would pass every check below.
    ASSERT_EQ(WindowDpi(window_), dpi_);
  }
  // length 96-dpi pixels at the display's dpi, within the rounding of the
  // terms it is made of.
  void ExpectScaled(int actual, int length, const char* what, int slack = 2) {
    EXPECT_LE(std::abs(actual - static_cast<int>(std::lround(length * dpi_ / 96.0))), slack)
        << what << " at " << dpi_ << " dpi: " << actual << " for " << length;
  }

  TempDir dir_;
  const std::string project_ = dir_.Join("dpi.lpj");
  UINT dpi_ = kBaseDpi;
  HWND window_ = nullptr;
};

TEST_F(WindowDpiTest, ThemedCommonControlsAreLoaded) {
  Open();
  // The job list's code is version 6 of the common controls, which only a
  // manifest naming it brings in: the system keeps it side by side with 5.
  // (Wine's copy of 6 reports 5.81 from DllGetVersion, so the file is asked.)
  HMODULE controls = GetModuleHandleA("comctl32.dll");
  ASSERT_NE(controls, nullptr);
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(controls, path, MAX_PATH), 0u);
  CharLowerA(path);
  EXPECT_NE(std::strstr(path, "microsoft.windows.common-controls_6595b64144ccf1df_6."), nullptr)
      << path;
}

TEST_F(WindowDpiTest, DefaultSizesAndOffsetsFollowTheDpi) {
  Open();
  const int cap = MetricAtDpi(SM_CYCAPTION, dpi_);
  const RECT list = ClientRectOf(window_, gJobListView);
  const RECT log = ClientRectOf(window_, GetDlgItem(window_, IDC_LOG));
  const RECT progress = ClientRectOf(window_, GetDlgItem(window_, IDC_PROGRESS));
  RECT frame;
  GetWindowRect(window_, &frame);
  const struct {
    int actual, length;
    const char* what;
  } sizes[] = {
      {Width(frame), 640, "window width"},     {Height(frame), 400, "window height"},
      {Height(list), 100, "job list height"},  {log.top - cap, 100 + 10, "log's top"},
      {progress.left, 1, "progress bar left"}, {Height(progress), 16, "progress bar"},
      {ColumnWidth(0), 80, "Mode column"},     {ColumnWidth(2), 250, "Destination column"}};
  for (const auto& size : sizes)
    ExpectScaled(size.actual, size.length, size.what);
}

// What a 96-dpi display stored, and every earlier version of the program
// (which the system scaled as a bitmap), opens at the same physical size, and
// is stored again as it was.
TEST_F(WindowDpiTest, PlacementStoredAt96KeepsItsPhysicalSize) {
  const int32_t place[4] = {120, 80, 700, 450};
  WriteSetting("WindowRect", REG_BINARY, place, sizeof place);
  const DWORD mode_width = 120, separator = 140;
  WriteSetting("ColWidth1", REG_DWORD, &mode_width, sizeof mode_width);
  WriteSetting("Seperator", REG_DWORD, &separator, sizeof separator);
  Open();
  RECT frame;
  GetWindowRect(window_, &frame);
  const int shown[] = {frame.left,    frame.top,      Width(frame),
                       Height(frame), ColumnWidth(0), Height(ClientRectOf(window_, gJobListView))};
  const int stored_at_96[] = {120, 80, 700, 450, 120, 140};
  for (int i = 0; i < 6; ++i)
    ExpectScaled(shown[i], stored_at_96[i], "stored size", 1);

  CloseMainWindow(window_);
  const std::vector<unsigned char> stored = ReadSetting("WindowRect");
  ASSERT_EQ(stored.size(), sizeof place);
  int32_t again[4];
  std::memcpy(again, stored.data(), sizeof again);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(again[i], place[i]) << i;
  EXPECT_EQ(StoredSetting("ColWidth1"), mode_width);
  EXPECT_EQ(StoredSetting("Seperator"), separator);
}

// The window dragged to a display of half as much again: it takes the
// rectangle the system suggests, and its controls, font, columns and splitter
// grow with it; dragged back, they come back.
TEST_F(WindowDpiTest, DpiChangeRescalesTheWindow) {
  Open();
  HWND start = GetDlgItem(window_, IDC_START);
  const RECT button = ClientRectOf(window_, start);
  const int font = FontHeight(start);
  const int mode_width = ColumnWidth(0);
  const uint32_t separator = gWindowSettings.separator;
  const UINT larger = dpi_ * 3 / 2;

  RECT suggested = {50, 60, 50 + 1000, 60 + 620};
  SendMessageA(window_, WM_DPICHANGED, MAKEWPARAM(larger, larger),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(gWindowDpi, larger);
  RECT frame;
  GetWindowRect(window_, &frame);
  EXPECT_TRUE(EqualRect(&frame, &suggested));
  const RECT grown = ClientRectOf(window_, start);
  EXPECT_LE(std::abs(2 * Width(grown) - 3 * Width(button)), 2);
  EXPECT_LE(std::abs(2 * grown.left - 3 * button.left), 2);
  EXPECT_LE(std::abs(2 * FontHeight(start) - 3 * font), 2);
  EXPECT_LE(std::abs(2 * ColumnWidth(0) - 3 * mode_width), 2);
  EXPECT_LE(
      std::abs(2 * static_cast<int>(gWindowSettings.separator) - 3 * static_cast<int>(separator)),
      2);
  EXPECT_EQ(Height(ClientRectOf(window_, GetDlgItem(window_, IDC_PROGRESS))),
            ScaleToDpi(16, larger));

  RECT back = {50, 60, 50 + 640, 60 + 400};
  SendMessageA(window_, WM_DPICHANGED, MAKEWPARAM(dpi_, dpi_), reinterpret_cast<LPARAM>(&back));
  EXPECT_LE(std::abs(Width(ClientRectOf(window_, start)) - Width(button)), 1);
  EXPECT_LE(std::abs(FontHeight(start) - font), 1);
  EXPECT_LE(std::abs(ColumnWidth(0) - mode_width), 1);
}

// The row of a job at the point where the list view shows its checkbox.
POINT CheckboxOf(int row) {
  RECT bounds = {};
  bounds.left = LVIR_BOUNDS;
  SendMessageA(gJobListView, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
  LVHITTESTINFO hit = {};
  hit.pt.y = (bounds.top + bounds.bottom) / 2;
  for (hit.pt.x = bounds.left; hit.pt.x < bounds.left + 100; ++hit.pt.x) {
    if (SendMessageA(gJobListView, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == row &&
        (hit.flags & LVHT_ONITEMSTATEICON) != 0) {
      return hit.pt;
    }
  }
  return {-1, -1};
}

// A click on a checkbox reaches its job as the list view of the themed
// controls reports it. (The job list's tests, drops included, run with the
// same manifest.)
TEST_F(WindowDpiTest, CheckboxClickReachesTheJob) {
  WriteFile(project_, "O,1,Copy,C:\\a,D:\\a\r\nO,1,Copy,C:\\b,D:\\b\r\nT,0,0,0\r\n");
  Open();
  ASSERT_EQ(gJobs.count, 2);
  const POINT box = CheckboxOf(1);
  ASSERT_GE(box.x, 0) << "no checkbox in row 1";
  SendMessageA(gJobListView, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(box.x, box.y));
  SendMessageA(gJobListView, WM_LBUTTONUP, 0, MAKELPARAM(box.x, box.y));
  ASSERT_TRUE(PumpUntil([] { return !IsEnabled(*gJobs.slots[1]); }));
  EXPECT_FALSE(ListView_GetCheckState(gJobListView, 1));
}

}  // namespace
