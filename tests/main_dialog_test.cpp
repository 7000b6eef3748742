// The real main dialog, made from its template in this process and driven by
// the messages that a user's actions produce. Runs under a virtual display.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "run/countdown.h"
#include "run/run_control.h"
#include "run/run_settings.h"
#include "tests/copy_gate.h"
#include "tests/recording_power.h"
#include "tests/test_support.h"
#include "tests/ui_test_window.h"
#include "ui/main_window.h"

namespace {

std::vector<int32_t> ReadPlacement() {
  const std::vector<unsigned char> bytes = ReadSetting("WindowRect");
  std::vector<int32_t> place(bytes.size() / 4);
  if (!place.empty()) std::memcpy(place.data(), bytes.data(), place.size() * 4);
  return place;
}

std::vector<int32_t> WindowPlacement(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// Handles only the messages that workers send, leaving posted ones queued,
// until done() holds; false after 20 s.
bool HandleSentUntil(const std::function<bool()>& done) {
  const ULONGLONG end = GetTickCount64() + 20000;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    Sleep(5);
  }
  return true;
}

bool LogHas(HWND window, const std::string& line) {
  for (const std::string& l : LogLines(window)) {
    if (l == line) return true;
  }
  return false;
}

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                  wide.data(), static_cast<int>(wide.size())));
  return wide;
}

// What the log list and the job list show, in UTF-16.
std::vector<std::wstring> ShownLogLines(HWND window) {
  std::vector<std::wstring> lines(SendDlgItemMessageW(window, IDC_LOG, LB_GETCOUNT, 0, 0));
  for (size_t i = 0; i < lines.size(); ++i) {
    wchar_t text[1024] = {};
    SendDlgItemMessageW(window, IDC_LOG, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
    lines[i] = text;
  }
  return lines;
}

std::wstring ShownCell(HWND window, int row, int column) {
  wchar_t text[600] = {};
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 600;
  SendDlgItemMessageW(window, IDC_JOB_LIST, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

std::string ComboText(HWND box, int i) {
  char text[64] = {};
  SendMessageA(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
  return text;
}

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    ClearJobs(gJobs);
    gRun.total_mib = 0;
    gRun.exit_when_done = false;
    gRunSettings.end_option = kEndNone;
    gRunSettings.time_limit = 0;
    gCountdown = 0;
    gPower = &power_;
    power_.window_exists = [this] { return IsWindow(window_) != FALSE; };
    source_ = dir_.Join("source");
    destination_ = dir_.Join("destination");
    project_ = dir_.Join("test.lpj");
  }

  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    StopRequested();
    gate_.Open();
    EXPECT_TRUE(PumpUntil([] { return !gRun.pass_slot && !gRun.watcher_slot; }));
    Pump();
    gContext.files = &DefaultFileServices();
  }

  void WriteProject(const std::string& text) { WriteFile(project_, text); }

  // A project of one enabled Copy job from source_ to destination_.
  void WriteCopyProject(int end_option, int time_limit) {
    WriteProject("O,1,Copy," + source_ + "," + destination_ + "\r\nT,0," +
                 std::to_string(end_option) + "," + std::to_string(time_limit) + "\r\n");
  }

  void MakeTrees() {
    fs::create_directories(source_);
    fs::create_directories(destination_);
    WriteFile(fs::path(source_) / "big.bin", std::string(3 << 20, 'b'));
    WriteFile(fs::path(source_) / "small.txt", "small");
  }

  HWND Open(bool (*working_directory)() = nullptr) {
    window_ = OpenMainWindow(project_, working_directory);
    Pump();
    return window_;
  }

  void Command(int id, int code = BN_CLICKED) {
    SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(window_, id)));
  }

  // Starts a Copy pass of the two trees that holds at its first copy.
  void StartHeldPass() {
    MakeTrees();
    WriteCopyProject(kEndNone, 0);
    gContext.files = &gate_.files;
    ASSERT_TRUE(Open());
    Command(IDC_START);
    ASSERT_TRUE(PumpUntil([&] { return gate_.arrived > 0; }));
  }

  bool WaitForLog(const std::string& line) {
    return PumpUntil([&] { return LogHas(window_, line); });
  }

  TempDir dir_;
  std::string source_, destination_, project_;
  HWND window_ = nullptr;
  RecordingPower power_;
  CopyGate gate_;
};

TEST_F(MainDialogTest, FirstStartCreatesTheKeyAndStoresTheDefaultsAtClose) {
  WriteProject("");
  ASSERT_TRUE(Open());
  EXPECT_TRUE(SettingsKeyExists());
  EXPECT_EQ(WindowPlacement(window_), (std::vector<int32_t>{100, 100, 640, 400}));

  const HWND list = GetDlgItem(window_, IDC_JOB_LIST);
  const char* titles[] = {"Mode", "Source", "Destination"};
  const int widths[] = {80, 250, 250};
  for (int i = 0; i < 3; ++i) {
    char title[64] = {};
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title;
    column.cchTextMax = sizeof title;
    ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(title, titles[i]);
    EXPECT_EQ(column.cx, widths[i]);
  }
  EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & 0x34, 0x34);

  DestroyWindow(window_);
  DWORD type = 0;
  EXPECT_EQ(ReadSetting("WindowRect", &type).size(), 16u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(ReadPlacement(), (std::vector<int32_t>{100, 100, 640, 400}));
  const char* names[] = {"ColWidth1", "ColWidth2", "ColWidth3", "Seperator"};
  const DWORD defaults[] = {80, 250, 250, 100};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(StoredSetting(names[i]), defaults[i]) << names[i];
    ReadSetting(names[i], &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << names[i];
  }
}

TEST_F(MainDialogTest, StoredSettingsComeBackAtTheNextStart) {
  WriteProject("");
  const int32_t place[4] = {150, 120, 700, 450};
  WriteSetting("WindowRect", REG_BINARY, place, sizeof place);
  const DWORD widths[3] = {90, 200, 210};
  WriteSetting("ColWidth1", REG_DWORD, &widths[0], 4);
  WriteSetting("ColWidth2", REG_DWORD, &widths[1], 4);
  WriteSetting("ColWidth3", REG_DWORD, &widths[2], 4);
  const DWORD separator = 120;
  WriteSetting("Seperator", REG_DWORD, &separator, 4);
  ASSERT_TRUE(Open());

  EXPECT_EQ(WindowPlacement(window_), (std::vector<int32_t>{150, 120, 700, 450}));
  const HWND list = GetDlgItem(window_, IDC_JOB_LIST);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0), static_cast<LRESULT>(widths[i]));
  }
  EXPECT_EQ(gWindowSettings.separator, 120u);

  // A column dragged wider is stored with its new width.
  SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, 123);
  DestroyWindow(window_);
  EXPECT_EQ(StoredSetting("ColWidth2"), 123u);
  EXPECT_EQ(ReadPlacement(), (std::vector<int32_t>{150, 120, 700, 450}));
}

// The start-up step that sets the working directory comes after the window
// settings are loaded and before the project is.
TEST_F(MainDialogTest, TheWorkingDirectoryIsSetBetweenTheSettingsAndTheProject) {
  WriteCopyProject(kEndNone, 0);
  const DWORD separator = 120;
  WriteSetting("Seperator", REG_DWORD, &separator, 4);
  static uint32_t separator_then;
  static int jobs_then;
  separator_then = 0;
  jobs_then = -1;
  ASSERT_TRUE(Open([] {
    separator_then = gWindowSettings.separator;
    jobs_then = gJobs.count;
    return true;
  }));
  EXPECT_EQ(separator_then, 120u);
  EXPECT_EQ(jobs_then, 0);
  EXPECT_EQ(gJobs.count, 1);
}

TEST_F(MainDialogTest, MissingOrOverlongValuesKeepTheirDefaults) {
  WriteProject("");
  const DWORD width = 333;
  WriteSetting("ColWidth2", REG_DWORD, &width, 4);
  // Longer than its variable: not taken.
  const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  WriteSetting("ColWidth1", REG_BINARY, eight, sizeof eight);
  ASSERT_TRUE(Open());
  EXPECT_EQ(WindowPlacement(window_), (std::vector<int32_t>{100, 100, 640, 400}));
  EXPECT_EQ(gWindowSettings.column_widths[0], 80u);
  EXPECT_EQ(gWindowSettings.column_widths[1], 333u);
  EXPECT_EQ(gWindowSettings.column_widths[2], 250u);
  EXPECT_EQ(gWindowSettings.separator, 100u);
}

TEST_F(MainDialogTest, RowsAndRunSettingBoxesShowTheProject) {
  WriteProject("O,1,Copy,C:\\a,D:\\a\r\nO,0,Mirror,C:\\b,D:\\b\r\nO,1,Sync,C:\\c,\r\nT,7,0,3\r\n");
  ASSERT_TRUE(Open());
  EXPECT_EQ(SendMessageA(GetDlgItem(window_, IDC_JOB_LIST), LVM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(gRun.total_mib, 7u);

  const HWND end_box = GetDlgItem(window_, IDC_END_OPTION);
  const HWND limit_box = GetDlgItem(window_, IDC_TIME_LIMIT);
  const std::vector<std::string> ends = {"End Option", "Close", "Shutdown", "Hibernate"};
  const std::vector<std::string> limits = {"Time Limit", "5 Minute", "10 Minute", "30 Minute",
                                           "1 Hour",     "2 Hours",  "5 Hours"};
  ASSERT_EQ(SendMessageA(end_box, CB_GETCOUNT, 0, 0), 4);
  ASSERT_EQ(SendMessageA(limit_box, CB_GETCOUNT, 0, 0), 7);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(ComboText(end_box, i), ends[i]);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(ComboText(limit_box, i), limits[i]);
  EXPECT_EQ(SendMessageA(end_box, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(SendMessageA(limit_box, CB_GETCURSEL, 0, 0), 3);

  // Only a change of selection sets a value; typing in the field does not.
  SendMessageA(limit_box, CB_SETCURSEL, 5, 0);
  Command(IDC_TIME_LIMIT, CBN_EDITCHANGE);
  EXPECT_EQ(gRunSettings.time_limit, 3);
  Command(IDC_TIME_LIMIT, CBN_SELCHANGE);
  EXPECT_EQ(gRunSettings.time_limit, 5);
  SendMessageA(end_box, CB_SETCURSEL, 1, 0);
  Command(IDC_END_OPTION, CBN_SELCHANGE);
  EXPECT_EQ(gRunSettings.end_option, 1);
  gRunSettings.end_option = kEndNone;  // no watcher for this test's closing
  SendMessageA(end_box, CB_SETCURSEL, 0, 0);
  Command(IDC_END_OPTION, CBN_SELCHANGE);

  Command(IDCANCEL);
  EXPECT_FALSE(IsWindow(window_));
  const std::string saved = ReadFile(project_);
  EXPECT_NE(saved.find("O,0,Mirror,C:\\b,D:\\b\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("T,7,0,5\r\n"), std::string::npos) << saved;
}

TEST_F(MainDialogTest, OutOfRangeSettingsSelectNothing) {
  WriteProject("O,1,Copy,C:\\a,D:\\a\r\nT,0,0,9\r\n");
  ASSERT_TRUE(Open());
  EXPECT_EQ(SendMessageA(GetDlgItem(window_, IDC_TIME_LIMIT), CB_GETCURSEL, 0, 0), CB_ERR);
}

TEST_F(MainDialogTest, AJobLeftOutAtLoadIsNamedInTheLog) {
  WriteProject("O,1,Copy,C:\\a,D:\\a\r\nO,1,Copy,C:\\b");
  ASSERT_TRUE(Open());
  EXPECT_EQ(
      LogLines(window_),
      std::vector<std::string>{"Error: Job on line 2 left out, record cut short: O,1,Copy,C:\\b"});
}

// The command after the pass: shown from the project, set and cleared in its
// box, and saved when the window closes.
TEST_F(MainDialogTest, TheCommandBoxShowsSetsAndClearsTheCommand) {
  const std::string jobs = "O,1,Copy,C:\\a,D:\\a\r\nT,0,0,0\r\n";
  const struct {
    const char* typed;
    std::string saved;
  } cases[] = {
      {"cmd /c echo done, \xC3\xA9t\xC3\xA9", jobs + "N,cmd /c echo done, \xC3\xA9t\xC3\xA9\r\n"},
      {"", jobs},
  };
  WriteProject(jobs + "N,cmd /c echo a, b\r\n");
  std::string shown = "cmd /c echo a, b";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    ASSERT_TRUE(Open());
    const HWND box = GetDlgItem(window_, IDC_AFTER_COMMAND);
    char text[128] = {};
    GetWindowTextA(box, text, sizeof text);
    EXPECT_EQ(text, shown);
    SetWindowTextA(box, c.typed);
    Command(IDC_AFTER_COMMAND, EN_KILLFOCUS);
    EXPECT_EQ(gRunSettings.after_command, c.typed);
    Command(IDCANCEL);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(ReadFile(project_), c.saved);
    shown = c.typed;
  }
}

TEST_F(MainDialogTest, ClosingWhenIdleWritesTheProjectEvenWhenNothingChanged) {
  WriteProject("O,1,Copy,C:\\a,D:\\a\r\nT,0,0,0\r\n");
  ASSERT_TRUE(Open());
  fs::remove(project_);
  Command(IDCANCEL);
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_EQ(ReadFile(project_), "O,1,Copy,C:\\a,D:\\a\r\nT,0,0,0\r\n");
}

TEST_F(MainDialogTest, StartRunsAPassIntoTheLogAndTheProgressBar) {
  MakeTrees();
  WriteCopyProject(kEndNone, 0);
  ASSERT_TRUE(Open());
  gRun.total_mib = 10;
  Command(IDC_START);
  ASSERT_TRUE(WaitForLog("Done.")) << ::testing::PrintToString(LogLines(window_));
  const std::vector<std::string> lines = LogLines(window_);
  int copies = 0;
  for (const std::string& line : lines)
    copies += line.rfind("Copying ", 0) == 0;
  EXPECT_EQ(copies, 2) << ::testing::PrintToString(lines);
  const HWND bar = GetDlgItem(window_, IDC_PROGRESS);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 3);
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 10);
  EXPECT_EQ(ReadFile(fs::path(destination_) / "small.txt"), "small");
  EXPECT_TRUE(PumpUntil([] { return !gRun.pass_slot; }));
  EXPECT_TRUE(IsWindow(window_));
}

// A job's patterns, edited in their dialog from the job's menu, are what the
// next pass leaves out, and what the project keeps.
TEST_F(MainDialogTest, PatternsEditedInTheirDialogAreHonouredByTheNextPass) {
  MakeTrees();
  WriteCopyProject(kEndNone, 0);
  ASSERT_TRUE(Open());
  ListView_SetItemState(gJobListView, 0, LVIS_SELECTED | LVIS_FOCUSED,
                        LVIS_SELECTED | LVIS_FOCUSED);
  // The dialog runs its own loop on this thread: another one fills it in.
  std::atomic<bool> answered{false};
  std::thread answer([&] {
    for (int i = 0; i < 2000 && !answered; ++i) {
      // A dialog is shown once its initialisation has filled the box; text
      // set before then would be overwritten.
      HWND dialog = FindWindowA(nullptr, kPatternsCaption);
      if (dialog != nullptr && IsWindowVisible(dialog)) {
        const char kTyped[] = "*.bin\r\n\r\nnone/";
        SetDlgItemTextA(dialog, IDC_PATTERNS, kTyped);
        char shown[64] = {};
        GetDlgItemTextA(dialog, IDC_PATTERNS, shown, sizeof shown);
        if (std::strcmp(shown, kTyped) == 0) {
          PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
          answered = true;
        }
      }
      Sleep(10);
    }
  });
  Command(IDM_PATTERNS);
  answer.join();
  ASSERT_TRUE(answered);
  EXPECT_EQ(gJobs.slots[0]->exclusions, (std::vector<std::string>{"*.bin", "none/"}));
  Command(IDC_START);
  ASSERT_TRUE(WaitForLog("Done.")) << ::testing::PrintToString(LogLines(window_));
  EXPECT_TRUE(LogHas(window_, "Leaving out: *.bin | none/"));
  EXPECT_EQ(ReadFile(fs::path(destination_) / "small.txt"), "small");
  EXPECT_FALSE(fs::exists(fs::path(destination_) / "big.bin"));
  ASSERT_TRUE(PumpUntil([] { return !gRun.pass_slot; }));
  CloseMainWindow(window_);
  EXPECT_NE(ReadFile(project_).find("\r\nX,*.bin\r\nX,none/\r\n"), std::string::npos);
}

// Names in any script show as themselves in the job list and the log, whose
// shortened lines keep whole characters and the file name. (The project
// file's own test saves them unchanged.)
TEST_F(MainDialogTest, NamesInAnyScriptShowAndRoundTrip) {
  source_ = dir_.Join("Quelle-\xC3\x96lfarbe");
  std::string deep = "Ziel";
  for (int i = 0; i < 4; ++i)
    deep += "-\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE-\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
  destination_ = dir_.Join(deep);
  const std::string names[] = {"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0.txt",
                               "\xE5\x86\x99\xE7\x9C\x9F.jpg", "emoji-\xF0\x9F\x98\x80.txt"};
  fs::create_directories(Utf8Path(source_));
  fs::create_directories(Utf8Path(destination_));
  for (const std::string& name : names)
    WriteFile(Utf8Path(source_ + "\\" + name), name);
  WriteCopyProject(kEndNone, 0);
  ASSERT_TRUE(Open());
  EXPECT_EQ(ShownCell(window_, 0, 1), Wide(source_));
  EXPECT_EQ(ShownCell(window_, 0, 2), Wide(destination_));

  Command(IDC_START);
  ASSERT_TRUE(WaitForLog("Done."));
  const std::vector<std::wstring> lines = ShownLogLines(window_);
  for (const std::string& name : names) {
    const std::wstring tail = Wide("\\" + name);
    const bool shown = std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
      return line.starts_with(L"Copying ") && line.find(L"...") != std::wstring::npos &&
             line.ends_with(tail);
    });
    EXPECT_TRUE(shown) << name;
  }
}

// A pass leaves its entry in the run log beside the project, with the paths
// the window shortens in full; the window opened again shows it at a glance.
TEST_F(MainDialogTest, APassLeavesItsEntryInTheRunLogShownAtTheNextOpen) {
  destination_ = dir_.Join(std::string(150, 'd'));
  MakeTrees();
  WriteCopyProject(kEndNone, 0);
  ASSERT_TRUE(Open());
  Command(IDC_START);
  ASSERT_TRUE(WaitForLog("Done."));
  ASSERT_TRUE(PumpUntil([] { return !gRun.pass_slot; }));
  const std::string shown = LogLines(window_)[0];
  Command(IDCANCEL);

  std::vector<std::string> log;
  std::istringstream text(ReadFile(dir_.Join("test.log")));
  for (std::string line; std::getline(text, line);)
    log.push_back(line.substr(0, line.find_last_not_of('\r') + 1));  // a text file's line ends
  ASSERT_EQ(log.size(), 5u) << ReadFile(dir_.Join("test.log"));
  EXPECT_EQ(log[0].substr(19), " Run of " + project_);
  const std::string copied = log[1];
  EXPECT_TRUE(copied == "Copying " + destination_ + "\\big.bin" ||
              copied == "Copying " + destination_ + "\\small.txt")
      << copied;
  EXPECT_NE(shown, copied);  // shortened in the window
  EXPECT_EQ(log[3], "Done.");

  ASSERT_TRUE(Open());
  const std::vector<std::string> lines = LogLines(window_);
  ASSERT_EQ(lines.size(), 1u);
  const std::string glance = "Last run " + log[4].substr(4, 16) +
                             ", less than a minute ago: finished, 2 copied, 3 MiB in 0:0";
  EXPECT_EQ(lines[0].substr(0, glance.size()), glance);
}

TEST_F(MainDialogTest, EnterStartsTheWatcherAndStopEndsIt) {
  WriteCopyProject(kEndNone, 0);  // paths that never appear
  ASSERT_TRUE(Open());
  MSG enter = {};
  enter.hwnd = window_;
  enter.message = WM_KEYDOWN;
  enter.wParam = VK_RETURN;
  IsDialogMessageA(window_, &enter);
  ASSERT_TRUE(WaitForLog("Waiting on network path..."));
  Command(IDC_STOP);
  EXPECT_TRUE(LogHas(window_, "Stopping watch thread..."));
  EXPECT_TRUE(WaitForLog("Watcher stopped."));
  EXPECT_TRUE(PumpUntil([] { return !gRun.watcher_slot; }));
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(MainDialogTest, StopDuringAPassEndsItAndKeepsTheWindow) {
  ASSERT_NO_FATAL_FAILURE(StartHeldPass());
  Command(IDC_STOP);
  EXPECT_TRUE(LogHas(window_, "Stopping..."));
  gate_.Open();
  ASSERT_TRUE(WaitForLog("Done."));
  EXPECT_TRUE(PumpUntil([] { return !gRun.pass_slot; }));
  Pump();
  EXPECT_TRUE(IsWindow(window_));
  // The pass stopped after the entry in hand: the second file was not copied.
  EXPECT_EQ(gate_.arrived, 1);
}

// The path part of a log line may take a fifth more than the log (the
// client width less 10), less the prefix.
TEST(LogPathWidth, AFifthMoreThanTheLogLessThePrefix) {
  EXPECT_EQ(LogPathWidth(510, 50), 550);
  EXPECT_EQ(LogPathWidth(20, 9), 3);
}

// Counts the log list's paints.
std::atomic<int> gLogPaints;
WNDPROC gLogProc;
LRESULT CALLBACK CountingLogProc(HWND log, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) ++gLogPaints;
  return CallWindowProcA(gLogProc, log, message, wparam, lparam);
}

TEST_F(MainDialogTest, ABurstOfLinesIsDrawnAFewTimesAndEndsOnItsLastLine) {
  WriteProject("");
  ASSERT_TRUE(Open());
  const HWND log = GetDlgItem(window_, IDC_LOG);
  ASSERT_TRUE(IsWindowVisible(log));
  gLogProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingLogProc)));
  gLogPaints = 0;

  constexpr int kLines = 300;
  std::atomic<bool> sent{false};
  // Paints up to the moment the last line is in the list: the send returns
  // only once the window thread has added it.
  std::atomic<int> paints_before_last_line{0};
  const ULONGLONG start = GetTickCount64();
  std::thread worker([&] {
    for (int i = 0; i < kLines; ++i)
      MainWindowHost()->AppendLog(("line " + std::to_string(i)).c_str());
    paints_before_last_line = gLogPaints.load();
    sent = true;
  });
  const bool finished = PumpUntil([&] { return sent.load(); });
  worker.join();
  ASSERT_TRUE(finished);
  const ULONGLONG burst = GetTickCount64() - start;
  // Drawn per line, the burst would be painted about once a line.
  EXPECT_LE(gLogPaints, static_cast<int>(burst / 100) + 3) << burst << " ms";

  // Every line is there, in order, and once the burst is over the list is
  // drawn with the last line in view.
  const std::vector<std::string> lines = LogLines(window_);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kLines));
  for (int i = 0; i < kLines; ++i)
    ASSERT_EQ(lines[i], "line " + std::to_string(i));
  const ULONGLONG quiet = GetTickCount64() + 500;
  PumpUntil([&] { return GetTickCount64() > quiet; });
  EXPECT_GT(gLogPaints, paints_before_last_line);
  RECT client, last;
  GetClientRect(log, &client);
  ASSERT_NE(SendMessageA(log, LB_GETITEMRECT, kLines - 1, reinterpret_cast<LPARAM>(&last)), LB_ERR);
  EXPECT_GE(last.top, client.top);
  EXPECT_LE(last.bottom, client.bottom);
  SetWindowLongPtrA(log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gLogProc));
}

TEST_F(MainDialogTest, CloseBoxDuringAPassClosesAfterDoneAndSaves) {
  ASSERT_NO_FATAL_FAILURE(StartHeldPass());
  fs::remove(project_);
  Command(IDCANCEL);
  ASSERT_TRUE(IsWindow(window_));
  EXPECT_TRUE(LogHas(window_, "Stopping..."));
  EXPECT_FALSE(LogHas(window_, "Done."));
  gate_.Open();
  // The pass logs "Done." and then posts the close: the window is still there
  // until the posted message is handled.
  ASSERT_TRUE(HandleSentUntil([&] { return LogHas(window_, "Done."); }));
  EXPECT_EQ(LogLines(window_).back(), "Done.");
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(window_); }));
  EXPECT_NE(ReadFile(project_).find("O,1,Copy,"), std::string::npos);
  EXPECT_TRUE(power_.calls.empty());
}

TEST_F(MainDialogTest, AnEndOptionStartsTheWatcherAtOnce) {
  WriteCopyProject(kEndShutdown, 0);  // paths that never appear
  gRunSettings.mass_change = MassChange::kAsk;
  ASSERT_TRUE(Open());
  EXPECT_TRUE(LogHas(window_, "Waiting on network path..."));
  // Nobody pressed Start: a mass change is refused.
  EXPECT_EQ(gRunSettings.mass_change, MassChange::kRefuse);
  // Closing while the watcher waits ends it, then the window.
  Command(IDCANCEL);
  EXPECT_TRUE(LogHas(window_, "Stopping watch thread..."));
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window_); }));
  EXPECT_TRUE(power_.calls.empty());
}

// A Mirror whose destination holds 30 files its source lacks, beside one it has.
class MassChangeDialogTest : public MainDialogTest {
 protected:
  void WriteMirrorProject(int end_option) {
    fs::create_directories(fs::path(source_));
    fs::create_directories(fs::path(destination_) / "old");
    WriteFile(fs::path(source_) / "keep.txt", "k");
    WriteFile(fs::path(destination_) / "keep.txt", "k");
    for (int i = 0; i < 30; ++i)
      WriteFile(fs::path(destination_) / "old" / std::to_string(i), "x");
    WriteProject("O,1,Mirror," + source_ + "," + destination_ + "\r\nT,0," +
                 std::to_string(end_option) + ",0\r\n");
  }
  std::string Refusal() const {
    return "Error: Mirror would remove 30 of 31 files in " + destination_ + " - nothing removed";
  }
};

TEST_F(MassChangeDialogTest, ARunStartedByTheEndOptionRefusesWithoutAsking) {
  WriteMirrorProject(kEndClose);
  ASSERT_TRUE(Open());
  bool box_shown = false;
  EXPECT_TRUE(PumpUntil([&] {
    box_shown = box_shown || FindWindowA(nullptr, kMassChangeCaption) != nullptr;
    return LogHas(window_, Refusal());
  }));
  EXPECT_FALSE(box_shown);
  EXPECT_TRUE(fs::exists(fs::path(destination_) / "old" / "0"));
}

TEST_F(MassChangeDialogTest, StartByHandAsksAndYesLetsItThrough) {
  WriteMirrorProject(kEndNone);
  ASSERT_TRUE(Open());
  // The box runs its own loop on this thread: another one answers it.
  std::atomic<bool> answered{false};
  std::thread answer([&] {
    for (int i = 0; i < 2000 && !answered; ++i) {
      if (HWND box = FindWindowA(nullptr, kMassChangeCaption)) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
        answered = true;
      }
      Sleep(10);
    }
  });
  Command(IDC_START);
  EXPECT_TRUE(PumpUntil([&] { return LogHas(window_, "Done."); }));
  answer.join();
  EXPECT_TRUE(answered);
  EXPECT_FALSE(LogHas(window_, Refusal()));
  EXPECT_FALSE(fs::exists(fs::path(destination_) / "old"));
}

TEST_F(MainDialogTest, TheEndOptionActsOnTheFifthTickAfterDone) {
  struct Case {
    int end_option;
    bool hibernate_works;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {kEndClose, true, {}},
      {kEndShutdown, true, {"shutdown"}},
      {kEndHibernate, true, {"hibernate"}},
      {kEndHibernate, false, {"hibernate", "shutdown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.end_option);
    fs::remove_all(destination_);
    MakeTrees();
    WriteCopyProject(c.end_option, 0);
    power_.calls.clear();
    power_.hibernate_works = c.hibernate_works;
    gCountdown = 0;
    ASSERT_TRUE(Open());
    // The test brings the ticks itself.
    KillTimer(window_, kTimerId);
    ASSERT_TRUE(WaitForLog("Done."));
    // The pass sets the count as its very last act.
    ASSERT_TRUE(PumpUntil([] { return gCountdown == 5; }));
    for (int tick = 1; tick <= 4; ++tick) {
      SendMessageA(window_, WM_TIMER, kTimerId, 0);
      ASSERT_TRUE(IsWindow(window_)) << "tick " << tick;
    }
    EXPECT_TRUE(power_.calls.empty());
    SendMessageA(window_, WM_TIMER, kTimerId, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(power_.calls, c.calls);
    EXPECT_NE(ReadFile(project_).find("T,3," + std::to_string(c.end_option)), std::string::npos);
  }
}

TEST_F(MainDialogTest, AWindowClosedWhileMinimizedStoresItsRestoredPlace) {
  WriteProject("");
  const int32_t place[4] = {130, 110, 660, 420};
  WriteSetting("WindowRect", REG_BINARY, place, sizeof place);
  ASSERT_TRUE(Open());
  ShowWindow(window_, SW_MINIMIZE);
  Pump();
  ASSERT_TRUE(IsIconic(window_));
  DestroyWindow(window_);
  EXPECT_EQ(ReadPlacement(), (std::vector<int32_t>{130, 110, 660, 420}));
}

}  // namespace
