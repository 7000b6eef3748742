// The worker context's Host for the main dialog. Reports go to the dialog's
// controls by SendMessageA, so a worker waits until the window thread has
// handled each one; once the window is gone its handle is no longer valid
// and every send returns at once.
#include <atomic>
#include <cstring>

#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include "engine/worker_context.h"
#include "ui/main_window.h"

namespace {

class WindowHost : public Host {
 public:
  void Attach(HWND window) { window_ = window; }

  // One trip to the window thread, which adds the line and scrolls to it.
  void AppendLog(const char* line) override {
    SendMessageA(window_, MSG_APPEND_LOG, 0, reinterpret_cast<LPARAM>(line));
  }
  void SetProgressRange(uint32_t total) override {
    SendMessageA(Control(kProgressBarId), PBM_SETRANGE32, 0, total);
  }
  void SetProgress(uint32_t position) override {
    SendMessageA(Control(kProgressBarId), PBM_SETPOS, position, 0);
  }
  void HighlightJob(int row) override {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(Control(kJobListId), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  }

  int LogWidth() override {
    RECT client = {};
    GetClientRect(window_, &client);
    return client.right;
  }
  int TextWidth(const char* text) override {
    const HWND log = Control(kLogListId);
    const HDC dc = GetDC(log);
    SIZE extent = {};
    GetTextExtentPointA(dc, text, lstrlenA(text), &extent);
    ReleaseDC(log, dc);
    return extent.cx;
  }
  // Shortened as UTF-16: the A routine steps through 8-bit text by the
  // system's double-byte rules, which know nothing of UTF-8, and could cut a
  // character in half. PathCompactPathW takes less than MAX_PATH characters:
  // a longer path is shown whole, clipped at the list's edge.
  void CompactPath(char* path, int width) override {
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0) return;
    const HWND log = Control(kLogListId);
    const HDC dc = GetDC(log);
    const BOOL shortened = PathCompactPathW(dc, wide, width);
    ReleaseDC(log, dc);
    char compact[kPathBufferSize];
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, compact, sizeof compact,
                                      /*lpDefaultChar=*/nullptr, /*lpUsedDefaultChar=*/nullptr);
    // In place: a result longer than the path it replaces is not taken.
    if (shortened && n > 0 && static_cast<size_t>(n) <= std::strlen(path) + 1) {
      std::memcpy(path, compact, n);
    }
  }

  void SendStartPass() override { SendMessageA(window_, MSG_START_PASS, 0, 0); }
  void PostCloseNow() override { PostMessageA(window_, MSG_CLOSE_NOW, 0, 0); }
  void ClearLog() override { SendMessageA(Control(kLogListId), LB_RESETCONTENT, 0, 0); }
  void EndWindow() override { DestroyWindow(window_); }

 private:
  HWND Control(int id) { return GetDlgItem(window_, id); }

  // Set on the window thread at initialisation, read by the workers.
  std::atomic<HWND> window_{nullptr};
};

WindowHost gWindowHost;

}  // namespace

Host* AttachMainWindowHost(HWND window) {
  gWindowHost.Attach(window);
  return &gWindowHost;
}

Host* MainWindowHost() {
  return &gWindowHost;
}
