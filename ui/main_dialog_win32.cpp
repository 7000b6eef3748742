// The main dialog: its procedure hands each message to one handler; the
// initialisation and the destruction run their steps in a fixed order.
#include <windows.h>
#include <commctrl.h>

#include "engine/files/file_services_win32.h"
#include "run/countdown.h"
#include "run/run_control.h"
#include "run/run_session.h"
#include "ui/main_window.h"

HINSTANCE gModule;
HWND gJobListView;
HCURSOR gSizeCursor;

namespace {

constexpr UINT kTimerMilliseconds = 1000;
constexpr DWORD kJobListExtendedStyles =
    LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP;  // 0x34
constexpr const char* kColumnTitles[] = {"Mode", "Source", "Destination"};
constexpr int kColumnCount = 3;
constexpr int kColumnTextCapacity = 64;

// The project, opened with the window and closed at its destruction.
RunSession gSession;

void InsertColumns() {
  for (int i = 0; i < kColumnCount; ++i) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(kColumnTitles[i]);
    column.cchTextMax = kColumnTextCapacity;
    column.cx = static_cast<int>(gWindowSettings.column_widths[i]);
    column.iSubItem = i;
    SendMessageA(gJobListView, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
  }
}

void OnInitDialog(HWND window, const MainDialogStart& start) {
  Host* host = AttachMainWindowHost(window);
  // Layout runs on every move and size from here on, and needs the job list.
  gJobListView = GetDlgItem(window, IDC_JOB_LIST);
  SetRecycleOwner(window);

  // The executable's icon is numbered, not named: none is found, and the
  // window keeps the icon the system gives dialogs.
  if (HICON icon = LoadIconA(gModule, "IDI_ICON1")) {
    SetClassLongPtrA(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
  }

  // Stored sizes are 96-dpi pixels; the window's own are at the DPI of the
  // display it opens on.
  gWindowDpi = WindowDpi(window);
  if (LoadWindowSettings(gWindowDpi)) start.set_working_directory();

  // The last pass at a glance, until a pass clears the log. A pass started
  // by the end option has nobody to ask about a mass change: it refuses.
  SessionOptions options;
  options.last_run_glance = true;
  options.mass_change = MassChange::kRefuse;
  OpenSession(gSession, start.project_path, options, host);

  const int32_t* place = gWindowSettings.placement;
  SetWindowPos(window, /*hWndInsertAfter=*/nullptr, place[0], place[1], place[2], place[3],
               SWP_NOZORDER | SWP_NOACTIVATE);

  SendMessageA(gJobListView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kJobListExtendedStyles);
  InsertColumns();
  FillRunSettingCombos(window);
  ShowAfterCommand(window);
  gSizeCursor = LoadCursorA(/*hInstance=*/nullptr, IDC_SIZENS);
  for (int i = 0; i < gJobs.count; ++i)
    InsertJobRow(i);
  SetTimer(window, kTimerId, kTimerMilliseconds, /*lpTimerFunc=*/nullptr);

  if (gRunSettings.end_option != kEndNone) StartWatcher(host);
}

void OnDestroy(HWND window) {
  // Text still in the box is kept if it can be; nobody is left to tell.
  TakeAfterCommand(window, /*tell=*/false);
  CloseSession(gSession);

  KillTimer(window, kTimerId);
  OnLogTimer(window);  // a held log is let go with its timer
  // A pass may outlive the window: nothing it shows may be owned by a window that is gone.
  SetRecycleOwner(nullptr);
  for (int i = 0; i < kColumnCount; ++i) {
    gWindowSettings.column_widths[i] =
        static_cast<uint32_t>(SendMessageA(gJobListView, LVM_GETCOLUMNWIDTH, i, 0));
  }
  SaveWindowSettings(gWindowDpi);
  ReleaseDpiFont();
}

void OnCommand(HWND window, int id, int code) {
  Host* host = MainWindowHost();
  switch (id) {
    case IDCANCEL:
      CloseRequested(host);
      break;
    case IDC_END_OPTION:
    case IDC_TIME_LIMIT:
      // Text typed into a box's field changes nothing; only a selection does.
      if (code == CBN_SELCHANGE) OnRunSettingSelected(window, id);
      break;
    case IDC_AFTER_COMMAND:
      if (code == EN_KILLFOCUS) TakeAfterCommand(window, /*tell=*/true);
      break;
    case IDC_START:
      // Enter starts with the focus still in the command's box.
      if (TakeAfterCommand(window, /*tell=*/true)) StartByHand(host);
      break;
    case IDC_STOP:
      StopRequested();
      break;
    default:
      if (id >= IDM_DELETE && id <= IDM_PATTERNS) OnJobCommand(window, id);
      break;
  }
}

void OnNotify(HWND window, NMHDR* header) {
  if (header->idFrom == static_cast<UINT_PTR>(IDC_JOB_LIST)) OnJobListNotify(window, header);
}

// No is the default: Enter pressed by habit changes nothing.
LRESULT OnAskMassChange(HWND window, const char* question) {
  return MessageBoxA(window, question, kMassChangeCaption,
                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES
             ? IDYES
             : IDNO;
}

void OnPaint(HWND window) {
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  EndPaint(window, &paint);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(window, *reinterpret_cast<const MainDialogStart*>(lparam));
      return 1;
    case WM_DESTROY:
      OnDestroy(window);
      break;
    case WM_MOVE:
    case WM_SIZE:
      LayOut(window);
      break;
    case WM_DPICHANGED:
      // Handled: the dialog manager would otherwise scale the controls again.
      OnDpiChanged(window, HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 1;
    case WM_PAINT:
      OnPaint(window);
      break;
    case WM_NOTIFY:
      OnNotify(window, reinterpret_cast<NMHDR*>(lparam));
      break;
    case WM_CONTEXTMENU:
      OnContextMenu(window);
      break;
    case WM_COMMAND:
      OnCommand(window, LOWORD(wparam), HIWORD(wparam));
      break;
    case WM_TIMER:
      if (wparam == kLogTimerId)
        OnLogTimer(window);
      else
        OnTimer(MainWindowHost());
      break;
    case WM_MOUSEMOVE:
      // Signed: a captured drag reports positions above and left of the window.
      OnMouseMove(window, static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)));
      break;
    case WM_LBUTTONDOWN:
      OnLButtonDown(window, LOWORD(lparam), HIWORD(lparam));
      break;
    case WM_LBUTTONUP:
      OnLButtonUp(window);
      break;
    case WM_DROPFILES:
      OnDropFiles(window, reinterpret_cast<HDROP>(wparam));
      break;
    case MSG_CLOSE_NOW:
      OnCloseNow(MainWindowHost());
      break;
    case MSG_START_PASS:
      OnStartPass(MainWindowHost());
      break;
    case MSG_ASK_MASS_CHANGE:
      // A dialog's answer to a sent message goes in its result slot.
      SetWindowLongPtrA(window, DWLP_MSGRESULT,
                        OnAskMassChange(window, reinterpret_cast<const char*>(lparam)));
      return 1;
    case MSG_APPEND_LOG:
      OnAppendLog(window, reinterpret_cast<const char*>(wparam),
                  reinterpret_cast<const char*>(lparam));
      break;
  }
  return 0;
}
