// The main dialog's process-wide state and the handlers that its dialog
// procedure hands messages to. Windows only: included by *_win32.cpp files.
#pragma once

#include <windows.h>
#include <shellapi.h>  // HDROP

#include "engine/rules/host.h"
#include "jobs/job_list.h"
#include "resources/resource_ids.h"
#include "ui/layout_rules.h"
#include "ui/window_settings.h"

// Private window messages.
constexpr UINT MSG_CLOSE_NOW = WM_USER + 1;
constexpr UINT MSG_START_PASS = WM_USER + 2;
// A worker's log line, added on the window thread. lparam: the text; wparam:
// nullptr, or the prefix of a path line, the text then being its path.
constexpr UINT MSG_APPEND_LOG = WM_APP + 1;
// A pass asks whether a mass change goes ahead. lparam: the question. The
// result: IDYES or IDNO, from a Yes/No box captioned kMassChangeCaption.
constexpr UINT MSG_ASK_MASS_CHANGE = WM_APP + 2;
constexpr char kMassChangeCaption[] = "Larkspan - mass change";

// Timers of the main window: the run settings' second and the log's drawing.
constexpr UINT_PTR kTimerId = 0;
constexpr UINT_PTR kLogTimerId = 1;

// What the entry hands the dialog as it creates it (the last argument of
// DialogBoxParamA): the project file, and the start-up step that makes the
// executable's folder the working directory, which the dialog runs after
// loading the window settings and before loading the project. Both outlive
// the window.
struct MainDialogStart {
  const char* project_path;
  bool (*set_working_directory)();
};

extern WindowSettings gWindowSettings;
extern HINSTANCE gModule;    // the executable's instance handle
extern HWND gJobListView;    // control 1002
extern HCURSOR gSizeCursor;  // IDC_SIZENS, for the splitter
extern int gCurrentRow;      // set by every item-changed notification
extern JobRecord* gCurrentRecord;
extern bool gDragging;   // a splitter drag is under way
extern UINT gWindowDpi;  // the main window's DPI: at its creation, then each change

// The common controls' classes the dialog's template names; false when the
// system refused them.
bool RegisterControlClasses();

// The DPI of window (GetDpiForWindow where the system has it, else the
// screen's), and a system metric (GetSystemMetrics index) at dpi.
UINT WindowDpi(HWND window);
int MetricAtDpi(int index, UINT dpi);
FrameMetrics FrameMetricsAtDpi(UINT dpi);

// The dialog procedure; WM_INITDIALOG's lparam is a MainDialogStart.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The Host through which the workers reach the main window: Attach points it
// at the window (at initialisation); the handlers pass it to the run control.
Host* AttachMainWindowHost(HWND window);
Host* MainWindowHost();

// The run-setting boxes (1001 end option, 1005 time limit): filled with their
// texts and the stored values selected; a new selection becomes the value.
void FillRunSettingCombos(HWND window);
void OnRunSettingSelected(HWND window, int id);

// The box of the command after each pass (1008): one line the user writes
// and reads at a glance beside the other run settings, so an edit box in
// their row rather than a menu and a dialog. Show puts the run settings'
// command in it; Take makes its text the command (an empty box clears it).
// A text the command cannot hold is refused: with tell, a message box says
// why and the box gets the stored command back; false then.
void ShowAfterCommand(HWND window);
bool TakeAfterCommand(HWND window, bool tell);
constexpr char kAfterCommandCaption[] = "Larkspan - command after the pass";

// Window settings in HKEY_CURRENT_USER\Software\Wendmoor\Larkspan, stored as
// kBaseDpi pixels (what every stored value of the program's earlier versions
// holds) and held at dpi, the window's. Load returns whether the key could be
// opened or created; the settings are brought to dpi either way.
bool LoadWindowSettings(UINT dpi);
void SaveWindowSettings(UINT dpi);

// The job list view: row i shows job i and carries its record as item data.
// InsertJobRow is false when the list view refused the row.
bool InsertJobRow(int i);
void RefreshJobRow(int row, JobRecord* record);
int FindJobRow(const JobRecord* record);
void OnJobListNotify(HWND window, NMHDR* header);
void OnJobCommand(HWND window, int id);  // 40001 to 40008
void OnContextMenu(HWND window);
// The context menu's two steps that need no person: whether the cursor (screen
// coordinates) lies within the current row's height, with its trace line; and
// the check on the job's mode in the menu's first submenu.
bool CursorOnCurrentRow(POINT cursor);
void CheckModeItem(HMENU popup, int mode);
void OnDropFiles(HWND window, HDROP drop);

// The patterns dialog (IDD_PATTERNS, captioned kPatternsCaption) on record's
// patterns, one a line: OK stores what the box holds, unless a line is
// refused (a message names it, and the dialog stays with nothing stored).
constexpr char kPatternsCaption[] = "Larkspan - patterns";
void EditPatterns(HWND owner, JobRecord* record);

// The log list: a line added, and drawn again at the log timer. A path line
// (prefix not nullptr) is prefix followed by text, whose path part may take
// LogPathWidth of the window's client width and the prefix's width, in
// pixels: a fifth more than the log (client width - 10 at kBaseDpi), less the
// prefix.
void OnAppendLog(HWND window, const char* prefix, const char* text);
void OnLogTimer(HWND window);
int LogPathWidth(int client_width, int prefix_width, UINT dpi = kBaseDpi);

// Layout and splitter.
void LayOut(HWND window);
// WM_DPICHANGED: the window moved to a display of another DPI (or the user
// changed its scaling); it takes the suggested rectangle, its fonts and every
// size at the new DPI, and is laid out again.
void OnDpiChanged(HWND window, UINT dpi, const RECT& suggested);
// The font made for the last DPI change, deleted with the window.
void ReleaseDpiFont();
void OnMouseMove(HWND window, int x, int y);
void OnLButtonDown(HWND window, int x, int y);
void OnLButtonUp(HWND window);
