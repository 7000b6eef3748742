// Power actions behind the OS seam, so that no test, and nothing on Linux,
// ever shuts down or hibernates a machine.
#pragma once

class PowerActions {
 public:
  virtual ~PowerActions() = default;
  // True when hibernation was started.
  virtual bool Hibernate() = 0;
  // True when the shutdown was started.
  virtual bool ShutDown() = 0;
};

// Windows: SetSuspendState and ShutDownComputer. POSIX: refuses both.
PowerActions& DefaultPowerActions();

// Enables "SeShutdownPrivilege" for the process and calls ExitWindowsEx with
// EWX_SHUTDOWN | EWX_FORCE | EWX_FORCEIFHUNG. Windows only.
bool ShutDownComputer();
