// The patterns dialog: a job's patterns, one a line, in one edit box. A
// dialog rather than a column: a job may have many patterns, each as long as
// a path, which a cell edited in place would not show.
#include <cstdio>
#include <string>
#include <vector>

#include "jobs/exclusion_patterns.h"
#include "ui/main_window.h"

namespace {

void OnInitPatterns(HWND dialog, JobRecord* record) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(record));
  SetDlgItemTextA(dialog, IDC_PATTERNS, PatternLines(record->exclusions).c_str());
}

// Stores the box's patterns and ends the dialog, or names the line refused.
void OnPatternsOk(HWND dialog) {
  auto* record = reinterpret_cast<JobRecord*>(GetWindowLongPtrA(dialog, DWLP_USER));
  const HWND box = GetDlgItem(dialog, IDC_PATTERNS);
  std::string text(static_cast<size_t>(GetWindowTextLengthA(box)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(box, text.data(), static_cast<int>(text.size()))));
  int refused = 0;
  if (!PatternsFromLines(text, &record->exclusions, &refused)) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "Line %d is refused: a pattern may not hold a control character or a .. "
                  "element. Nothing was stored.",
                  refused);
    MessageBoxA(dialog, message, kPatternsCaption, MB_OK | MB_ICONWARNING);
    return;
  }
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK PatternsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitPatterns(dialog, reinterpret_cast<JobRecord*>(lparam));
      return 1;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) OnPatternsOk(dialog);
      if (LOWORD(wparam) == IDCANCEL) EndDialog(dialog, IDCANCEL);
      return 1;
  }
  return 0;
}

}  // namespace

void EditPatterns(HWND owner, JobRecord* record) {
  DialogBoxParamA(gModule, MAKEINTRESOURCEA(IDD_PATTERNS), owner, PatternsDialogProc,
                  reinterpret_cast<LPARAM>(record));
}
