// Hostile project files: the fuzzer's corpus replayed, and a few inputs too
// big for it. Whatever the bytes, loading never overruns a field, every path
// loaded is text of the file, and what was loaded saves and loads back alike.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "jobs/project_file.h"
#include "tests/project_invariants.h"
#include "tests/test_support.h"

namespace {

class ProjectCorpusTest : public ::testing::Test {
 protected:
  ~ProjectCorpusTest() override { ClearJobs(jobs); }

  // Loads bytes from a real file and checks what came of them.
  void LoadAndCheck(const std::string& bytes, const std::string& name) {
    WriteFile(path, bytes);
    TotalsRecord totals;
    ProjectState state;
    EXPECT_TRUE(LoadProject(path.c_str(), jobs, totals, state)) << name;
    EXPECT_EQ(CheckLoadedJobs(bytes, jobs), "") << name;
    EXPECT_EQ(CheckSaveAndReload(jobs), "") << name;
  }

  TempDir dir;
  std::string path = dir.Join("hostile.lpj");
  JobList jobs;
};

TEST_F(ProjectCorpusTest, EveryCorpusFileLoadsSafely) {
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(LARKSPAN_FUZZ_CORPUS)) {
    LoadAndCheck(ReadFile(entry.path()), entry.path().filename().string());
    ++replayed;
  }
  EXPECT_GE(replayed, 4);
}

TEST_F(ProjectCorpusTest, NulBytesAndBareLineFeeds) {
  LoadAndCheck(std::string("O,1,Copy,a\0b,c\r\nO,1,Copy,d,e\r\n", 29), "NUL in a path");
  EXPECT_EQ(jobs.count, 0);  // the text ends at its NUL, the job with it
  LoadAndCheck(std::string(64, '\0'), "only NULs");
  EXPECT_EQ(jobs.count, 0);

  // With no CR the first destination runs on to the end of the text.
  LoadAndCheck("O,1,Copy,a,b\nO,1,Copy,c,d\nO,1,Copy,e,f\n", "no CR at all");
  ASSERT_EQ(jobs.count, 1);
  EXPECT_STREQ(jobs.slots[0]->destination, "b\nO,1,Copy,c,d\nO,1,Copy,e,f\n");
}

TEST_F(ProjectCorpusTest, HugeFieldsAndJobCounts) {
  const std::string huge(1 << 20, 'x');
  LoadAndCheck("O,1,Copy," + huge + ",d\r\nO,1,Copy,s," + huge + "\r\nO," + huge +
                   ",Copy,s,d\r\nT," + huge + ",1,1\r\n",
               "1 MiB fields");
  EXPECT_EQ(jobs.count, 1);  // only the job whose paths fit

  std::string many;
  for (int i = 0; i < 100000; ++i)
    many += "O,1,Sync,s" + std::to_string(i) + ",d\r\n";
  LoadAndCheck(many, "100000 jobs");
  EXPECT_EQ(jobs.count, kMaxProjectJobs);
}

TEST_F(ProjectCorpusTest, RandomBytes) {
  std::mt19937 random(20240611);
  // Bytes drawn mostly from those the reader reacts to, so records do form.
  const std::string kAlphabet = "OT,\r\n01-9aCopyMirrorSync\xff";
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 2048, '\0');
    for (char& c : bytes) {
      c = random() % 4 == 0 ? static_cast<char>(random()) : kAlphabet[random() % kAlphabet.size()];
    }
    LoadAndCheck(bytes, "round " + std::to_string(round));
  }
}

}  // namespace
