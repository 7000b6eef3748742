#include "jobs/project_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "jobs/after_command.h"
#include "jobs/utf8.h"
#include "tests/test_support.h"

namespace {

class ProjectFileTest : public ::testing::Test {
 protected:
  ~ProjectFileTest() override { ClearJobs(jobs); }

  // Writes text as the project file and loads it.
  bool Load(const std::string& text) {
    WriteFile(path, text);
    return LoadProject(path.c_str(), jobs, totals, state);
  }
  bool Save() { return SaveProject(path.c_str(), jobs, totals, state); }

  void ExpectJob(int i, int flags, int mode, const char* source, const char* destination) {
    ASSERT_LT(i, jobs.count);
    const JobRecord& job = *jobs.slots[i];
    EXPECT_EQ(job.flags, flags) << "job " << i;
    EXPECT_EQ(job.mode, mode) << "job " << i;
    EXPECT_STREQ(job.source, source) << "job " << i;
    EXPECT_STREQ(job.destination, destination) << "job " << i;
  }

  // Makes link a symbolic link to target; false, with a note, where the
  // system lets no test make one.
  static bool MakeLink(const fs::path& target, const fs::path& link) {
    std::error_code error;
    fs::create_symlink(target, link, error);
    if (error) std::printf("No symbolic link could be made here: %s\n", error.message().c_str());
    return !error;
  }

  // Every file in the folder besides the project itself.
  std::vector<std::string> OtherFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      if (entry.path().string() != path) names.push_back(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir;
  std::string path = dir.Join("work.lpj");
  JobList jobs;
  TotalsRecord totals;
  ProjectState state;
};

// Names in any script load and save as their UTF-8 bytes; so does a file
// that reads both ways (the UTF-8 of "Ö" is "Ã–" in code page 1252).
TEST_F(ProjectFileTest, LoadsTheExampleAndWritesItBackUnchanged) {
  const std::string text =
      "O,1,Mirror,D:\\Photos,E:\\Backup\\Photos\r\n"
      "O,0,Sync,C:\\Work,F:\\Work\r\n"
      "O,1,Sync,C:\\\xC3\x96l\xD0\xA4,D:\\\xE6\x97\xA5\xF0\x9F\x98\x80\r\n"
      "T,152,2,0\r\n";
  ASSERT_TRUE(Load(text));
  ASSERT_EQ(jobs.count, 3);
  ExpectJob(0, 1, kModeMirror, "D:\\Photos", "E:\\Backup\\Photos");
  ExpectJob(1, 0, kModeSync, "C:\\Work", "F:\\Work");
  ExpectJob(2, 1, kModeSync, "C:\\\xC3\x96l\xD0\xA4", "D:\\\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(totals.total, 152u);
  EXPECT_EQ(totals.end_option, 2);
  EXPECT_EQ(totals.time_limit, 0);
  EXPECT_FALSE(state.inexact);

  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path), text);
  EXPECT_TRUE(OtherFiles().empty());
}

TEST_F(ProjectFileTest, FieldReaderRules) {
  const struct {
    const char* name;
    const char* text;
    int jobs;
    uint32_t total;
    int end_option;
    int time_limit;
  } cases[] = {
      // The last job has no CR LF: it still loads whole.
      {"last job without line end", "O,1,Copy,a,b\r\nO,1,Move,c,d", 2, 7, 7, 7},
      // The last number has nothing after it: it is not stored.
      {"totals without line end", "O,1,Copy,a,b\r\nT,152,2,4", 1, 152, 2, 7},
      // A short totals line takes the next line's fields: the O as the end
      // option, 1 as the time limit; the rest is skipped and loads no job.
      {"short totals line", "T,152\r\nO,1,Copy,a,b\r\n", 0, 152, 0, 1},
      {"unknown record skipped", "X,1,2\r\nO,1,Copy,a,b\r\n", 1, 7, 7, 7},
      {"lower-case o is no job", "o,1,Copy,a,b\r\n", 0, 7, 7, 7},
      {"last totals record wins", "T,1,1,1\r\nO,1,Copy,a,b\r\nT,9,3,5\r\n", 1, 9, 3, 5},
      {"flags field ends the text", "O,1", 0, 7, 7, 7},
      {"empty file", "", 0, 7, 7, 7},
  };
  for (const auto& c : cases) {
    totals = TotalsRecord{7, 7, 7};
    ASSERT_TRUE(Load(c.text)) << c.name;
    EXPECT_EQ(jobs.count, c.jobs) << c.name;
    EXPECT_EQ(totals.total, c.total) << c.name;
    EXPECT_EQ(totals.end_option, c.end_option) << c.name;
    EXPECT_EQ(totals.time_limit, c.time_limit) << c.name;
  }
}

TEST_F(ProjectFileTest, FieldsAreNotLines) {
  // LF alone ends nothing: the destination runs on to the next CR, here the
  // end of the text.
  ASSERT_TRUE(Load("O,1,Copy,a,b\nO,1,Copy,c,d\n"));
  ASSERT_EQ(jobs.count, 1);
  ExpectJob(0, 1, kModeCopy, "a", "b\nO,1,Copy,c,d\n");

  // One LF after a comma is skipped too; an unknown mode loads as Copy, and
  // would be saved so: the file is kept.
  ASSERT_TRUE(Load("O,\n3,Backup,\nsrc,dst\r\n"));
  ASSERT_EQ(jobs.count, 1);
  ExpectJob(0, 3, kModeCopy, "src", "dst");
  EXPECT_TRUE(state.inexact);
}

// A path holding a comma is not cut there into another folder: the
// destination is the rest of its line as written, and the file is kept once.
TEST_F(ProjectFileTest, ADestinationIsTheRestOfItsLine) {
  // In the second the job line is one field short and takes the next line.
  for (const char* text : {"O,1,Mirror,s,E:\\Photos, 2024\r\nT,5,0,0\r\n",
                           "O,1,Mirror,s\r\nE:\\Photos, 2024\r\nT,5,0,0\r\n"}) {
    ASSERT_TRUE(Load(text));
    ExpectJob(0, 1, kModeMirror, "s", "E:\\Photos, 2024");
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadFile(path + ".bak"), text);
    ASSERT_TRUE(LoadProject(path.c_str(), jobs, totals, state));
    ASSERT_TRUE(Save());
    EXPECT_FALSE(fs::exists(path + ".bak2")) << "kept again at each save";
    fs::remove(path + ".bak");
  }
  // Joined, it may no longer fit: the job is then left out.
  ASSERT_TRUE(Load("O,1,Copy,s," + std::string(200, 'd') + "," + std::string(100, 'e') + "\r\n"));
  EXPECT_EQ(jobs.count, 0);
  EXPECT_EQ(state.left_out.size(), 1u);
}

TEST_F(ProjectFileTest, SavingAnEmptyListRemovesTheFile) {
  ASSERT_TRUE(Load("T,5,1,1\r\n"));
  ASSERT_EQ(jobs.count, 0);
  ASSERT_TRUE(Save());
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(OtherFiles().empty());
  // Nothing to remove is no failure either.
  EXPECT_TRUE(Save());
}

TEST_F(ProjectFileTest, MissingFileStartsEmptyAndIsCreatedBySave) {
  totals = TotalsRecord{3, 1, 2};
  EXPECT_FALSE(LoadProject(path.c_str(), jobs, totals, state));
  EXPECT_FALSE(state.unreadable);
  EXPECT_EQ(totals.total, 3u);
  ASSERT_TRUE(ReserveSlot(jobs));
  std::strcpy(jobs.slots[0]->source, "s");
  Commit(jobs);
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path), "O,0,Copy,s,\r\nT,3,1,2\r\n");
}

TEST_F(ProjectFileTest, EmptyPathReadsAndWritesNothing) {
  EXPECT_FALSE(LoadProject("", jobs, totals, state));
  ASSERT_TRUE(ReserveSlot(jobs));
  Commit(jobs);
  EXPECT_FALSE(SaveProject("", jobs, totals, state));
}

TEST_F(ProjectFileTest, UnreadableFileIsNeverOverwritten) {
  // A folder where the project should be cannot be read as a file.
  fs::create_directory(path);
  WriteFile(fs::path(path) / "inside", "kept");
  EXPECT_FALSE(LoadProject(path.c_str(), jobs, totals, state));
  EXPECT_TRUE(state.unreadable);
  ASSERT_TRUE(ReserveSlot(jobs));
  Commit(jobs);
  EXPECT_FALSE(Save());
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(ReadFile(fs::path(path) / "inside"), "kept");
}

TEST_F(ProjectFileTest, AFileFarLargerThanAnyProjectIsNotOurs) {
  // Named by mistake, say a disk image: it is neither read whole nor replaced.
  WriteFile(path, "O,1,Copy,a,b\r\n");
  fs::resize_file(path, kMaxWholeFileSize + 1);
  EXPECT_FALSE(LoadProject(path.c_str(), jobs, totals, state));
  EXPECT_TRUE(state.unreadable);
  ASSERT_TRUE(ReserveSlot(jobs));
  Commit(jobs);
  EXPECT_FALSE(Save());
  EXPECT_EQ(fs::file_size(path), kMaxWholeFileSize + 1);
}

TEST_F(ProjectFileTest, ReadsTheWholeFilePastTheOldLimit) {
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    text += "O,1,Copy,C:\\Source\\Folder" + std::to_string(i) + ",D:\\Backup\\Folder" +
            std::to_string(i) + "\r\n";
  }
  text += "T,77,1,3\r\n";
  ASSERT_GT(text.size(), 30000u);
  ASSERT_TRUE(Load(text));
  EXPECT_EQ(jobs.count, 2000);
  EXPECT_EQ(totals.total, 77u);
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path), text);
}

TEST_F(ProjectFileTest, PathsThatDoNotFitAreLeftOutAndTheFileKept) {
  const std::string long_source(300, 's');
  const std::string long_destination(276, 'd');
  const std::string text = "O,1,Copy," + long_source + ",dest\r\nO,1,Move,src," + long_destination +
                           "\r\nO,1,Sync,fits,also\r\nT,1,0,0\r\n";
  ASSERT_TRUE(Load(text));
  ASSERT_EQ(jobs.count, 1);
  ExpectJob(0, 1, kModeSync, "fits", "also");
  EXPECT_TRUE(state.inexact);
  ASSERT_EQ(state.left_out.size(), 2u);
  char line[kLeftOutLineSize];
  DescribeLeftOut(state.left_out[1], line, sizeof line);
  EXPECT_EQ(line, "Error: Job on line 2 left out, path too long: O,1,Move,src," +
                      long_destination.substr(0, 83) + "...");

  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path + ".bak"), text);
  EXPECT_EQ(ReadFile(path), "O,1,Sync,fits,also\r\nT,1,0,0\r\n");
  // The backup is made once, before the first save over the file.
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path + ".bak"), text);

  // A second inexact file does not overwrite the first backup.
  const std::string other = "O,1,Copy," + long_source + ",x\r\n";
  ASSERT_TRUE(Load(other));
  EXPECT_EQ(jobs.count, 0);
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path + ".bak"), text);
  EXPECT_EQ(ReadFile(path + ".bak2"), other);
  EXPECT_FALSE(fs::exists(path));
}

TEST(Utf8, IsUtf8) {
  for (const char* text :
       {"C:\\Backup", "\xC3\x96l \xD0\xA4\xD0\xBE \xE6\x97\xA5 \xF0\x9F\x98\x80"})
    EXPECT_TRUE(IsUtf8(text)) << text;
  // Legacy bytes, a character cut short, overlong, a surrogate, past U+10FFFF.
  for (const char* text :
       {"\xD6l", "Ma\xDF", "\xE6\x97", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
    EXPECT_FALSE(IsUtf8(text)) << text;
}

TEST(Utf8, FormatWholeCutsAtTheEndNeverInsideACharacter) {
  char line[16];
  FormatWhole(line, sizeof line, "%s%s", "Copying ", "/a/b");
  EXPECT_STREQ(line, "Copying /a/b");
  FormatWhole(line, sizeof line, "%s", "abcdefghijklmnopqrstuvwxyz");
  EXPECT_STREQ(line, "abcdefghijklmno");
  // A character across the end is left out whole.
  for (const size_t fitting : {1, 2, 3}) {
    const std::string head(sizeof line - 1 - fitting, 'p');
    FormatWhole(line, sizeof line, "%s%s", head.c_str(), "\xE6\x97\xA5tail");
    EXPECT_EQ(line, head + (fitting == 3 ? "\xE6\x97\xA5" : "")) << fitting;
  }
}

// A file that is no UTF-8 is in the legacy code page: Windows reads it as
// UTF-8 and keeps it beside the project; on POSIX its bytes name the same
// files as before and it is read as it stands.
TEST_F(ProjectFileTest, LegacyTextIsReadAsUtf8) {
  // "Ö" and "ß" in code page 1252: the Windows tests run in a Western locale.
  const std::string legacy = "O,1,Copy,C:\\\xD6l,D:\\Ma\xDF\r\nT,2,0,0\r\n";
#ifdef _WIN32
  const std::string read = "O,1,Copy,C:\\\xC3\x96l,D:\\Ma\xC3\x9F\r\nT,2,0,0\r\n";
#else
  const std::string read = legacy;
#endif
  ASSERT_TRUE(Load(legacy));
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path), read);
  EXPECT_EQ(ReadFile(path + ".bak"), read == legacy ? "" : legacy);
}

// A file that a save would write otherwise (its totals' numbers aside) is
// kept first; what this program saved loads exactly.
TEST_F(ProjectFileTest, AFileThatSavingWouldChangeIsKept) {
  const struct {
    const char* text;
    bool kept;
  } cases[] = {
      {"O,1,Copy,a,b\r\nT,1,2,3\r\n", false},
      {"O,1,Copy,a,b\r\n", false},
      {"O,1,Copy,a,b\nO,1,Copy,c,d\nT,1,2,3\n", true},
      {"X,1,2\r\nO,1,Copy,a,b\r\nT,1,2,3\r\n", true},
      {"O,1,Copy,a,b\r\nT,1,2,3", true},
      {"T,1,2,3\r\nO,1,Copy,a,b\r\n", true},
      {"O,1,Copy,a,b\r\nT,1,2,3\r\nT,1,2,3\r\n", true},
      {"O,1,copy,a,b\r\nT,1,2,3\r\n", true},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Load(c.text)) << c.text;
    totals.total = 99;  // what a pass changes
    ASSERT_TRUE(Save()) << c.text;
    EXPECT_EQ(fs::exists(path + ".bak") ? ReadFile(path + ".bak") : "", c.kept ? c.text : "");
    ASSERT_TRUE(LoadProject(path.c_str(), jobs, totals, state)) << c.text;
    EXPECT_FALSE(state.inexact) << c.text;
    fs::remove(path + ".bak");
  }
}

// An editor's byte order mark is no part of the first record: every job
// loads; the save writes no mark and keeps the file as it was.
TEST_F(ProjectFileTest, AByteOrderMarkIsSkippedAndTheMarkedFileKept) {
  const std::string text = "O,1,Copy,a,b\r\nO,1,Mirror,c,d\r\nT,1,2,3\r\n";
  ASSERT_TRUE(Load("\xEF\xBB\xBF" + text));
  ASSERT_EQ(jobs.count, 2);
  ExpectJob(0, 1, kModeCopy, "a", "b");
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path), text);
  EXPECT_EQ(ReadFile(path + ".bak"), "\xEF\xBB\xBF" + text);
}

// The versions record is read wherever it stands and saved after the totals
// only when it is not the default, so a project without one saves as it was;
// days that are no plain number keep the default.
TEST_F(ProjectFileTest, TheVersionsRecordIsSavedOnlyWhenNotTheDefault) {
  const std::string jobs_and_totals = "O,1,Copy,a,b\r\nT,1,2,3\r\n";
  const struct {
    std::string text;
    int32_t days;
    std::string saved;
  } cases[] = {
      {jobs_and_totals, 30, jobs_and_totals},
      {jobs_and_totals + "V,7\r\n", 7, jobs_and_totals + "V,7\r\n"},
      {jobs_and_totals + "V,0\r\n", 0, jobs_and_totals + "V,0\r\n"},
      {"O,1,Copy,a,b\r\nV,7\r\nT,1,2,3\r\n", 7, jobs_and_totals + "V,7\r\n"},
      {jobs_and_totals + "V,30\r\n", 30, jobs_and_totals},
      {jobs_and_totals + "V,-1\r\n", 30, jobs_and_totals},
      {jobs_and_totals + "V,x\r\n", 30, jobs_and_totals},
      {jobs_and_totals + "V,\r\n", 30, jobs_and_totals},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    totals = TotalsRecord{};
    ASSERT_TRUE(Load(c.text));
    EXPECT_EQ(jobs.count, 1);
    EXPECT_EQ(totals.keep_versions_days, c.days);
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadFile(path), c.saved);
    EXPECT_EQ(fs::exists(path + ".bak"), c.text != c.saved);
    fs::remove(path + ".bak");
  }
}

TEST_F(ProjectFileTest, LongOtherFieldsAndNulBytesAreBoundedAndKept) {
  const std::string big(1 << 20, '7');
  ASSERT_TRUE(Load("O," + big + ",Copy,a,b\r\nT," + big + ",1,1\r\n"));
  EXPECT_EQ(jobs.count, 1);
  EXPECT_TRUE(state.inexact);

  ASSERT_TRUE(Load(std::string("O,1,Copy,a,b\r\nO,1,Copy,c\0d,e\r\n", 30)));
  ASSERT_EQ(jobs.count, 1);
  ExpectJob(0, 1, kModeCopy, "a", "b");
  EXPECT_TRUE(state.inexact);
}

TEST_F(ProjectFileTest, JobCapStaysAndTheRestIsKept) {
  std::string text;
  for (int i = 0; i <= kMaxProjectJobs; ++i)
    text += "O,1,Copy,s,d\r\n";
  // The totals come after every job: past the cap they still count.
  ASSERT_TRUE(Load(text + "T,9,2,3\r\n"));
  EXPECT_EQ(jobs.count, kMaxProjectJobs);
  EXPECT_EQ(totals.total, 9u);
  EXPECT_EQ(totals.time_limit, 3);
  EXPECT_TRUE(state.inexact);
  // One line names the first job past the cap, and so all after it.
  ASSERT_EQ(state.left_out.size(), 1u);
  EXPECT_EQ(state.left_out[0].reason, LeftOutReason::kOverJobLimit);
  EXPECT_EQ(state.left_out[0].line, kMaxProjectJobs + 1);
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path + ".bak").size(), text.size() + 9);

  // A full list saved and loaded again comes back whole, settings included.
  totals = TotalsRecord{};
  ASSERT_TRUE(LoadProject(path.c_str(), jobs, totals, state));
  EXPECT_EQ(jobs.count, kMaxProjectJobs);
  EXPECT_EQ(totals.end_option, 2);
  EXPECT_FALSE(state.inexact);
}

// Whatever stands where the temporary file goes: a plain file (a crash's) is
// removed, anything else stops the save, and nothing is written through it.
TEST_F(ProjectFileTest, SaveWritesThroughNothingPlantedBesideTheProject) {
  const std::string temp = path + ".larkspan-save";
  const fs::path victim = dir.path() / "victim";
  enum Planted { kPlainFile, kFolder, kLinkToFile, kLinkToNothing };
  for (Planted planted : {kPlainFile, kFolder, kLinkToFile, kLinkToNothing}) {
    ASSERT_TRUE(Load("O,1,Copy,old,file\r\n"));
    if (planted == kPlainFile) WriteFile(temp, "stale");
    if (planted == kFolder) fs::create_directory(temp);
    if (planted == kLinkToFile) WriteFile(victim, "victim");
    if (planted >= kLinkToFile && !MakeLink(victim, temp)) continue;
    totals.total = 5;
    EXPECT_EQ(Save(), planted == kPlainFile) << "planted " << planted;
    EXPECT_EQ(ReadFile(path).find("T,5,"), planted == kPlainFile ? 19 : std::string::npos);
    EXPECT_EQ(fs::exists(fs::symlink_status(temp)), planted != kPlainFile);
    EXPECT_EQ(fs::exists(victim) ? ReadFile(victim) : "", planted == kLinkToFile ? "victim" : "");
    fs::remove_all(temp);
    fs::remove(victim);
  }
}

// A save replaces the file the project path leads to, a link staying a link,
// and keeps its permission bits, and gives them to the backup.
TEST_F(ProjectFileTest, SaveKeepsALinkAndThePermissions) {
  const fs::path real = dir.path() / "real.lpj";
  for (bool linked : {false, true}) {
    const fs::path file = linked ? real : fs::path(path);
    WriteFile(file, "X\r\nO,1,Copy,old,file\r\n");  // kept as a backup first
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    const fs::perms before = fs::status(file).permissions();
    if (linked && !MakeLink(real, path)) continue;
    ASSERT_TRUE(LoadProject(path.c_str(), jobs, totals, state));
    ASSERT_TRUE(Save());
    EXPECT_EQ(fs::is_symlink(path), linked);
    EXPECT_EQ(ReadFile(file), "O,1,Copy,old,file\r\nT,0,0,0\r\n");
    EXPECT_EQ(fs::status(file).permissions(), before) << "linked " << linked;
    EXPECT_EQ(fs::status(path + ".bak").permissions(), before) << "linked " << linked;
    fs::remove(path);
    fs::remove(path + ".bak");
  }
}

// Forwards to the real backend and fails one chosen step.
class FaultyFiles : public WholeFiles {
 public:
  enum Step { kNone, kCreate, kWrite, kFlush, kClose, kReplace };
  explicit FaultyFiles(Step fail) : fail_(fail) {}

  ReadResult ReadAll(const char* path, std::string* text) override {
    return real_.ReadAll(path, text);
  }
  void* CreateForWrite(const char* path, const char* like) override {
    return fail_ == kCreate ? nullptr : real_.CreateForWrite(path, like);
  }
  bool WriteAll(void* file, const char* data, size_t size) override {
    // Half the text reaches the disk before the failure.
    if (fail_ == kWrite) return real_.WriteAll(file, data, size / 2) && false;
    return real_.WriteAll(file, data, size);
  }
  bool Flush(void* file) override { return real_.Flush(file) && fail_ != kFlush; }
  bool Close(void* file) override { return real_.Close(file) && fail_ != kClose; }
  bool Replace(const char* from, const char* to) override {
    return fail_ != kReplace && real_.Replace(from, to);
  }
  bool RemoveIfPresent(const char* path) override { return real_.RemoveIfPresent(path); }
  bool RemovePlainFile(const char* path) override { return real_.RemovePlainFile(path); }
  bool FinalPath(const char* path, char* final_path, size_t size) override {
    return real_.FinalPath(path, final_path, size);
  }
  bool Exists(const char* path) override { return real_.Exists(path); }

 private:
  WholeFiles& real_ = DefaultWholeFiles();
  Step fail_;
};

TEST_F(ProjectFileTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
  const std::string old_text = "O,1,Copy,old,file\r\nT,1,0,0\r\n";
  for (FaultyFiles::Step step : {FaultyFiles::kCreate, FaultyFiles::kWrite, FaultyFiles::kFlush,
                                 FaultyFiles::kClose, FaultyFiles::kReplace}) {
    ASSERT_TRUE(Load(old_text));
    std::strcpy(jobs.slots[0]->source, "new");
    FaultyFiles files(step);
    EXPECT_FALSE(SaveProject(path.c_str(), jobs, totals, state, files)) << "step " << step;
    EXPECT_EQ(ReadFile(path), old_text) << "step " << step;
    EXPECT_TRUE(OtherFiles().empty()) << "step " << step;
    // The old file still loads as the old jobs.
    ASSERT_TRUE(LoadProject(path.c_str(), jobs, totals, state)) << "step " << step;
    ASSERT_EQ(jobs.count, 1) << "step " << step;
    ExpectJob(0, 1, kModeCopy, "old", "file");
  }
  std::strcpy(jobs.slots[0]->source, "new");
  FaultyFiles sound(FaultyFiles::kNone);
  EXPECT_TRUE(SaveProject(path.c_str(), jobs, totals, state, sound));
  EXPECT_EQ(ReadFile(path), "O,1,Copy,new,file\r\nT,1,0,0\r\n");
}

}  // namespace

// The command record: the rest of its line, taken only when it can run as
// written; what cannot is named and the file kept.
TEST_F(ProjectFileTest, TheCommandRecordIsTheRestOfItsLine) {
  const std::string head = "O,1,Copy,a,b\r\nT,1,2,3\r\n";
  const std::string too_long = "N," + std::string(kAfterCommandMaxLength + 1, 'x') + "\r\n";
  const struct {
    std::string text;
    std::string command;
    std::string left_out;  // the line naming what was left out, or empty
    std::string saved;
  } cases[] = {
      {head, "", "", head},
      {head + "N,curl -fsS -m 10 https://x/a,b\r\n", "curl -fsS -m 10 https://x/a,b", "",
       head + "N,curl -fsS -m 10 https://x/a,b\r\n"},
      // Fields of the command that look like records are not read as such.
      {"O,1,Copy,a,b\r\nN,T,9,9,9,O,1,Mirror,c,d\r\nT,1,2,3\r\n", "T,9,9,9,O,1,Mirror,c,d", "",
       head + "N,T,9,9,9,O,1,Mirror,c,d\r\n"},
      {head + "N,echo\tdone\nV,30\r\n", "echo\tdone", "", head + "N,echo\tdone\r\n"},
      {head + "N,echo a\x01"
              "b\r\n",
       "",
       "Error: Command on line 3 left out, control character: N,echo a\x01"
       "b",
       head},
      {head + "N,first\r\nN,second\r\n", "first",
       "Error: Command on line 4 left out, a second command: N,second", head + "N,first\r\n"},
      {head + too_long, "", "Error: Command on line 3 left out, too long: N,xxx", head},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    totals = TotalsRecord{};
    ASSERT_TRUE(Load(c.text));
    EXPECT_EQ(jobs.count, 1);
    EXPECT_EQ(totals.total, 1u);
    EXPECT_EQ(totals.end_option, 2);
    EXPECT_EQ(totals.after_command, c.command);
    if (c.left_out.empty()) {
      EXPECT_TRUE(state.left_out.empty());
    } else {
      ASSERT_EQ(state.left_out.size(), 1u);
      char line[kLeftOutLineSize];
      DescribeLeftOut(state.left_out[0], line, sizeof line);
      EXPECT_EQ(std::string(line).substr(0, c.left_out.size()), c.left_out);
    }
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadFile(path), c.saved);
    EXPECT_EQ(fs::exists(path + ".bak"), c.text != c.saved);
    fs::remove(path + ".bak");
  }
}

namespace {

// A pattern is the rest of its line: commas, and a start of O or T that
// would begin another record, stay in it; a save writes the file as read.
TEST_F(ProjectFileTest, PatternsFollowTheirJobAndComeBackAsWritten) {
  const std::string long_pattern = "deep/" + std::string(1500, 'p');
  const std::string text =
      "O,1,Copy,s1,d1\r\nX,Old notes, 2024.txt\r\nX,T,5,0,0\r\nX,*.tmp\r\n"
      "O,1,Mirror,s2,d2\r\nO,0,Sync,s3,d3\r\nX,V,1\r\nX," +
      long_pattern + "\r\nT,7,0,0\r\n";
  ASSERT_TRUE(Load(text));
  ASSERT_EQ(jobs.count, 3);
  ExpectJob(0, 1, kModeCopy, "s1", "d1");
  ExpectJob(1, 1, kModeMirror, "s2", "d2");
  EXPECT_EQ(jobs.slots[0]->exclusions,
            (std::vector<std::string>{"Old notes, 2024.txt", "T,5,0,0", "*.tmp"}));
  EXPECT_TRUE(jobs.slots[1]->exclusions.empty());
  EXPECT_EQ(jobs.slots[2]->exclusions, (std::vector<std::string>{"V,1", long_pattern}));
  EXPECT_EQ(totals.total, 7u);
  EXPECT_EQ(totals.keep_versions_days, kDefaultKeepVersionsDays);
  EXPECT_FALSE(state.inexact);
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path), text);
  EXPECT_FALSE(fs::exists(path + ".bak"));
}

// A job with a pattern refused is left out, named by its own line and the
// pattern's record; patterns of no job are dropped, and the file kept.
TEST_F(ProjectFileTest, AJobWithAPatternRefusedIsLeftOut) {
  const std::string text =
      "X,stray\r\nO,1,Copy,s1,d1\r\nX,ok\r\nX,../up\r\nX,after\r\nO,1,Copy,s2,d2\r\nX,\r\n"
      "O,1,Copy,s3,d3\r\nX,fine\r\n";
  ASSERT_TRUE(Load(text));
  ASSERT_EQ(jobs.count, 1);
  ExpectJob(0, 1, kModeCopy, "s3", "d3");
  EXPECT_EQ(jobs.slots[0]->exclusions, std::vector<std::string>{"fine"});
  ASSERT_EQ(state.left_out.size(), 2u);
  char line[kLeftOutLineSize];
  DescribeLeftOut(state.left_out[0], line, sizeof line);
  EXPECT_STREQ(line, "Error: Job on line 2 left out, pattern refused: X,../up");
  DescribeLeftOut(state.left_out[1], line, sizeof line);
  EXPECT_STREQ(line, "Error: Job on line 6 left out, pattern refused: X,");
  EXPECT_TRUE(state.inexact);
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadFile(path + ".bak"), text);
  EXPECT_EQ(ReadFile(path), "O,1,Copy,s3,d3\r\nX,fine\r\nT,0,0,0\r\n");
}

}  // namespace
