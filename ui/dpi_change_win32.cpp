// The window moved to a display of another DPI, or the user changed the
// display's scaling: the system suggests the window's new rectangle, and the
// window brings its controls, fonts and stored sizes to the new DPI itself
// (the dialog procedure handles the message, so the dialog manager does not).
#include "ui/main_window.h"

#include <commctrl.h>

namespace {

HFONT gDpiFont = nullptr;

int Scaled(int value, UINT from_dpi, UINT to_dpi) {
  return ScaleBetweenDpi(value, from_dpi, to_dpi);
}

bool IsComboBox(HWND control) {
  char name[16] = {};
  GetClassNameA(control, name, sizeof name);
  return lstrcmpiA(name, "ComboBox") == 0;
}

// A child's template place at the new DPI; the layout then places the job
// list's size, the log and the progress bar from it.
void ScaleChild(HWND window, HWND child, UINT from_dpi, UINT to_dpi) {
  RECT rect;
  GetWindowRect(child, &rect);
  // A combo box is sized with its dropped list, which its rectangle leaves out.
  if (IsComboBox(child)) {
    RECT dropped;
    if (SendMessageA(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped))) {
      rect.bottom = rect.top + (dropped.bottom - dropped.top);
    }
  }
  MapWindowPoints(/*hWndFrom=*/nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  SetWindowPos(child, /*hWndInsertAfter=*/nullptr, Scaled(rect.left, from_dpi, to_dpi),
               Scaled(rect.top, from_dpi, to_dpi), Scaled(rect.right - rect.left, from_dpi, to_dpi),
               Scaled(rect.bottom - rect.top, from_dpi, to_dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

// The font the controls show (the dialog's, or the one made at the last
// change) at the new DPI, its height scaled. Null when they show the system font.
HFONT FontAtDpi(HWND window, UINT from_dpi, UINT to_dpi) {
  const HFONT shown = gDpiFont != nullptr
                          ? gDpiFont
                          : reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  LOGFONTA font;
  if (shown == nullptr || GetObjectA(shown, sizeof font, &font) != sizeof font) return nullptr;
  font.lfHeight = Scaled(font.lfHeight, from_dpi, to_dpi);
  font.lfWidth = Scaled(font.lfWidth, from_dpi, to_dpi);
  return CreateFontIndirectA(&font);
}

}  // namespace

void OnDpiChanged(HWND window, UINT dpi, const RECT& suggested) {
  const UINT old_dpi = gWindowDpi;
  if (dpi == 0 || dpi == old_dpi) return;
  gWindowDpi = dpi;

  HFONT font = FontAtDpi(window, old_dpi, dpi);
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    ScaleChild(window, child, old_dpi, dpi);
    if (font != nullptr) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (font != nullptr) {
    ReleaseDpiFont();
    gDpiFont = font;
  }
  // Moved onto another display by its stored placement, the window changes
  // DPI before its columns exist: then the widths they will get are scaled.
  const int columns = Header_GetItemCount(ListView_GetHeader(gJobListView));
  for (int i = 0; i < 3; ++i) {
    uint32_t& stored = gWindowSettings.column_widths[i];
    if (i < columns) {
      const int width = static_cast<int>(SendMessageA(gJobListView, LVM_GETCOLUMNWIDTH, i, 0));
      SendMessageA(gJobListView, LVM_SETCOLUMNWIDTH, i, Scaled(width, old_dpi, dpi));
    } else {
      stored = static_cast<uint32_t>(Scaled(static_cast<int>(stored), old_dpi, dpi));
    }
  }
  gWindowSettings.separator =
      static_cast<uint32_t>(Scaled(static_cast<int32_t>(gWindowSettings.separator), old_dpi, dpi));

  // The move lays the window out (WM_SIZE); laid out once more for a
  // rectangle that keeps the size, so that the controls follow the DPI.
  SetWindowPos(window, /*hWndInsertAfter=*/nullptr, suggested.left, suggested.top,
               suggested.right - suggested.left, suggested.bottom - suggested.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  LayOut(window);
}

void ReleaseDpiFont() {
  if (gDpiFont != nullptr) DeleteObject(gDpiFont);
  gDpiFont = nullptr;
}
