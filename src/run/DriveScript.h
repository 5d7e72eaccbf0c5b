#pragma once
// Drive scripts: a drive made in the window - its start, the key typed and
// the mouse position before each tick, and what the time base read from the
// clock in each tick - recorded as plain text while the drive goes on, and
// replayed by the batch runner to the same steps. A script's lines:
//
//   drivanto drive script 1
//   snapshot                  the state at the start, as a snapshot file's
//   ...                       1050 lines (its own line ends as written),
//                             and a strategy's three lines as a snapshot
//                             file has them, when one ran
//   end snapshot              then the drive:
//   key N:C                   the key C typed before tick N (as --key)
//   mouse N:X,Y               the mouse at X,Y before tick N (as --mouse)
//   clock N:T1,T2,...         the clock readings of tick N in the order the
//                             time base made them (N = 0: at START); a
//                             reading repeated K times is written T*K
//   time N:TTOT,CYCLE,NOW,PREV,DT
//                             between ticks, before tick N, the time base's
//                             values were changed (a pause, a dialog, a
//                             panel): ttot, cycleTime, clockNow, clockPrev
//                             and dt as they were when tick N began
//   end N                     the recording stopped after tick N
//
// Lines beginning with "#" are comments. Clock readings are seconds of the
// day: finite, not below 0, and never going back but across midnight.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "run/Tick.h"
#include "model/Clock.h"
#include "state/State.h"

namespace drivanto {

struct DriveScript {
  std::string snapshot;  // the snapshot's bytes
  int snapshotLine = 0;  // the script's line that holds the snapshot's line 1
  std::multimap<int64_t, char> keys;
  std::multimap<int64_t, std::pair<int32_t, int32_t>> mouse;
  std::map<int64_t, std::vector<double>> clock;
  // The time base's values where something between ticks changed them,
  // before the tick of the key.
  struct TimeBase {
    double ttot, cycleTime, clockNow, clockPrev, dt;
  };
  std::map<int64_t, TimeBase> times;
  // The last tick of the drive: the end line's, else (a recording cut short)
  // the last tick any line names.
  int64_t lastTick = 0;
  bool ended = false;  // the script holds the end line of its recording
};

// Reads a script; throws IoError naming the file and the line.
DriveScript ReadDriveScript(const std::string& fileName);

// The text of a key or mouse line's value: "space" for a blank.
std::string KeyText(char cp1252);
// Parses "N:C" and "N:X,Y" as --key and --mouse take them.
bool ParseKeyValue(const std::string& text, int64_t* tick, char* key);
bool ParseMouseValue(const std::string& text, int64_t* tick, int32_t* x, int32_t* y);

// A clock that hands out the readings of a script, tick by tick; a tick
// that reads more often than its drive did goes on a millisecond a reading.
class ScriptedClock : public Clock {
 public:
  explicit ScriptedClock(const DriveScript& script) : script_(script) {}
  void BeginTick(int64_t tick);
  double Read() override;
  double ReadAgain() override;
  // Readings asked beyond what the script holds (a sign the replay differs).
  int64_t extraReadings() const { return extra_; }

 private:
  double Next();
  const DriveScript& script_;
  const std::vector<double>* readings_ = nullptr;
  std::size_t next_ = 0;
  double last_ = 43200.0;
  int64_t extra_ = 0;
};

// Writes a drive as it goes: every line is flushed at once, so the script
// survives a program that is killed.
class DriveRecorder : public RunObserver {
 public:
  DriveRecorder() = default;
  DriveRecorder(const DriveRecorder&) = delete;
  DriveRecorder& operator=(const DriveRecorder&) = delete;
  ~DriveRecorder();

  // Creates the file with the starting state and the strategy's lines (its
  // name, parameters and what it keeps; empty for the car's own rule) after
  // the snapshot's; throws IoError.
  void Begin(const std::string& fileName, const State& start, char decimalSeparator,
             const std::string& strategyLines = {});
  bool IsRecording() const { return file_ != nullptr; }
  const std::string& fileName() const { return name_; }
  // Before tick `tick` runs: the key and mouse it will see.
  void BeforeTick(int64_t tick, const State& s);
  // A reading the time base made in the tick under way.
  void Reading(double t) { readings_.push_back(t); }
  // The tick has run: its readings are written.
  void AfterTick(int64_t tick, const State& s);
  // The same as an observer of the run (while recording).
  using RunObserver::Begin;
  using RunObserver::End;
  void BeforeTick(const Sim& sim, int64_t tick) override { BeforeTick(tick, sim.s); }
  void AfterTick(const Sim& sim, int64_t tick) override { AfterTick(tick, sim.s); }
  // Readings made outside a tick (a hold, a dialog) belong to no step.
  void DropReadings() { readings_.clear(); }
  // Stops recording after tick `lastTick`: writes the end line.
  void End(int64_t lastTick);
  // Stops without an end line (the drive's file is closed as it is).
  void End();

 private:
  void Write(const std::string& line);
  // The time base's values as the last tick left them.
  void NoteTimeBase(const State& s);
  std::FILE* file_ = nullptr;
  std::string name_;
  long long whole_ = 0;  // bytes of whole lines in the file
  int64_t lastTick_ = 0;
  std::vector<double> readings_;
  double ttot_ = 0, cycleTime_ = 0, clockNow_ = 0, clockPrev_ = 0, dt_ = 0;
  char lastKey_ = '.';
  int32_t lastX_ = 0, lastY_ = 0;
};

// A clock that tells a recorder what it reads.
class RecordingClock : public Clock {
 public:
  RecordingClock(Clock& inner, DriveRecorder& recorder) : inner_(inner), recorder_(recorder) {}
  double Read() override { return Tell(inner_.Read()); }
  double ReadAgain() override { return Tell(inner_.ReadAgain()); }

 private:
  double Tell(double t) {
    if (recorder_.IsRecording()) recorder_.Reading(t);
    return t;
  }
  Clock& inner_;
  DriveRecorder& recorder_;
};

}  // namespace drivanto
