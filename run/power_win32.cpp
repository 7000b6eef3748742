#include "run/power.h"

#include <windows.h>
#include <powrprof.h>

namespace {

class WindowsPowerActions : public PowerActions {
 public:
  bool Hibernate() override {
    return SetSuspendState(/*bHibernate=*/TRUE, /*bForce=*/FALSE, /*bWakeupEventsDisabled=*/FALSE);
  }
  bool ShutDown() override { return ShutDownComputer(); }
};

}  // namespace

PowerActions& DefaultPowerActions() {
  static WindowsPowerActions actions;
  return actions;
}

bool ShutDownComputer() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return false;
  }
  TOKEN_PRIVILEGES privileges = {};
  LookupPrivilegeValueA(/*lpSystemName=*/nullptr, "SeShutdownPrivilege",
                        &privileges.Privileges[0].Luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, /*DisableAllPrivileges=*/FALSE, &privileges,
                        /*BufferLength=*/0, /*PreviousState=*/nullptr, /*ReturnLength=*/nullptr);
  // AdjustTokenPrivileges succeeds even when the privilege was not granted;
  // only GetLastError tells.
  const DWORD error = GetLastError();
  CloseHandle(token);
  if (error != ERROR_SUCCESS) return false;
  return ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE | EWX_FORCEIFHUNG, /*dwReason=*/0) != FALSE;
}
