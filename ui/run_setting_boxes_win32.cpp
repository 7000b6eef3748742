#include "run/run_settings.h"
#include "ui/main_window.h"

namespace {

void FillBox(HWND box, const char* const* texts, int count, int32_t selected) {
  SendMessageA(box, CB_RESETCONTENT, 0, 0);
  for (int i = 0; i < count; ++i) {
    SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[i]));
  }
  // A value read from a project may be out of range: it selects nothing.
  const bool known = selected >= 0 && selected < count;
  SendMessageA(box, CB_SETCURSEL, known ? selected : -1, 0);
}

}  // namespace

void FillRunSettingCombos(HWND window) {
  FillBox(GetDlgItem(window, IDC_END_OPTION), kRunSettingTexts, kEndOptionCount,
          gRunSettings.end_option);
  FillBox(GetDlgItem(window, IDC_TIME_LIMIT), kRunSettingTexts + kEndOptionCount, kTimeLimitCount,
          gRunSettings.time_limit);
}

void OnRunSettingSelected(HWND window, int id) {
  const auto index = static_cast<int32_t>(SendMessageA(GetDlgItem(window, id), CB_GETCURSEL, 0, 0));
  if (id == IDC_END_OPTION)
    gRunSettings.end_option = index;
  else
    gRunSettings.time_limit = index;
}
