// Drive scripts replayed: a clock that cannot be a clock refused when the
// script is read, a replay that ends where its drive ended, and a recording
// cut short by a failed write that stays a script of whole lines.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "base/Errors.h"
#include "batch_harness.h"
#include "model/Sim.h"
#include "run/DriveScript.h"
#include "state/Snapshot.h"

namespace drivanto::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const std::string kHead = "drivanto drive script 1\nsnapshot\nA\r\nend snapshot\n";

TEST(DriveScriptClock, ReadingsThatNoClockGivesAreRefusedNamingTheLine) {
  TempFolder dir;
  struct Case {
    std::string lines;
    const char* says;
  };
  const Case refused[] = {
      {"clock 1:43200\nclock 2:-1e15\n", "is no time of day"},
      {"clock 1:nan\n", "not a number"},
      {"clock 1:inf\n", "not a number"},
      {"clock 1:1e300\n", "is no time of day"},
      {"clock 1:43200.5\nclock 2:43100\n", "goes back from 43200.5"},
      {"clock 1:43200,43199\n", "goes back"},
      {"clock 2:43200\nclock 1:43201\n", "comes after a later tick's"},
      {"clock 1:43200*0\n", "reading*times"},
      {"clock 1:43200*9000000\n", "more clock readings than a tick can make"},
      {"time 1:1,2,43200\n", "time takes N:TTOT,CYCLE,NOW,PREV,DT"},
      {"time 1:1,2,-5,43200,0.04\n", "is no time of day"},
      {"end 3\nclock 4:43200\n", "a line after the end line"},
      {"clock -1:43200\n", "clock takes N:T1,T2,..."},
  };
  for (const Case& c : refused) {
    const std::string f = dir.Write("bad.txt", kHead + "clock 0:43000\n" + c.lines);
    try {
      ReadDriveScript(f);
      ADD_FAILURE() << c.lines;
    } catch (const IoError& e) {
      EXPECT_TRUE(Contains(e.what(), c.says)) << c.lines << " -> " << e.what();
      EXPECT_GE(e.line(), 6) << c.lines;
    }
  }
  // Past midnight the clock starts again from 0; a repeated reading is
  // written once with its count.
  const DriveScript d = ReadDriveScript(dir.Write(
      "ok.txt", kHead + "clock 0:86399.98\nclock 1:86399.99*3,0.02\ntime 2:5,5,0.5,0.4,0.04\n"
                        "key 9:>\nend 7\n"));
  EXPECT_EQ(d.clock.at(1), (std::vector<double>{86399.99, 86399.99, 86399.99, 0.02}));
  EXPECT_EQ(d.times.at(2).clockPrev, 0.4);
  EXPECT_TRUE(d.ended);
  EXPECT_EQ(d.lastTick, 7);  // the end line's, though a key names a later tick
  EXPECT_EQ(d.snapshotLine, 3);
}

TEST(DriveScriptReplay, EndsWhereTheDriveEnded) {
  BatchFolder f;
  // The drive's start: a run at its START, saved as a snapshot.
  ASSERT_EQ(f.Run(TimeCycle("UDDS.CYK", "0.04") + Set({"timeMode=R"}) +
                  Args{"--max-steps", "0", "--save-snapshot", f / "start.snp"})
                .code,
            0);
  const std::string start = f.Read("start.snp");
  for (bool withEnd : {true, false}) {
    SCOPED_TRACE(withEnd ? "with its end line" : "cut short");
    std::string script = "drivanto drive script 1\nsnapshot\n" + start + "end snapshot\n";
    for (int tick = 1; tick <= 120; ++tick) {
      script += "clock " + std::to_string(tick) + ":" + std::to_string(43200 + tick * 0.04) + "\n";
    }
    if (withEnd) script += "end 100\n";
    f.Write("drive.txt", script);
    BatchResult r = f.Run({"--script", f / "drive.txt", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto j = ParseFlatJson(r.out);
    EXPECT_EQ(j["endReason"], "scriptEnd");
    EXPECT_EQ(Num(j, "steps"), withEnd ? 100 : 120);
    EXPECT_EQ(Contains(r.err, "has no end line: its recording was cut short"), !withEnd) << r.err;
    EXPECT_EQ(j["cycleCompleted"], "false");
  }
}

// A recording stopped by the file-size limit ends with a whole line and
// replays, with a warning, as far as it goes.
TEST(DriveScriptReplay, ARecordingCutByAFailedWriteKeepsItsWholeLines) {
  BatchFolder f;
  ASSERT_EQ(f.Run(TimeCycle("UDDS.CYK", "0.04") + Set({"timeMode=R"}) +
                  Args{"--max-steps", "0", "--save-snapshot", f / "start.snp"})
                .code,
            0);
  Sim sim;
  LoadSnapshot(sim.s, f / "start.snp");
  const std::string name = f / "drive.txt";
  const pid_t child = fork();
  if (child == 0) {
    // The limit lies within the drive's lines.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{40000, 40000};
    setrlimit(RLIMIT_FSIZE, &limit);
    DriveRecorder rec;
    try {
      rec.Begin(name, sim.s, '.');
      for (int tick = 1; tick <= 100000; ++tick) {
        State s = sim.s;
        rec.BeforeTick(tick, s);
        rec.Reading(43200.0 + 0.04 * tick);
        rec.AfterTick(tick, s);
      }
    } catch (const IoError& e) {
      _exit(std::string(e.what()).find("the recording stops here") != std::string::npos ? 7 : 8);
    }
    _exit(9);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  const std::string text = f.Read("drive.txt");
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), 40000u);
  EXPECT_EQ(text.back(), '\n');
  const DriveScript d = ReadDriveScript(name);
  EXPECT_FALSE(d.ended);
  EXPECT_GT(d.lastTick, 100);
  BatchResult r = f.Run({"--script", name, "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Num(ParseFlatJson(r.out), "steps"), d.lastTick);
  EXPECT_TRUE(Contains(r.err, "to tick " + std::to_string(d.lastTick))) << r.err;
}

}  // namespace
}  // namespace drivanto::testing

namespace drivanto::testing {
namespace {

// A snapshot and a drive script made in one folder, used in another (a
// moved folder, a colleague's copy): the files of the same names there are
// used, with one notice; a file that is nowhere is named with the line its
// name came from.
TEST(MovedFolder, SnapshotsAndScriptsFindTheirFilesInTheFolderTheyRunIn) {
  namespace fs = std::filesystem;
  BatchFolder a;
  ASSERT_EQ(a.Run(TimeCycle("UDDS.CYK", "0.1") + Args{"--max-steps", "500", "--save-snapshot",
                                                      a / "half.snp"})
                .code,
            0);
  const std::string snapshot = a.Read("half.snp");
  std::string script = "drivanto drive script 1\n# made elsewhere\nsnapshot\n" + snapshot +
                       "end snapshot\nend 600\n";
  BatchFolder b;  // the same files, in another folder
  b.Write("half.snp", snapshot);
  b.Write("drive.txt", script);
  fs::remove_all(a.path());  // the folder it was made in is gone
  for (const char* option : {"--load-snapshot", "--script"}) {
    SCOPED_TRACE(option);
    const std::string file = b / (std::string(option) == "--script" ? "drive.txt" : "half.snp");
    BatchResult r = b.Run({option, file, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "names files where they are not; used instead: Bilmapp " +
                                    b / "BIL1" + "; Tbat " + b / "BIL1/BATTERI.TAB"))
        << r.err;
    EXPECT_EQ(ParseFlatJson(r.out)["inputs.timeCycle.file"], b / "UDDS.CYK");
  }
  // A table that is nowhere: the message says where its name came from.
  // (The folder's own constants name a car folder that is whole.)
  fs::copy(b / "BIL1", b / "BIL2");
  std::string constants = b.Read("CONS.VAL");
  constants.replace(constants.find("\r\nBIL1\r\n"), 8, "\r\nBIL2\r\n");
  b.Write("CONS.VAL", constants);
  fs::remove(b / "BIL1/FORBR.TAB");
  BatchResult r = b.Run({"--load-snapshot", b / "half.snp"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "FORBR.TAB: not found; the name comes from the snapshot " +
                                  b / "half.snp" + ", line 87 (Tforb)"))
      << r.err;
  r = b.Run({"--script", b / "drive.txt"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "drive script " + b / "drive.txt" +
                                  ", line 90 (the snapshot's line 87, Tforb)"))
      << r.err;
  // A snapshot in a script that lost a line: refused before its values
  // shift into other variables.
  const std::size_t cut = script.find("\r\n", script.find("snapshot\n") + 9);
  b.Write("shifted.txt", script.substr(0, cut + 2) + script.substr(script.find("\r\n", cut + 2) + 2));
  r = b.Run({"--script", b / "shifted.txt"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, b / "shifted.txt" + ", line 4: the starting snapshot holds 1049 "
                                                   "lines, a snapshot 1050"))
      << r.err;
}

}  // namespace
}  // namespace drivanto::testing
