// The worker context's Host for the main dialog. Reports go to the dialog's
// controls by SendMessageA, so a worker waits until the window thread has
// handled each one; once the window is gone its handle is no longer valid
// and every send returns at once.
#include <atomic>

#include <windows.h>
#include <commctrl.h>

#include "ui/main_window.h"

namespace {

class WindowHost : public Host {
 public:
  void Attach(HWND window) { window_ = window; }

  // One trip to the window thread, which adds the line; for a path line it
  // first composes it and shortens the path to the log's width there, with
  // the window's own measures.
  void AppendLog(const char* line) override {
    SendMessageA(window_, MSG_APPEND_LOG, 0, reinterpret_cast<LPARAM>(line));
  }
  void AppendPathLine(const char* prefix, const char* path) override {
    SendMessageA(window_, MSG_APPEND_LOG, reinterpret_cast<WPARAM>(prefix),
                 reinterpret_cast<LPARAM>(path));
  }
  void SetProgressRange(uint32_t total) override {
    SendMessageA(Control(IDC_PROGRESS), PBM_SETRANGE32, 0, total);
  }
  void SetProgress(uint32_t position) override {
    SendMessageA(Control(IDC_PROGRESS), PBM_SETPOS, position, 0);
  }
  void HighlightJob(int row) override {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(Control(IDC_JOB_LIST), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  }

  // The dialog asks on its thread; a window already gone answers 0, no.
  bool AskMassChange(const char* question) override {
    return SendMessageA(window_, MSG_ASK_MASS_CHANGE, 0, reinterpret_cast<LPARAM>(question)) ==
           IDYES;
  }

  void SendStartPass() override { SendMessageA(window_, MSG_START_PASS, 0, 0); }
  void PostCloseNow() override { PostMessageA(window_, MSG_CLOSE_NOW, 0, 0); }
  void ClearLog() override { SendMessageA(Control(IDC_LOG), LB_RESETCONTENT, 0, 0); }
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
