// Edits of table files while the model runs: with notifications from the
// folder (heard by a listener, read at the next step) and on the fallback
// path that checks each file at every lookup, an edit is seen by the next
// step at the latest - however it is made. (With notifications "the next
// step" is the one after the listener heard of the edit, some microseconds
// after it: the tests wait for that, a few seconds at most.)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "TempFolder.h"
#include "base/Errors.h"
#include "data/Tables.h"

namespace drivanto {
namespace {

using testing::TempFolder;

bool Heard(const TableCache& cache) {
  for (int i = 0; i < 5000 && !cache.ChangeHeard(); ++i) ::usleep(1000);
  return cache.ChangeHeard();
}

std::string Rows(int base) {
  return "TAB 1 \n1 " + std::to_string(base) + "\n2 " + std::to_string(base + 10) + "\n";
}

class TableWatch : public ::testing::TestWithParam<bool> {
 protected:
  TableWatch() { cache.notifications = GetParam(); }

  // After an edit: with notifications, until the listener has heard of it.
  void Edited() {
    if (GetParam()) {
      ASSERT_TRUE(Heard(cache));
    }
  }

  // One step's lookup through the model's way: a site, inside a step.
  double Step(const std::string& file) {
    StepOfLookups step(cache);
    const double v = TABR1(cache, site, file, "1", 'i', 1.5, 1);
    // Later lookups in the same step are served without a new check.
    EXPECT_EQ(TABR1(cache, site, file, "1", 'i', 1.5, 1), v);
    return v;
  }

  TempFolder dir;
  TableCache cache;
  TableSite site;
};

TEST_P(TableWatch, AnEditBetweenTwoStepsIsSeenByTheNextStep) {
  const std::string f = dir.Write("BIL/ELM.TAB", Rows(10));
  EXPECT_EQ(Step(f), 15);
  EXPECT_EQ(Step(f), 15);
  TempFolder::WriteBytes(f, Rows(100) + "\n");  // another size
  Edited();
  EXPECT_EQ(Step(f), 105);
  TempFolder::WriteBytes(f, Rows(200) + "\n");  // the same size, at once
  Edited();
  EXPECT_EQ(Step(f), 205);
}

TEST_P(TableWatch, AnEditThatKeepsSizeAndModificationTimeIsSeen) {
  const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  const std::string f = dir.Write("BIL/BR.TAB", Rows(10));
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), old, 0), 0);
  EXPECT_EQ(Step(f), 15);
  TempFolder::WriteBytes(f, Rows(70));
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), old, 0), 0);
  Edited();
  EXPECT_EQ(Step(f), 75);
}

TEST_P(TableWatch, AFileReplacedByRenameIsSeen) {
  const std::string f = dir.Write("BIL/FORD.TAB", Rows(10));
  EXPECT_EQ(Step(f), 15);
  const std::string tmp = dir.Write("BIL/FORD.NEW", Rows(30));
  ASSERT_EQ(std::rename(tmp.c_str(), f.c_str()), 0);
  Edited();
  EXPECT_EQ(Step(f), 35);
}

TEST_P(TableWatch, ADeletedAndRecreatedFolderIsSeen) {
  const std::string f = dir.Write("BIL/BAT.TAB", Rows(10));
  EXPECT_EQ(Step(f), 15);
  std::filesystem::remove_all(dir / "BIL");
  Edited();
  EXPECT_THROW(Step(f), IoError);
  dir.Write("BIL/BAT.TAB", Rows(40));  // (unwatched since it went: checked)
  EXPECT_EQ(Step(f), 45);
  // The folder moved away and another put in its place.
  std::filesystem::rename(dir / "BIL", dir / "OLD");
  dir.Write("BIL/BAT.TAB", Rows(50));
  Edited();
  EXPECT_EQ(Step(f), 55);
}

TEST_P(TableWatch, ANewFileWithTheNameInOtherLetterCaseIsNotMissed) {
  const std::string f = dir.Write("BIL/motor.tab", Rows(10));
  const std::string asked = dir / "BIL/MOTOR.TAB";
  EXPECT_EQ(Step(asked), 15);
  TempFolder::WriteBytes(f, Rows(60));
  Edited();
  EXPECT_EQ(Step(asked), 65);
}

INSTANTIATE_TEST_SUITE_P(NotifiedAndChecked, TableWatch, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Notified" : "Checked"; });

TEST(TableWatchNotified, AFreshCopyIsReadOnceOverManySteps) {
  // Files copied just before a run (every sweep, every test) change within
  // the file times' resolution; with notifications they need no re-reading.
  TempFolder dir;
  const std::string f = dir.Write("BIL/ELM.TAB", Rows(10));
  TableCache cache;
  TableSite site;
  for (int step = 0; step < 200; ++step) {
    StepOfLookups s(cache);
    ASSERT_EQ(TABR1(cache, site, f, "1", 'i', 1.5, 1), 15);
  }
  EXPECT_EQ(cache.reads, 1);
}

TEST(TableWatchNotified, AnOverflowingQueueSendsEveryFileThroughAFullCheck) {
  TempFolder dir;
  const std::string f = dir.Write("BIL/ELM.TAB", Rows(10));
  const std::string noise[2] = {dir.Write("BIL/NOISE1.TXT", "x"), dir.Write("BIL/NOISE2.TXT", "x")};
  TableCache cache;
  TableSite site;
  {
    StepOfLookups s(cache);
    ASSERT_EQ(TABR1(cache, site, f, "1", 'i', 1.5, 1), 15);
  }
  // Far more notifications than the queue holds (two files in turn, so that
  // none is merged with the one before); the edit's own notification is then
  // lost.
  const struct timespec t[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
  for (int i = 0; i < 20000; ++i) ::utimensat(AT_FDCWD, noise[i % 2].c_str(), t, 0);
  TempFolder::WriteBytes(f, Rows(80));
  ASSERT_TRUE(Heard(cache));
  StepOfLookups s(cache);
  EXPECT_EQ(TABR1(cache, site, f, "1", 'i', 1.5, 1), 85);
}

TEST(TableWatchNotified, OutsideAStepEveryLookupSeesAnEdit) {
  TempFolder dir;
  const std::string f = dir.Write("ELM.TAB", Rows(10));
  TableCache cache;
  EXPECT_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 15);
  TempFolder::WriteBytes(f, Rows(20));
  EXPECT_EQ(TABR1(cache, f, "1", 'i', 1.5, 1), 25);
}

TEST(TableWatchNotified, ASiteFollowsAChangeOfFileName) {
  TempFolder dir;
  const std::string a = dir.Write("A/T.TAB", Rows(10));
  const std::string b = dir.Write("B/T.TAB", Rows(20));
  TableCache cache;
  TableSite site;
  StepOfLookups s(cache);
  EXPECT_EQ(TABR1(cache, site, a, "1", 'i', 1.5, 1), 15);
  EXPECT_EQ(TABR1(cache, site, b, "1", 'i', 1.5, 1), 25);
  EXPECT_EQ(TABR1(cache, site, a, "1", 'i', 1.5, 1), 15);
}

}  // namespace
}  // namespace drivanto
