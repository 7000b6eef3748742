#include <windows.h>
#include <commctrl.h>

#include <string>

#include "jobs/after_command.h"
#include "run/run_settings.h"
#include "ui/main_window.h"

void ShowAfterCommand(HWND window) {
  const HWND box = GetDlgItem(window, IDC_AFTER_COMMAND);
  // One more than the longest command, so that a longer paste is seen and refused.
  SendMessageA(box, EM_LIMITTEXT, kAfterCommandMaxLength + 1, 0);
  SendMessageW(box, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Command after the pass"));
  SetWindowTextA(box, gRunSettings.after_command.c_str());
}

bool TakeAfterCommand(HWND window, bool tell) {
  const HWND box = GetDlgItem(window, IDC_AFTER_COMMAND);
  std::string text(static_cast<size_t>(GetWindowTextLengthA(box)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(box, text.data(), static_cast<int>(text.size()))));
  const char* fault = AfterCommandFault(text);
  if (fault == nullptr) {
    gRunSettings.after_command = text;
    return true;
  }
  if (tell) {
    const std::string message = std::string("Not stored: ") + fault + ".";
    MessageBoxA(window, message.c_str(), kAfterCommandCaption, MB_OK | MB_ICONWARNING);
    SetWindowTextA(box, gRunSettings.after_command.c_str());
  }
  return false;
}
