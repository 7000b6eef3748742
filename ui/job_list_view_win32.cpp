// The job list view: row i shows job i of gJobs and carries its record as
// item data. Everything here runs on the window thread.
#include "ui/main_window.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "run/run_control.h"

int gCurrentRow = 0;
JobRecord* gCurrentRecord = nullptr;

namespace {

constexpr UINT kTicked = INDEXTOSTATEIMAGEMASK(2);    // 0x2000
constexpr UINT kUnticked = INDEXTOSTATEIMAGEMASK(1);  // 0x1000
constexpr int kItemTextCapacity = 63;
constexpr UINT kDropBufferSize = 259;  // the terminating NUL included
constexpr int kMenuOffsetX = 20;
constexpr char kTooLong[] = "Path too long, not added: ";
constexpr char kHoldsComma[] = "Path holds a comma, not added: ";

bool IsJobIndex(int row) {
  return row >= 0 && row < gJobs.count;
}

void SetRowText(int row, int column, const char* text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text);
  SendMessageA(gJobListView, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void SetRowState(int row, UINT state, UINT mask) {
  LVITEMA item = {};
  item.state = state;
  item.stateMask = mask;
  SendMessageA(gJobListView, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void SetRowRecord(int row, JobRecord* record) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = reinterpret_cast<LPARAM>(record);
  SendMessageA(gJobListView, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void SelectRow(int row) {
  SetRowState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

// Row r shows job r again after the list moved records around: its item data,
// its texts, and its checkbox both ways.
void ShowJobInRow(int row) {
  JobRecord* record = gJobs.slots[row];
  SetRowRecord(row, record);
  RefreshJobRow(row, record);
  SetRowState(row, IsEnabled(*record) ? kTicked : kUnticked, LVIS_STATEIMAGEMASK);
}

void OnItemChanged(const NMLISTVIEW& change) {
  gCurrentRow = change.iItem;
  gCurrentRecord = reinterpret_cast<JobRecord*>(change.lParam);
  if (change.uChanged != LVIF_STATE || gCurrentRecord == nullptr) return;
  // Only a bare state image reaches the job: a checkbox toggled on the
  // selected row shows up with the selection bits beside it.
  if (change.uNewState == kUnticked) {
    gCurrentRecord->flags &= static_cast<uint16_t>(~kJobEnabled);
  } else if (change.uNewState == kTicked) {
    gCurrentRecord->flags |= kJobEnabled;
  }
}

// The current row is taken once: the refreshes and the deletion raise
// notifications that move it while the command runs.
void DeleteCurrentJob() {
  int row = gCurrentRow;
  if (gJobs.count == 0 || !IsJobIndex(row)) return;
  SendMessageA(gJobListView, LVM_DELETEITEM, row, /*lParam=*/0);
  // Job r is the one row r showed. It is taken by its index: a notification of
  // the deletion may have moved the current record.
  Remove(gJobs, row);
  if (row == gJobs.count && row != 0) --row;
  gCurrentRow = row;
  gCurrentRecord = IsJobIndex(row) ? gJobs.slots[row] : nullptr;
  SelectRow(row);
}

void MoveCurrentJob(int step) {
  const int row = gCurrentRow;
  const int other = row + step;
  if (!IsJobIndex(row) || !IsJobIndex(other)) return;
  Swap(gJobs, row, other);
  ShowJobInRow(row);
  ShowJobInRow(other);
  SelectRow(other);
}

void SetCurrentMode(int mode) {
  const int row = gCurrentRow;
  if (!IsJobIndex(row)) return;
  gJobs.slots[row]->mode = static_cast<uint16_t>(mode);
  RefreshJobRow(row, gJobs.slots[row]);
}

void RefusePath(const char* reason, const char* path) {
  const std::string line = std::string(reason) + path;
  MainWindowHost()->AppendLog(line.c_str());
}

// Drops a path into the first job without a destination, or else into a new
// job as its source. False when no job could be made: the rest of the drop is
// then ignored. A path that does not fit its field is refused with a log line,
// and so is one with a comma: the project file splits its fields at commas,
// so the next start would read another source or destination (a Mirror into
// the parent of its real destination would empty that parent).
bool TakeDroppedPath(const char* path, size_t length) {
  const int unpaired = FirstWithoutDestination(gJobs);
  const size_t field = unpaired < gJobs.count ? kJobDestinationSize : kJobSourceSize;
  if (length >= field) {
    RefusePath(kTooLong, path);
    return true;
  }
  if (std::strchr(path, ',') != nullptr) {
    RefusePath(kHoldsComma, path);
    return true;
  }
  if (unpaired < gJobs.count) {
    JobRecord* record = gJobs.slots[unpaired];
    std::memcpy(record->destination, path, length + 1);
    const int row = FindJobRow(record);
    if (row >= 0) RefreshJobRow(row, record);
    return true;
  }
  if (!ReserveSlot(gJobs)) return false;
  JobRecord* record = gJobs.slots[gJobs.count];
  std::memcpy(record->source, path, length + 1);
  record->flags = kJobEnabled;
  // Without its row the job would break row i = job i: it stays uncommitted.
  if (InsertJobRow(gJobs.count)) Commit(gJobs);
  return true;
}

}  // namespace

bool InsertJobRow(int i) {
  JobRecord* record = gJobs.slots[i];
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = i;
  item.pszText = const_cast<char*>(ModeName(record->mode));
  item.cchTextMax = kItemTextCapacity;
  item.lParam = reinterpret_cast<LPARAM>(record);
  // The new row is reported with its unticked image, which would clear the
  // enabled bit: the flags word is kept across the insertion.
  const uint16_t flags = record->flags;
  const int row = static_cast<int>(
      SendMessageA(gJobListView, LVM_INSERTITEMA, /*wParam=*/0, reinterpret_cast<LPARAM>(&item)));
  record->flags = flags;
  if (row < 0) return false;
  RefreshJobRow(row, record);
  return true;
}

void RefreshJobRow(int row, JobRecord* record) {
  SetRowText(row, 0, ModeName(record->mode));
  SetRowText(row, 1, record->source);
  SetRowText(row, 2, record->destination);
  // Never unticks: a row is unticked only by the user or by a move.
  if (IsEnabled(*record)) SetRowState(row, kTicked, LVIS_STATEIMAGEMASK);
}

int FindJobRow(const JobRecord* record) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  for (item.iItem = 0;
       SendMessageA(gJobListView, LVM_GETITEMA, /*wParam=*/0, reinterpret_cast<LPARAM>(&item));
       ++item.iItem) {
    if (reinterpret_cast<const JobRecord*>(item.lParam) == record) return item.iItem;
  }
  return -1;
}

void OnJobListNotify(HWND window, NMHDR* header) {
  if (header->code == LVN_ITEMCHANGED) {
    OnItemChanged(*reinterpret_cast<NMLISTVIEW*>(header));
  } else if (header->code == LVN_KEYDOWN) {
    if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_DELETE) {
      OnJobCommand(window, IDM_DELETE);
    }
  }
}

void OnJobCommand(HWND window, int id) {
  if (id == IDM_PATTERNS) {
    if (IsJobIndex(gCurrentRow)) EditPatterns(window, gJobs.slots[gCurrentRow]);
  } else if (id == IDM_DELETE) {
    DeleteCurrentJob();
  } else if (id == IDM_MOVE_UP) {
    MoveCurrentJob(-1);
  } else if (id == IDM_MOVE_DOWN) {
    MoveCurrentJob(+1);
  } else if (id >= IDM_MODE_COPY && id <= IDM_MODE_SYNC) {
    SetCurrentMode(id - IDM_MODE_COPY);
  }
}

bool CursorOnCurrentRow(POINT cursor) {
  RECT list;
  GetWindowRect(gJobListView, &list);
  const int y = cursor.y - list.top;
  if (!IsJobIndex(gCurrentRow)) return false;
  RECT bounds = {};
  bounds.top = 0;  // subitem
  bounds.left = LVIR_BOUNDS;
  if (!SendMessageA(gJobListView, LVM_GETSUBITEMRECT, gCurrentRow,
                    reinterpret_cast<LPARAM>(&bounds))) {
    return false;
  }
  char trace[64];
  std::snprintf(trace, sizeof trace, "%d %d %d\n", y, static_cast<int>(bounds.top),
                static_cast<int>(bounds.bottom));
  OutputDebugStringA(trace);
  return y >= bounds.top && y <= bounds.bottom;
}

void CheckModeItem(HMENU popup, int mode) {
  CheckMenuItem(GetSubMenu(popup, 0), IDM_MODE_COPY + mode, MF_BYCOMMAND | MF_CHECKED);
}

void OnContextMenu(HWND window) {
  POINT cursor;
  if (!GetCursorPos(&cursor) || !CursorOnCurrentRow(cursor)) return;
  GetCursorPos(&cursor);
  HMENU menu = LoadMenuA(gModule, MAKEINTRESOURCEA(IDM_JOB_MENU));
  if (menu == nullptr) return;
  HMENU popup = GetSubMenu(menu, 0);
  if (popup != nullptr) {
    CheckModeItem(popup, gJobs.slots[gCurrentRow]->mode);
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x - kMenuOffsetX, cursor.y, /*nReserved=*/0,
                   window, /*prcRect=*/nullptr);
  }
  DestroyMenu(menu);
}

void OnDropFiles(HWND, HDROP drop) {
  const UINT count = DragQueryFileA(drop, /*iFile=*/0xFFFFFFFF, /*lpszFile=*/nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    // The length is asked first, so that a path the buffer would cut is
    // refused rather than taken as another path.
    const UINT length = DragQueryFileA(drop, i, /*lpszFile=*/nullptr, 0);
    if (length == 0) continue;
    if (length >= kDropBufferSize) {
      std::string whole(length, '\0');
      if (DragQueryFileA(drop, i, whole.data(), length + 1) == length) {
        RefusePath(kTooLong, whole.c_str());
      }
      continue;
    }
    char path[kDropBufferSize];
    if (DragQueryFileA(drop, i, path, kDropBufferSize) != length) continue;
    if (!TakeDroppedPath(path, length)) break;
  }
  DragFinish(drop);
}
