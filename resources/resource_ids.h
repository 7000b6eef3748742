// The ids of the resources, the dialog's controls and the job list's menu
// commands, read by the resource compiler (larkspan.rc) and the code alike.
#pragma once

#define IDI_LARKSPAN 101
#define IDD_MAIN 102
#define IDM_JOB_MENU 103
#define IDD_PATTERNS 104
#define IDC_END_OPTION 1001
#define IDC_JOB_LIST 1002
#define IDC_START 1003
#define IDC_STOP 1004
#define IDC_TIME_LIMIT 1005
#define IDC_LOG 1006
#define IDC_PROGRESS 1007
#define IDC_AFTER_COMMAND 1008
#define IDC_PATTERNS 1009  // the patterns dialog's edit box
#define IDM_DELETE 40001
#define IDM_MOVE_UP 40002
#define IDM_MOVE_DOWN 40003
#define IDM_MODE_COPY 40004  // the modes in their order
#define IDM_MODE_MIRROR 40005
#define IDM_MODE_MOVE 40006
#define IDM_MODE_SYNC 40007
#define IDM_PATTERNS 40008
