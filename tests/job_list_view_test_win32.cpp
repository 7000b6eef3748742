// The job list view against a real list view control: rows and jobs in step,
// checkboxes, the job commands, the context menu's hit test and dropped paths.
#include "ui/main_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "run/run_control.h"
#include "tests/test_support.h"
#include "tests/ui_test_window.h"

namespace {

struct TestJob {
  const char* source;
  const char* destination;
  uint16_t flags;
  uint16_t mode;
};

class JobListViewTest : public ::testing::Test {
 protected:
  void TearDown() override { CloseMainWindow(window_); }

  // Opens the window on a project holding these jobs, as at start-up.
  void Open(const std::vector<TestJob>& jobs) {
    std::string text;
    for (const TestJob& job : jobs) {
      text += "O," + std::to_string(job.flags) + "," + ModeName(job.mode) + "," + job.source + "," +
              job.destination + "\r\n";
    }
    if (!jobs.empty()) WriteFile(project_, text + "T,0,0,0\r\n");
    DeleteSettings();
    window_ = OpenMainWindow(project_);
    ASSERT_NE(window_, nullptr);
    ASSERT_EQ(gJobs.count, static_cast<int>(jobs.size()));
  }

  int Rows() { return static_cast<int>(SendMessageA(gJobListView, LVM_GETITEMCOUNT, 0, 0)); }
  bool Ticked(int row) { return ListView_GetCheckState(gJobListView, row) != 0; }
  void SetTick(int row, bool ticked) { ListView_SetCheckState(gJobListView, row, ticked); }
  void Select(int row) {
    ListView_SetItemState(gJobListView, row, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
  }
  int Selected() { return ListView_GetNextItem(gJobListView, -1, LVNI_SELECTED); }
  std::string Text(int row, int column) {
    char text[300] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(gJobListView, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
  }
  JobRecord* RowRecord(int row) {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendMessageA(gJobListView, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return reinterpret_cast<JobRecord*>(item.lParam);
  }
  // Every row shows its own job: record, texts and checkbox.
  void ExpectRowsMatchJobs() {
    ASSERT_EQ(Rows(), gJobs.count);
    for (int i = 0; i < gJobs.count; ++i) {
      const JobRecord* job = gJobs.slots[i];
      EXPECT_EQ(RowRecord(i), job) << "row " << i;
      EXPECT_EQ(Text(i, 0), ModeName(job->mode)) << "row " << i;
      EXPECT_EQ(Text(i, 1), job->source) << "row " << i;
      EXPECT_EQ(Text(i, 2), job->destination) << "row " << i;
      EXPECT_EQ(Ticked(i), IsEnabled(*job)) << "row " << i;
    }
  }
  TempDir dir_;
  const std::string project_ = dir_.Join("jobs.lpj");
  HWND window_ = nullptr;
};

TEST_F(JobListViewTest, LoadedJobsShowTheirTextsAndTicks) {
  Open({{"C:\\a", "D:\\a", 0x0001, kModeCopy},
        {"C:\\b", "D:\\b", 0x0003, kModeMirror},
        {"C:\\c", "", 0x0001, kModeSync},
        {"C:\\d", "D:\\d", 0x0000, kModeMove}});
  ExpectRowsMatchJobs();
  // The insertion's unticked notification must not reach the flags word.
  EXPECT_EQ(gJobs.slots[0]->flags, 0x0001);
  EXPECT_EQ(gJobs.slots[1]->flags, 0x0003);
  EXPECT_EQ(gJobs.slots[3]->flags, 0x0000);
  for (int i = 0; i < gJobs.count; ++i)
    EXPECT_EQ(FindJobRow(gJobs.slots[i]), i);
  JobRecord stranger = {};
  EXPECT_EQ(FindJobRow(&stranger), -1);
}

TEST_F(JobListViewTest, CheckboxReachesTheJobOnlyAsABareImage) {
  Open({{"C:\\a", "D:\\a", 1, 0}, {"C:\\b", "D:\\b", 1, 0}, {"C:\\c", "D:\\c", 1, 0}});
  Select(0);

  SetTick(2, false);  // neither selected nor focused: at once
  EXPECT_FALSE(IsEnabled(*gJobs.slots[2]));
  SetTick(2, true);
  EXPECT_TRUE(IsEnabled(*gJobs.slots[2]));

  SetTick(0, false);  // the selected row: only once it loses its selection
  EXPECT_FALSE(Ticked(0));
  EXPECT_TRUE(IsEnabled(*gJobs.slots[0]));
  Select(1);
  EXPECT_FALSE(IsEnabled(*gJobs.slots[0]));
  EXPECT_TRUE(IsEnabled(*gJobs.slots[1]));
  EXPECT_EQ(gCurrentRow, 1);
  EXPECT_EQ(gCurrentRecord, gJobs.slots[1]);
}

TEST_F(JobListViewTest, DeleteKeepsRowsAndJobsInStep) {
  Open({});
  OnJobCommand(window_, IDM_DELETE);  // an empty list
  EXPECT_EQ(Rows(), 0);
  CloseMainWindow(window_);

  Open({{"C:\\a", "D:\\a", 1, 0}, {"C:\\b", "D:\\b", 0, 1}, {"C:\\c", "D:\\c", 1, 2}});
  Select(2);
  OnJobCommand(window_, IDM_DELETE);
  ExpectRowsMatchJobs();
  ASSERT_EQ(gJobs.count, 2);
  EXPECT_STREQ(gJobs.slots[1]->source, "C:\\b");
  EXPECT_EQ(Selected(), 1);
  EXPECT_EQ(gCurrentRow, 1);

  // The Delete key on the first row: the job below takes its place and is selected.
  Select(0);
  SendMessageA(gJobListView, WM_KEYDOWN, VK_DELETE, 0);
  ExpectRowsMatchJobs();
  ASSERT_EQ(gJobs.count, 1);
  EXPECT_STREQ(gJobs.slots[0]->source, "C:\\b");
  EXPECT_EQ(Selected(), 0);

  OnJobCommand(window_, IDM_DELETE);
  EXPECT_EQ(gJobs.count, 0);
  EXPECT_EQ(Rows(), 0);
  OnJobCommand(window_, IDM_DELETE);
  EXPECT_EQ(gJobs.count, 0);
}

TEST_F(JobListViewTest, MovesKeepEachCheckboxWithItsJobAndAreSaved) {
  Open({{"C:\\a", "D:\\a", 1, 0}, {"C:\\b", "D:\\b", 1, 1}, {"C:\\c", "D:\\c", 0, 2}});
  Select(2);
  OnJobCommand(window_, IDM_MOVE_UP);
  ExpectRowsMatchJobs();
  EXPECT_STREQ(gJobs.slots[1]->source, "C:\\c");
  EXPECT_EQ(gJobs.slots[1]->flags, 0);
  EXPECT_EQ(gJobs.slots[2]->flags, 1);
  EXPECT_EQ(Selected(), 1);

  Select(2);
  OnJobCommand(window_, IDM_MOVE_DOWN);  // the last row stays
  Select(0);
  OnJobCommand(window_, IDM_MOVE_UP);  // the first row stays
  ExpectRowsMatchJobs();
  EXPECT_STREQ(gJobs.slots[0]->source, "C:\\a");
  EXPECT_STREQ(gJobs.slots[2]->source, "C:\\b");

  OnJobCommand(window_, IDM_MOVE_DOWN);
  ExpectRowsMatchJobs();
  EXPECT_STREQ(gJobs.slots[0]->source, "C:\\c");
  EXPECT_STREQ(gJobs.slots[1]->source, "C:\\a");
  EXPECT_EQ(Selected(), 1);

  CloseMainWindow(window_);  // which saves the project
  EXPECT_EQ(ReadFile(project_),
            "O,0,Move,C:\\c,D:\\c\r\nO,1,Copy,C:\\a,D:\\a\r\nO,1,Mirror,C:\\b,D:\\b\r\n"
            "T,0,0,0\r\n");
}

TEST_F(JobListViewTest, ModeCommandsSetTheCurrentJobsMode) {
  Open({{"C:\\a", "D:\\a", 1, 0}, {"C:\\b", "D:\\b", 1, 0}});
  Select(1);
  for (int mode = kJobModeCount - 1; mode >= 0; --mode) {
    OnJobCommand(window_, IDM_MODE_COPY + mode);
    EXPECT_EQ(gJobs.slots[1]->mode, mode);
    EXPECT_EQ(Text(1, 0), ModeName(mode));
    EXPECT_EQ(gJobs.slots[0]->mode, kModeCopy);
  }
  gCurrentRow = 2;  // not a job's row
  OnJobCommand(window_, IDM_MODE_COPY + kModeSync);
  EXPECT_EQ(gJobs.slots[0]->mode, kModeCopy);
  EXPECT_EQ(gJobs.slots[1]->mode, kModeCopy);
}

TEST_F(JobListViewTest, ContextMenuHitsOnlyTheCurrentRow) {
  Open({});
  RECT empty;
  GetWindowRect(gJobListView, &empty);
  for (int y = 0; y < 60; y += 5) {
    EXPECT_FALSE(CursorOnCurrentRow({empty.left + 10, empty.top + y})) << "y " << y;
  }
  CloseMainWindow(window_);

  Open({{"C:\\a", "D:\\a", 1, 0}, {"C:\\b", "D:\\b", 1, kModeMove}});
  Select(1);
  RECT list;
  GetWindowRect(gJobListView, &list);
  RECT row = {};
  row.left = LVIR_BOUNDS;
  ASSERT_TRUE(SendMessageA(gJobListView, LVM_GETSUBITEMRECT, 1, reinterpret_cast<LPARAM>(&row)));
  const struct {
    int y;
    bool hit;
  } cases[] = {{row.top, true},         {(row.top + row.bottom) / 2, true},
               {row.bottom, true},      {row.top - 1, false},
               {row.bottom + 1, false}, {row.bottom + 3 * (row.bottom - row.top), false}};
  for (const auto& c : cases) {
    // x is not tested: a point far right of the row still hits.
    const POINT cursor = {list.left + 5000, list.top + c.y};
    EXPECT_EQ(CursorOnCurrentRow(cursor), c.hit) << "y " << c.y;
  }

  HMENU menu = LoadMenuA(gModule, MAKEINTRESOURCEA(IDM_JOB_MENU));
  ASSERT_NE(menu, nullptr);
  HMENU popup = GetSubMenu(menu, 0);
  CheckModeItem(popup, gJobs.slots[1]->mode);
  for (int mode = 0; mode < kJobModeCount; ++mode) {
    const UINT state = GetMenuState(GetSubMenu(popup, 0), IDM_MODE_COPY + mode, MF_BYCOMMAND);
    EXPECT_EQ((state & MF_CHECKED) != 0, mode == kModeMove) << "mode " << mode;
  }
  DestroyMenu(menu);
}

// A shell drop of UTF-8 paths, in UTF-16 as the file manager hands it over.
HDROP MakeDrop(const std::vector<std::string>& paths) {
  std::wstring text;
  for (const std::string& path : paths) {
    std::wstring wide(path.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                    wide.data(), static_cast<int>(wide.size())));
    text += wide + L'\0';
  }
  text += L'\0';
  const size_t size = text.size() * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + size);
  auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), text.data(), size);
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// Names in any script come in as their UTF-8.
TEST_F(JobListViewTest, DroppedFoldersPairIntoJobs) {
  Open({});
  const std::string a = dir_.Join("\xC3\x96lfarbe-\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE");
  const std::string b = dir_.Join("\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80");
  const std::string c = dir_.Join("c");
  for (const std::string& path : {a, b, c})
    fs::create_directory(Utf8Path(path));
  OnDropFiles(window_, MakeDrop({a, b, c}));
  ASSERT_EQ(gJobs.count, 2);
  EXPECT_EQ(gJobs.slots[0]->source, a);
  EXPECT_EQ(gJobs.slots[0]->destination, b);
  EXPECT_EQ(gJobs.slots[1]->source, c);
  EXPECT_STREQ(gJobs.slots[1]->destination, "");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(gJobs.slots[i]->flags, kJobEnabled);
    EXPECT_EQ(gJobs.slots[i]->mode, kModeCopy);
  }
  ExpectRowsMatchJobs();
  EXPECT_TRUE(LogLines(window_).empty());
}

TEST_F(JobListViewTest, OverlongDroppedPathsAreRefusedByName) {
  const std::string prefix = "C:\\";
  auto path_of = [&](size_t length, char fill) {
    return prefix + std::string(length - prefix.size(), fill);
  };
  const std::string source_max = path_of(255, 's');
  const std::string source_over = path_of(256, 't');
  const std::string buffer_max = path_of(258, 'd');
  const std::string buffer_over = path_of(259, 'e');
  const std::string far_over = path_of(400, 'f');
  Open({});

  // No unpaired job: every path would be a source, 255 characters at most.
  OnDropFiles(window_, MakeDrop({source_over, far_over, source_max}));
  ASSERT_EQ(gJobs.count, 1);
  EXPECT_EQ(gJobs.slots[0]->source, source_max);
  // Job 0 lacks its destination, which holds up to 275 characters, but the
  // drop buffer reads 258 at most: a longer path would be cut.
  OnDropFiles(window_, MakeDrop({buffer_over, buffer_max}));
  ASSERT_EQ(gJobs.count, 1);
  EXPECT_EQ(gJobs.slots[0]->destination, buffer_max);
  ExpectRowsMatchJobs();

  const std::vector<std::string> expected = {"Path too long, not added: " + source_over,
                                             "Path too long, not added: " + far_over,
                                             "Path too long, not added: " + buffer_over};
  EXPECT_EQ(LogLines(window_), expected);
}

// The project file splits fields at commas: a job holding one would come back
// with other paths, a Mirror into the parent of its destination among them.
TEST_F(JobListViewTest, DroppedPathsWithACommaAreRefusedByName) {
  const std::string source_comma = "C:\\Photos, 2023";
  const std::string destination_comma = "E:\\Back, up";
  Open({});

  OnDropFiles(window_, MakeDrop({source_comma, "C:\\Photos"}));
  OnDropFiles(window_, MakeDrop({destination_comma, "E:\\Backup"}));
  ASSERT_EQ(gJobs.count, 1);
  EXPECT_STREQ(gJobs.slots[0]->source, "C:\\Photos");
  EXPECT_STREQ(gJobs.slots[0]->destination, "E:\\Backup");
  ExpectRowsMatchJobs();
  const std::vector<std::string> expected = {"Path holds a comma, not added: " + source_comma,
                                             "Path holds a comma, not added: " + destination_comma};
  EXPECT_EQ(LogLines(window_), expected);

  CloseMainWindow(window_);  // which saves the project
  EXPECT_EQ(ReadFile(project_), "O,1,Copy,C:\\Photos,E:\\Backup\r\nT,0,0,0\r\n");
}

}  // namespace
