// Where the programs start: the folder given, the current folder with its
// constants file, or the user's own copy of the bundled default, made once.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "batch_harness.h"
#include "run/StartFolder.h"

namespace drivanto::testing {
namespace {

namespace fs = std::filesystem;

// HOME and the current folder for one test, put back afterwards.
class Surroundings {
 public:
  Surroundings(const std::string& home, const std::string& cwd)
      : home_(std::getenv("HOME") ? std::getenv("HOME") : ""), cwd_(fs::current_path()) {
    setenv("HOME", home.c_str(), 1);
    fs::current_path(cwd);
  }
  ~Surroundings() {
    setenv("HOME", home_.c_str(), 1);
    fs::current_path(cwd_);
  }

 private:
  std::string home_;
  fs::path cwd_;
};

TEST(StartFolder, TheUsersCopyOfTheBundledDefaultIsMadeOnce) {
  TempFolder home, elsewhere;
  Surroundings s(home.path(), elsewhere.path());
  const StartFolder first = ChooseStartFolder("");
  EXPECT_EQ(first.folder, home / "Drivanto");
  EXPECT_NE(first.notice.find(home / "Drivanto"), std::string::npos) << first.notice;
  for (const char* file : {"CONS.VAL", "BIL1/FORDON.TAB", "KARTA.CYK", "MOT1.BMP"}) {
    EXPECT_EQ(TempFolder::ReadBytes(home / ("Drivanto/" + std::string(file))),
              TempFolder::ReadBytes(std::string(DRIVANTO_TEST_DATA_DIR) + "/" + file))
        << file;
  }
  // The user's changes stay: the copy is not made again.
  TempFolder::WriteBytes(home / "Drivanto/CONS.VAL", "mine");
  const StartFolder second = ChooseStartFolder("");
  EXPECT_EQ(second.folder, home / "Drivanto");
  EXPECT_TRUE(second.notice.empty());
  EXPECT_EQ(TempFolder::ReadBytes(home / "Drivanto/CONS.VAL"), "mine");
}

TEST(StartFolder, AGivenFolderOrTheCurrentOneWithItsConstants) {
  TempFolder home, here;
  here.Write("CONS.VAL", "x");
  Surroundings s(home.path(), here.path());
  EXPECT_EQ(ChooseStartFolder("/some/folder").folder, "/some/folder");
  EXPECT_EQ(ChooseStartFolder("").folder, fs::current_path().string());
  EXPECT_FALSE(fs::exists(home / "Drivanto"));
}

TEST(StartFolder, TheBatchRunnerNamesTheBundledDefault) {
  TempFolder empty;
  BatchResult r = BatchFolder::RunAsGiven({empty.path()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(empty / "CONS.VAL" + ": file not found"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("the bundled default car and constants are in " + BundledDataFolder()),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace drivanto::testing
