// What a user can do wrong, met through the batch runner: result files named
// like inputs, odd folder names, a full disk and the file-size limit, files
// saved as UTF-16, short constants files, clocks that cannot move, exhausted
// memory, an ERROR.TAB that cannot be written, huge values in the summary.

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "base/Text.h"
#include "batch_harness.h"
#include "model/ResultFile.h"

namespace drivanto::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs the batch program under the shell with a limit ("ulimit -f 64") and
// extra environment; standard output and error go to files in the folder.
BatchResult RunProgram(const BatchFolder& f, const std::string& limit, const Args& args,
                       const std::string& environment = "") {
  std::string command = limit + "; exec env " + environment + " '" DRIVANTO_BATCH_PROGRAM "'";
  for (const std::string& a : args) command += " '" + a + "'";
  command += " '" + f.path() + "' >'" + (f / "out.txt") + "' 2>'" + (f / "err.txt") + "'";
  const int status = std::system(("sh -c \"" + command + "\"").c_str());
  BatchResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = f.Read("out.txt");
  r.err = f.Read("err.txt");
  return r;
}

// Temporary files of atomic saves (".NAME.XXXXXX") left in the folder.
int LeftoverTemporaries(const BatchFolder& f) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(f.path())) {
    const std::string name = e.path().filename().string();
    if (name.size() > 7 && name[0] == '.' && name[name.size() - 7] == '.') ++n;
  }
  return n;
}

// Every row after the two header lines has its fifteen fields and ends in CR LF.
void ExpectWholeRows(const std::string& text) {
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  std::size_t start = 0, n = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2, ++n) {
    if (n < 2) continue;
    std::istringstream fields(text.substr(start, end - start));
    int count = 0;
    for (double x; fields >> x;) ++count;
    ASSERT_EQ(count, 15) << "row " << n - 1;
  }
  EXPECT_EQ(start, text.size());
}

TEST(BatchFaults, AResultFileNeverOverwritesAnInput) {
  BatchFolder f;
  const std::string constants = f.Read("CONS.VAL");
  const std::string cycle = f.Read("KARTA.CYK");
  const std::string vehicle = f.Read("BIL1/FORDON.TAB");
  struct Case {
    Args args;
    std::string roles;
  };
  const std::vector<Case> cases = {
      {Set({"Spara=1100", "Tresultat=CONS.VAL"}), "result file 1 and the constants file"},
      {Set({"Spara=1100", "Tresultatp=KARTA.CYK"}), "result file 2 and the map-cycle file"},
      {Set({"Spara=1100", "Tresultat=karta.cyk"}), "result file 1 and the map-cycle file"},
      {Set({"Spara=1100", "Tresultat=BIL1/../BIL1/FORDON.TAB"}),
       "result file 1 and the vehicle table file"},
      {Set({"Spara=1100", "Tresultat=SAME.TXT", "Tresultatp=SAME.TXT"}),
       "result file 1 and result file 2"},
      {Set({"Spara=0100", "Tresultatp=NEW.SNAP"}) + Args{"--save-snapshot", f / "NEW.SNAP"},
       "result file 2 and the snapshot to save"},
      // Every other output against the inputs and against each other.
      {Args{"--save-snapshot", f / "CONS.VAL"}, "the snapshot to save and the constants file"},
      {Args{"--save-snapshot", f / "BIL1/FORDON.TAB"},
       "the snapshot to save and the vehicle table file"},
      {Args{"--save-snapshot", f / "KARTA.CYK"}, "the snapshot to save and the map-cycle file"},
      {Args{"--trace", f / "t.csv", "--plot", f / "t.csv"}, "the trace and the plot"},
      {Set({"Spara=0100"}) + Args{"--plot", f / "RESULT2.TXT"}, "result file 2 and the plot"},
      {Args{"--save-snapshot", f / "NEW.SNAP", "--plot", f / "NEW.SNAP"},
       "the snapshot to save and the plot"},
      {Args{"--plot", f / "KARTA.CYK"}, "the plot and the map-cycle file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.roles);
    BatchResult r = f.Run(c.args);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, c.roles + " are the same file")) << r.err;
    EXPECT_EQ(r.out, "");  // stopped before the first step
    EXPECT_EQ(f.Read("CONS.VAL"), constants);
    EXPECT_EQ(f.Read("KARTA.CYK"), cycle);
    EXPECT_EQ(f.Read("BIL1/FORDON.TAB"), vehicle);
    EXPECT_FALSE(f.Exists("SAME.TXT"));
    EXPECT_FALSE(f.Exists("NEW.SNAP"));
  }
  // A loaded snapshot is an input too.
  ASSERT_EQ(f.Run(Args{"--max-steps", "5", "--save-snapshot", f / "a.snap"}).code, 0);
  const std::string snapshot = f.Read("a.snap");
  BatchResult r =
      f.Run(Args{"--load-snapshot", f / "a.snap"} + Set({"Spara=0100", "Tresultatp=a.snap"}));
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "result file 2 and the snapshot")) << r.err;
  EXPECT_EQ(f.Read("a.snap"), snapshot);
  // The drive script replayed is an input too.
  BatchFolder g;
  ASSERT_EQ(g.Run(Args{"--max-steps", "0", "--save-snapshot", g / "s.snap"}).code, 0);
  g.Write("drive.txt",
          "drivanto drive script 1\nsnapshot\n" + g.Read("s.snap") + "end snapshot\nend 3\n");
  const std::string drive = g.Read("drive.txt");
  r = g.Run({"--script", g / "drive.txt", "--save-snapshot", g / "drive.txt"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "the snapshot to save and the drive script are the same file"))
      << r.err;
  EXPECT_EQ(g.Read("drive.txt"), drive);
  // A result file switched off may bear any name.
  EXPECT_EQ(f.Run(Set({"Spara=0100", "Tresultat=CONS.VAL"}) + Args{"--max-steps", "5"}).code, 0);
  EXPECT_EQ(f.Read("CONS.VAL"), constants);
}

TEST(BatchFaults, SnapshotsInFoldersWithAnyNameResume) {
  TempFolder top;
  for (const std::string& name : {std::string("\xE5tta"), std::string("\xCE\xA9mega"),
                                  std::string("b\xE5t \xCE\xA9 \xC3\xA9")}) {
    SCOPED_TRACE(Printable(name));
    const std::string folder = top / name;
    std::filesystem::copy(DRIVANTO_TEST_DATA_DIR, folder, std::filesystem::copy_options::recursive);
    const std::string snap = folder + "/s.snap";
    ASSERT_EQ(BatchFolder::RunAsGiven({"--max-steps", "100", "--save-snapshot", snap, folder}).code,
              0);
    const std::string saved = TempFolder::ReadBytes(snap);
    EXPECT_TRUE(Contains(saved, folder + "/BIL1/FORDON.TAB")) << "names kept byte for byte";
    BatchResult r = BatchFolder::RunAsGiven(
        {"--load-snapshot", snap, "--max-steps", "20", "--save-snapshot", snap + "2", folder});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "steps           20")) << r.out;
    EXPECT_TRUE(Contains(TempFolder::ReadBytes(snap + "2"), folder + "/BIL1/FORDON.TAB"));
  }
}

TEST(BatchFaults, AFullDiskIsReportedWithTheSummaryAndTheFileName) {
  BatchFolder f;
  BatchResult r = f.Run(Set({"Spara=1100", "Tresultat=/dev/full"}) + Args{"--max-steps", "3000"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Contains(r.err, "end reason      failed")) << r.err;
  EXPECT_TRUE(Contains(r.err, "drivanto-batch: /dev/full: disk full")) << r.err;
  // The other file holds every row but none in part.
  ExpectWholeRows(f.Read("RESULT2.TXT"));
}

TEST(BatchFaults, TheFileSizeLimitEndsTheRunWithWholeRows) {
  BatchFolder f;
  BatchResult r = RunProgram(f, "ulimit -f 64", Set({"Spara=1100"}) + Args{"--json"});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Contains(r.err, "\"endReason\": \"failed\"")) << r.err;
  EXPECT_TRUE(Contains(r.err, "\"exitCode\": 1")) << r.err;
  EXPECT_TRUE(Contains(r.err, "RESULT") && Contains(r.err, "file too large")) << r.err;
  for (const char* name : {"RESULT1.TXT", "RESULT2.TXT"}) {
    const std::string text = f.Read(name);
    EXPECT_LE(text.size(), 64u * 1024);
    ExpectWholeRows(text);
  }
  EXPECT_EQ(LeftoverTemporaries(f), 0);
}

TEST(BatchFaults, AFailedSnapshotSaveStillGivesTheSummary) {
  BatchFolder f;
  // No such folder.
  BatchResult r = f.Run(Args{"--max-steps", "10", "--save-snapshot", f / "nope/s.snap"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "steps           10")) << r.err;
  EXPECT_TRUE(Contains(r.err, f / "nope/s.snap")) << r.err;
  // A save cut short by the file-size limit leaves the earlier snapshot whole.
  ASSERT_EQ(f.Run(Args{"--max-steps", "10", "--save-snapshot", f / "s.snap"}).code, 0);
  const std::string earlier = f.Read("s.snap");
  r = RunProgram(f, "ulimit -f 8", Args{"--max-steps", "20", "--save-snapshot", f / "s.snap"});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_TRUE(Contains(r.err, "steps           20")) << r.err;
  EXPECT_TRUE(Contains(r.err, "file too large")) << r.err;
  EXPECT_EQ(f.Read("s.snap"), earlier);
  EXPECT_EQ(LeftoverTemporaries(f), 0);
}

// A snapshot taken at the start of a real-time run, with one line replaced.
std::string SnapshotWithLine(const BatchFolder& f, int line, const std::string& text) {
  EXPECT_EQ(f.Run(Args{"--max-steps", "3", "--save-snapshot", f / "clock.snap"}).code, 0);
  std::vector<std::string> lines = f.Snapshot("clock.snap");
  lines[line] = text;
  std::string out;
  for (std::size_t n = 1; n < lines.size(); ++n) out += lines[n] + "\r\n";
  return f.Write("edited.snap", out);
}

TEST(BatchFaults, AClockThatCannotAdvanceIsRebased) {
  BatchFolder f;
  for (const char* value : {"1E15", "-1E15", "1.2E300"}) {
    SCOPED_TRACE(value);
    const std::string snap = SnapshotWithLine(f, snap::clockNow, value);
    BatchResult r = f.Run(Args{"--load-snapshot", snap, "--max-steps", "50", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "cannot advance; it starts again at 43200 s")) << r.err;
    // The steps go on at the simulated 0.04 s per tick (the first, with
    // the clock set back, waits its millisecond or two).
    EXPECT_NEAR(Num(ParseFlatJson(r.out), "ttot"),
                std::stod(f.Snapshot("clock.snap")[snap::ttot]) + 49 * 0.04 + 0.0015, 0.0006);
  }
}

TEST(BatchFaults, ExhaustedMemoryNamesTheFileBeingRead) {
  BatchFolder f;
  // A vehicle table of 50 MB: its rows repeated.
  std::string rows;
  for (int i = 0; i < 20000; ++i) rows += "% a comment line that the lookups pass over ....\n";
  {
    std::ofstream out(f / "BIL1/FORDON.TAB", std::ios::binary | std::ios::app);
    for (int k = 0; k < 50; ++k) out << rows;
  }
#ifdef DRIVANTO_SANITIZED
  // The sanitizer reserves more address space than any memory limit allows,
  // and its allocator ends the program instead of throwing; the test runs in
  // the build without sanitizers.
  GTEST_SKIP() << "needs a build without the address sanitizer";
#endif
  BatchResult r =
      RunProgram(f, "ulimit -v 150000", Set({"timeMode=D", "dt=0.5"}) + Args{"--max-steps", "5"});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_TRUE(Contains(r.err, "FORDON.TAB: out of memory while reading this file")) << r.err;
}

TEST(BatchFaults, FilesSavedAsUtf16AreRecognised) {
  const std::string why = "saved as UTF-16; save it as plain text (Windows code page or UTF-8)";
  auto utf16 = [](const std::string& text) {
    std::string out = "\xFF\xFE";
    for (char c : text) out += std::string(1, c) + '\0';
    return out;
  };
  {
    BatchFolder f;
    f.Write("CONS.VAL", utf16(f.Read("CONS.VAL")));
    BatchResult r = f.Run({});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "drivanto-batch: " + (f / "CONS.VAL") + ": " + why + "\n");
  }
  {
    BatchFolder f;
    std::string cycle = f.Read("KARTA.CYK");
    std::string plain;  // UTF-16 without a byte-order mark
    for (char c : cycle) plain += std::string(1, c) + '\0';
    f.Write("KARTA.CYK", plain);
    BatchResult r = f.Run({});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "KARTA.CYK: " + why)) << r.err;
    EXPECT_FALSE(Contains(r.err, std::string(1, '\0')));
  }
  {
    BatchFolder f;
    f.Write("BIL1/BATTERI.TAB", utf16(f.Read("BIL1/BATTERI.TAB")));
    BatchResult r = f.Run({});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "BATTERI.TAB: " + why)) << r.err;
  }
  {
    BatchFolder f;
    ASSERT_EQ(f.Run(Args{"--max-steps", "3", "--save-snapshot", f / "s.snap"}).code, 0);
    f.Write("s.snap", utf16(f.Read("s.snap")));
    BatchResult r = f.Run(Args{"--load-snapshot", f / "s.snap"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "s.snap: " + why)) << r.err;
  }
}

TEST(BatchFaults, UnprintableBytesInMessagesAreEscaped) {
  BatchFolder f;
  f.Write("BAD.CYK", "0 10 0 0 1 0\n5 1\x01\x1b[2J 0 0 1 0\n");
  BatchResult r = f.Run(TimeCycle("BAD.CYK", "0.5"));
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "\"1\\x01\\x1B[2J\" is not a number")) << r.err;
  for (char c : r.err) EXPECT_FALSE(c != '\n' && static_cast<unsigned char>(c) < 0x20) << r.err;
}

TEST(BatchFaults, AnEmptyOrShortConstantsFileSaysWhatIsMissing) {
  BatchFolder f;
  f.Write("CONS.VAL", "");
  BatchResult r = f.Run({});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(
      r.err, (f / "CONS.VAL") + ": the constants file is empty; a constants file holds 58 lines"))
      << r.err;
  f.Write("CONS.VAL", "KARTA.CYK\r\nKARTA.CYK\r\nBIL1\r\n");
  r = f.Run({});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(
      r.err, (f / "CONS.VAL") + ": the constants file ends after line 3 (line 4 is missing)"))
      << r.err;
}

TEST(BatchFaults, AnErrorFileThatCannotBeWrittenIsNotClaimed) {
  BatchFolder f;
  std::filesystem::create_directory(f / "ERROR.TAB");  // in the way
  BatchResult r = f.Run(Set({"batCapacity=1", "timeMode=D", "dt=0.5"}));
  EXPECT_EQ(r.code, 3);
  EXPECT_TRUE(Contains(r.err, "Avbrott p g a att TABR2")) << r.err;
  EXPECT_TRUE(Contains(r.err, "ERROR.TAB could not be written: " + (f / "ERROR.TAB"))) << r.err;
  BatchResult help = f.Run({"--help"});
  EXPECT_FALSE(Contains(help.out, "(ERROR.TAB written)"));
  EXPECT_TRUE(Contains(help.out, "where it can be"));
}

TEST(BatchFaults, TheSummaryPrintsEveryMagnitude) {
  BatchFolder f;
  const std::string snap = SnapshotWithLine(f, snap::ttot, "1.7E308");
  BatchResult r = f.Run(Args{"--load-snapshot", snap});
  EXPECT_EQ(r.code, 0) << r.err;
  char expected[400];
  std::snprintf(expected, sizeof expected, "ttot            %.2f s\n", 1.7e308);
  EXPECT_TRUE(Contains(r.out, expected)) << r.out;
}

}  // namespace
}  // namespace drivanto::testing

namespace drivanto::testing {
namespace {

// A result file or trace another run is writing is refused, naming it, and
// the other run's rows stay as they are; once it is closed, the run goes on.
TEST(BatchFaults, AFileAnotherRunWritesIsRefused) {
  BatchFolder f;
  const Args run = TimeCycle("TID.CYK", "0.5") + Set({"Spara=0100"});
  for (const std::string name : {"RESULT2.TXT", "trace.csv"}) {
    SCOPED_TRACE(name);
    ResultFile other;
    other.Create(f / name);
    other.WriteLine("the other run's row");
    other.Flush();
    BatchResult r = f.Run(run + Args{"--trace", f / "trace.csv"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(f / name + ": is being written by another run"), std::string::npos)
        << r.err;
    EXPECT_EQ(f.Read(name), "the other run's row\r\n");
    other.Close();
    EXPECT_EQ(f.Run(run + Args{"--trace", f / "trace.csv"}).code, 0);
  }
}

}  // namespace
}  // namespace drivanto::testing
