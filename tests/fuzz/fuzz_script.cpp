// Fuzzing of the drive scripts (drivanto-batch --script): the bytes are the
// script FUZZ.TXT in a private working copy of the bundled data.
//
//  - ReadDriveScript reads it. Refused, its IoError names the file and a
//    line of it (line 0, no line, only when the file looks like UTF-16 or
//    holds no snapshot to start from), without raw control bytes. Read,
//    what it gives holds: the snapshot is the file's bytes from the line
//    the script says on; every clock reading is a finite number of seconds
//    from 0 below 2^40, none going back but across midnight (from 23:00 or
//    later to before 01:00) or where a time line set the clock anew; at
//    most 5000000 readings a tick, and in all 5000000 or one a byte of the
//    file (memory bounded by the file); the time lines' values are finite
//    and their clock in the same range; no tick is below 0; a script
//    without its end line lasts to the last tick any line names.
//  - drivanto-batch --script FILE --max-steps 50 replays it, with the checks
//    of every batch run (CheckedBatchRun): exit code 0, 1 or 3, a whole
//    message in clean text, no exception. A script the reader refused fails
//    with code 1 and the reader's message. A replay that goes beyond its
//    drive's readings reads the clock at most 5000001 times a tick (START
//    and the tick that ends the run included: the time base gives up its
//    wait, it never spins).
//
// The snapshot's names a run may open are kept inside the working copy
// (ConfineSnapshotNames; the seeds' snapshots were saved in kSeedFolder); all
// other bytes reach the program as they are. About one input in sixteen is
// replayed twice, with the same outcome expected (FuzzBatch).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "base/Errors.h"
#include "base/Text.h"
#include "fuzz_support.h"
#include "run/DriveScript.h"

namespace {

using namespace drivanto::fuzz;

constexpr int64_t kMostReadings = 5000000;

// The script's lines as its reader splits them: at line feeds, a carriage
// return before one dropped; each with the offset where it begins.
struct ScriptLine {
  std::size_t offset;
  std::string text;
};

std::vector<ScriptLine> ScriptLines(std::string_view bytes) {
  std::vector<ScriptLine> lines;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    std::string text(bytes.substr(pos, end - pos));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    lines.push_back({pos, std::move(text)});
    pos = end + 1;
  }
  return lines;
}

// Where the reader finds the starting snapshot: after the first line
// "snapshot" (not the first line of the file) up to and with the line feed
// before the next line "end snapshot". npos when there is none.
struct Region {
  std::size_t begin = std::string_view::npos, end = std::string_view::npos;
  bool marked = false;  // a line "snapshot" is there
};

Region SnapshotRegion(std::string_view bytes) {
  Region r;
  const std::vector<ScriptLine> lines = ScriptLines(bytes);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].text != "snapshot") continue;
    r.marked = true;
    const std::size_t lineEnd = bytes.find('\n', lines[i].offset);
    if (lineEnd == std::string_view::npos) return r;
    const std::size_t end = bytes.find("\nend snapshot\n", lineEnd);
    if (end == std::string_view::npos) return r;
    r.begin = lineEnd + 1;
    r.end = end + 1;
    return r;
  }
  return r;
}

std::string ConfineScript(std::string_view bytes, const std::string& folder) {
  const Region r = SnapshotRegion(bytes);
  if (r.begin == std::string_view::npos) return std::string(bytes);
  return std::string(bytes.substr(0, r.begin)) +
         ConfineSnapshotNames(bytes.substr(r.begin, r.end - r.begin), folder) +
         std::string(bytes.substr(r.end));
}

bool InRange(double t) { return std::isfinite(t) && t >= 0 && t < 1099511627776.0; }
bool PassedMidnight(double before, double now) { return before >= 82800 && now < 3600; }

void CheckScript(const std::string& file, std::string_view bytes, const drivanto::DriveScript& d) {
  const std::vector<ScriptLine> lines = ScriptLines(bytes);
  // The snapshot is the file's bytes from its line on.
  if (d.snapshot.empty()) Fail("a script read without its snapshot");
  if (d.snapshotLine < 3 || static_cast<std::size_t>(d.snapshotLine) > lines.size()) {
    Fail("the snapshot begins at line " + std::to_string(d.snapshotLine) + " of a script of " +
         std::to_string(lines.size()) + " lines");
  }
  const std::size_t at = lines[static_cast<std::size_t>(d.snapshotLine - 1)].offset;
  if (bytes.substr(at, d.snapshot.size()) != d.snapshot) {
    Fail("the snapshot read is not the script's bytes from line " + std::to_string(d.snapshotLine));
  }
  int64_t last = 0;
  auto tick = [&](int64_t t, const char* what) {
    if (t < 0) Fail(std::string("a ") + what + " line of tick " + std::to_string(t) + " was read");
    last = std::max(last, t);
  };
  for (const auto& [t, key] : d.keys) tick(t, "key");
  for (const auto& [t, xy] : d.mouse) tick(t, "mouse");
  for (const auto& [t, v] : d.times) {
    tick(t, "time");
    for (double x : {v.ttot, v.cycleTime, v.clockNow, v.clockPrev, v.dt}) {
      if (!std::isfinite(x))
        Fail("a time line of tick " + std::to_string(t) + " holds " + std::to_string(x));
    }
    if (!InRange(v.clockNow) || !InRange(v.clockPrev)) {
      Fail("the clock of the time line of tick " + std::to_string(t) + " is no time of day");
    }
  }
  double before = -1;
  int64_t previous = INT64_MIN;  // the tick of the last clock line
  std::size_t all = 0;
  for (const auto& [t, readings] : d.clock) all += readings.size();
  if (all > std::max<std::size_t>(kMostReadings, bytes.size())) {
    Fail("a script of " + std::to_string(bytes.size()) + " bytes read as " + std::to_string(all) +
         " clock readings");
  }
  for (const auto& [t, readings] : d.clock) {
    tick(t, "clock");
    if (readings.empty()) Fail("the clock of tick " + std::to_string(t) + " holds no reading");
    if (static_cast<int64_t>(readings.size()) > kMostReadings) {
      Fail("the clock of tick " + std::to_string(t) + " holds " + std::to_string(readings.size()) +
           " readings");
    }
    // Where a time line set the clock anew since the last clock line's
    // tick (from that tick on: a time line may follow the clock line of its
    // tick), the first reading follows the time line's clock.
    const auto time = d.times.lower_bound(previous);
    const bool reset = time != d.times.end() && time->first <= t;
    previous = t;
    for (std::size_t i = 0; i < readings.size(); ++i) {
      const double r = readings[i];
      if (!InRange(r))
        Fail("the clock of tick " + std::to_string(t) + " reads " + std::to_string(r));
      if (!(i == 0 && reset) && before >= 0 && r < before && !PassedMidnight(before, r)) {
        Fail("the clock of tick " + std::to_string(t) + " goes back from " +
             std::to_string(before) + " to " + std::to_string(r));
      }
      before = r;
    }
  }
  if (!d.ended && d.lastTick != last) {
    Fail("a script without its end line lasts to tick " + std::to_string(d.lastTick) +
         ", its lines name ticks up to " + std::to_string(last));
  }
  (void)file;
}

void CheckRefusal(const std::string& file, std::string_view bytes, const drivanto::IoError& e) {
  const std::string message = e.what();
  if (e.file() != file || message.find(file) == std::string::npos) {
    Fail("the reader's error does not name the script " + file + ": " + message);
  }
  // (An empty file is refused at its first line.)
  const std::size_t lines = std::max<std::size_t>(ScriptLines(bytes).size(), 1);
  if (e.line() < 0 || static_cast<std::size_t>(e.line()) > lines) {
    Fail("the reader's error names line " + std::to_string(e.line()) + " of a script of " +
         std::to_string(lines) + " lines: " + message);
  }
  const Region r = SnapshotRegion(bytes);
  const bool snapshot = r.begin != std::string_view::npos && r.end > r.begin;
  if (e.line() == 0 && !drivanto::LooksLikeUtf16(bytes) && snapshot) {
    Fail("the reader's error names no line of a script with a snapshot: " + message);
  }
  if (!IsCleanText(message)) Fail("the reader's error holds raw bytes: " + message);
}

// The number after "steps" in a summary, -1 when there is none.
long long SummarySteps(const std::string& out) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("steps ", 0) == 0) return std::atoll(line.c_str() + 6);
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = Data().path();
  const std::string file = folder + "/FUZZ.TXT";
  const std::string script =
      ConfineScript(std::string_view(reinterpret_cast<const char*>(data), size), folder);

  WriteBytes(file, script);
  std::string refusal;
  try {
    CheckScript(file, script, drivanto::ReadDriveScript(file));
  } catch (const drivanto::IoError& e) {
    CheckRefusal(file, script, e);
    refusal = e.what();
  } catch (const std::exception& e) {
    Fail(std::string("an exception other than IoError left ReadDriveScript: ") + typeid(e).name() +
         ": " + e.what());
  }
  Data().Restore();

  const BatchOutput r =
      FuzzBatch([&] { WriteBytes(file, script); }, {"--script", file, "--max-steps", "50", folder},
                Hash(data, size) % 16 == 0);
  if (!refusal.empty() && (r.code != 1 || r.err.find(refusal) == std::string::npos)) {
    Fail("the reader refused the script (" + refusal + "), the replay ended with code " +
         std::to_string(r.code) + ":\n" + r.err);
  }
  // "drivanto-batch: warning: the replay read the clock N times more than
  // the drive did", a line of its own after a replay that ended well.
  const std::string said = "\ndrivanto-batch: warning: the replay read the clock ";
  if (const std::size_t at = ("\n" + r.err).find(said); r.code == 0 && at != std::string::npos) {
    const long long extra = std::atoll(r.err.c_str() + at + said.size() - 1);
    const long long steps = SummarySteps(r.out);
    if (steps < 0 || extra > (steps + 2) * (kMostReadings + 1)) {
      Fail("the replay read the clock " + std::to_string(extra) + " times more than its drive in " +
           std::to_string(steps) + " steps");
    }
  }
  return 0;
}
