#pragma once
// The simulation record: the state together with what the modules keep open
// between steps (the drive-cycle file, the result files, the table cache) and
// the clock the time base reads.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/Tables.h"
#include "state/State.h"

namespace drivanto {

// The time of day in seconds (hours x 3600 + minutes x 60 + seconds +
// milliseconds x 0.001).
class Clock {
 public:
  virtual ~Clock() = default;
  // The clock as the time base first reads it in a step.
  virtual double Read() = 0;
  // The clock read again while the time base waits for 1 ms to pass.
  virtual double ReadAgain() = 0;
};

// Whether a clock value still moves when a millisecond is added to it (a
// finite value below 2^40 s); a snapshot may hold any value.
inline bool ClockCanAdvance(double t) { return t - t == 0.0 && t < 1099511627776.0 && t > -1099511627776.0; }

// The computer's clock, local time, to the millisecond.
class SystemClock : public Clock {
 public:
  double Read() override;
  double ReadAgain() override { return Read(); }
};

// A clock that stands still but for what the runner adds: 0.04 s at the start
// of every tick and 0.001 s at every reread of the time base's wait, so a
// real-time run advances 0.04 s per step and is reproducible.
class SimulatedClock : public Clock {
 public:
  double now = 43200.0;
  double Read() override { return now; }
  double ReadAgain() override {
    now += 0.001;
    return now;
  }
};

// The drive-cycle file, open while it is followed.
class CycleFile {
 public:
  CycleFile() = default;
  CycleFile(const CycleFile&) = delete;
  CycleFile& operator=(const CycleFile&) = delete;
  ~CycleFile() { Close(); }

  // Opens (or reopens from its beginning) the named file. Throws IoError.
  void Open(const std::string& name);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // True when nothing but blanks and line ends is left.
  bool AtEnd();
  // Reads six numbers (line ends count as blanks) and skips the rest of the
  // line of the sixth. Throws IoError naming the file, the row and the reason.
  void ReadRow(double out[6]);

 private:
  int Get();
  void Unget(int c);
  std::FILE* file_ = nullptr;
  std::string name_;
  int row_ = 0;   // rows read since the file was opened
  int line_ = 1;  // the line being read
};

// A result file, open for the run.
class ResultFile {
 public:
  ResultFile() = default;
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile() {
    try {
      Close();
    } catch (...) {
    }
  }

  void Create(const std::string& name);      // empties an existing file
  void OpenAppend(const std::string& name);  // keeps its rows
  // Writes a line ended by CR LF. Unbuffered files hand every line to the
  // system at once.
  void WriteLine(const std::string& line);
  // A line built in place: append its text to the returned buffer, then
  // EndLine ends it with CR LF.
  std::string& BeginLine();
  void EndLine();
  // Hands the collected lines to the system. When that fails (a full disk,
  // the file-size limit) the file is cut back to its last complete line, the
  // lines not written are dropped and IoError names the file and the reason.
  void Flush();
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }

  // The batch runner collects rows and writes them in large pieces.
  bool buffered = false;

 private:
  int fd_ = -1;
  int64_t size_ = 0;  // bytes of complete lines in the file
  std::string name_;
  std::string pending_;
};

// Where the model looks up its tables: one site per table it reads.
struct ModelTables {
  TableSite roadLoad;          // vehicle, table 1
  TableSite batteryDischarge;  // battery, table 1
  TableSite batteryCharge;     // battery, table 2
  TableSite motorDrive;        // motor, table 1
  TableSite motorBrake;        // motor, table 2
  TableSite engineTorque;      // engine, table 1
  TableSite engineEfficiency;  // engine, table 2
  TableSite engineCO;          // engine, tables 3 to 5
  TableSite engineNOx;
  TableSite engineHC;
  TableSite brakeRegen;        // brake regeneration, table 1
};

struct Sim {
  State s;
  TableCache tables;
  ModelTables sites;
  CycleFile cycleFile;
  ResultFile result1;
  ResultFile result2;
  Clock* clock = nullptr;
  // Files the runner names besides those of the settings (a snapshot to load
  // or to save), each with its role; no result file may overwrite them.
  std::vector<std::pair<std::string, std::string>> namedFiles;

  // The two row buffers of the cycle reader still hold the values they had
  // before the first row was read (not a row of any file).
  bool cycleRowIsInitial = true;
  bool cyclePrevRowIsInitial = true;
};

}  // namespace drivanto
