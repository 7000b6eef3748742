#include "run/command_runner.h"

#include <windows.h>

#include <chrono>
#include <cwchar>
#include <string>

#include "jobs/utf8.h"

namespace {

// How often the output and the process are looked at while it runs.
constexpr DWORD kPollMilliseconds = 20;

std::wstring Wide(const std::string& text) {
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string ErrorText(DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof text, nullptr);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(error) : message;
}

// The program's environment block with the variables set over it (names
// compared without case, as Windows does).
std::wstring EnvironmentWith(const std::vector<CommandVariable>& variables) {
  std::wstring block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
       entry += wcslen(entry) + 1) {
    bool replaced = false;
    for (const CommandVariable& variable : variables) {
      const std::wstring name = Wide(variable.name) + L"=";
      replaced |= _wcsnicmp(entry, name.c_str(), name.size()) == 0;
    }
    if (!replaced) block.append(entry).push_back(L'\0');
  }
  if (strings != nullptr) FreeEnvironmentStringsW(strings);
  for (const CommandVariable& variable : variables)
    block.append(Wide(variable.name) + L"=" + Wide(variable.value)).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

// The system's OEM code page, in which console programs (cmd, PowerShell)
// write when their output is a pipe. Not GetOEMCP: a program whose manifest
// asks for UTF-8 (this one) is told UTF-8 there, while the command is not.
UINT ConsoleCodePage() {
  wchar_t text[16] = {};
  DWORD size = sizeof text;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage",
                   L"OEMCP", RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return CP_OEMCP;
  }
  const UINT page = static_cast<UINT>(wcstoul(text, nullptr, 10));
  return page != 0 ? page : CP_OEMCP;
}

// A line that is no UTF-8 is read in the console's code page, so the log
// holds text, not stray bytes.
std::string AsUtf8(const std::string& line) {
  if (IsUtf8(line)) return line;
  static const UINT page = ConsoleCodePage();
  const int size = static_cast<int>(line.size());
  const int wide_length = MultiByteToWideChar(page, 0, line.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(page, 0, line.data(), size, wide.data(), wide_length);
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, text.data(), length, nullptr, nullptr);
  return text;
}

// Reads what the pipe holds without blocking; false once every writer has
// closed it.
bool ReadAvailable(HANDLE pipe, OutputLines& output) {
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
  while (available > 0) {
    char buffer[4096];
    DWORD n = 0;
    const DWORD wanted = available < sizeof buffer ? available : sizeof buffer;
    if (!ReadFile(pipe, buffer, wanted, &n, nullptr) || n == 0) return false;
    output.Add(buffer, n);
    available -= n;
  }
  return true;
}

}  // namespace

CommandResult RunCommand(const std::string& command, const std::vector<CommandVariable>& variables,
                         uint32_t limit_milliseconds) {
  CommandResult result;
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherited, 0)) {
    result.error = ErrorText(GetLastError());
    return result;
  }
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                               OPEN_EXISTING, 0, nullptr);
  // Everything it starts stays in the job, and closing the job ends them all.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr) {
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process{};
  std::wstring line = Wide(command);
  std::wstring environment = EnvironmentWith(variables);
  // As written: no shell between the line and the program it names.
  const BOOL created =
      job != nullptr &&
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT,
                     environment.data(), nullptr, &startup, &process);
  const DWORD create_error = created ? 0 : GetLastError();
  CloseHandle(write_end);
  if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
  if (!created) {
    CloseHandle(read_end);
    if (job != nullptr) CloseHandle(job);
    result.error = ErrorText(create_error);
    return result;
  }
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  result.started = true;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_milliseconds);
  OutputLines output;
  bool output_open = true;
  bool exited = false;
  while (!exited || output_open) {
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      break;
    }
    if (output_open) output_open = ReadAvailable(read_end, output);
    if (!exited) {
      exited = WaitForSingleObject(process.hProcess, kPollMilliseconds) == WAIT_OBJECT_0;
    } else if (output_open) {
      Sleep(kPollMilliseconds);
    }
  }
  if (result.timed_out) {
    TerminateJobObject(job, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  if (output_open) ReadAvailable(read_end, output);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  result.exit_status = static_cast<int>(status);
  CloseHandle(process.hProcess);
  CloseHandle(read_end);
  CloseHandle(job);
  output.Finish();
  for (const std::string& line : output.Take())
    result.lines.push_back(AsUtf8(line));
  return result;
}
