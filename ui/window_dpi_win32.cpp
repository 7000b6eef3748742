// The window's DPI and the system's sizes at it. The per-window calls came
// with Windows 10 1607: they are looked up at run time, and older systems get
// the one DPI they have for the whole screen.
#include "ui/main_window.h"

UINT gWindowDpi = kBaseDpi;

namespace {

using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiCall = int(WINAPI*)(int, UINT);

// A call of user32 the system may lack, null then. Cast by way of the
// generic function type, which any function pointer converts to and from.
template <typename Call>
Call User32Call(const char* name) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  FARPROC call = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
  return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(call));
}

UINT ScreenDpi() {
  HDC screen = GetDC(/*hWnd=*/nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(/*hWnd=*/nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

}  // namespace

UINT WindowDpi(HWND window) {
  static const auto get_dpi = User32Call<GetDpiForWindowCall>("GetDpiForWindow");
  const UINT dpi = get_dpi != nullptr ? get_dpi(window) : 0;
  return dpi != 0 ? dpi : ScreenDpi();
}

int MetricAtDpi(int index, UINT dpi) {
  static const auto metric_for_dpi =
      User32Call<GetSystemMetricsForDpiCall>("GetSystemMetricsForDpi");
  if (metric_for_dpi != nullptr) return metric_for_dpi(index, dpi);
  // The system's sizes are those of the screen's one DPI.
  return ScaleBetweenDpi(GetSystemMetrics(index), ScreenDpi(), dpi);
}

FrameMetrics FrameMetricsAtDpi(UINT dpi) {
  return {MetricAtDpi(SM_CXDLGFRAME, dpi), MetricAtDpi(SM_CYDLGFRAME, dpi),
          MetricAtDpi(SM_CYCAPTION, dpi)};
}
