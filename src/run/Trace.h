#pragma once
// Step traces: a CSV file with a header of variable names and their units
// (ttot_s, v_m_per_s, U_V, ...) and one row per step, or every N-th step, of
// any state variables by their catalogue names, numbers in the shortest form
// that reads back as the same value.

#include <string>
#include <vector>

#include "model/ResultFile.h"
#include "model/Sim.h"
#include "state/Variables.h"

namespace drivanto {

// The default set: time, distance, speeds, slope, battery, motor, engine,
// fuel and emissions.
const std::vector<std::string>& DefaultTraceVariables();

// The unit of a variable (from the field catalogue) as it appears in a
// header name ("m_per_s"), or "" for counts, codes, flags and texts.
std::string TraceUnit(const std::string& name);

// The names a trace can hold: every variable that is not a table.
std::vector<std::string> TraceableVariables();

// Checks a list of names; returns the first that is not a scalar variable of
// the catalogue, or "".
std::string UnknownTraceVariable(const std::vector<std::string>& names);

class TraceWriter {
 public:
  TraceWriter() = default;
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Creates the file and writes the header. Throws IoError.
  void Open(const std::string& fileName, const std::vector<std::string>& names, long every);
  // One row for the step with this counter (written when it falls on `every`).
  void Step(const State& s, long step);
  // The run's last step, when `every` left it out, so a trace always ends
  // where the run ended.
  void Finish(const State& s, long step);
  // Writes what is buffered and closes; throws IoError.
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }

 private:
  ResultFile file_;
  std::vector<Field> fields_;
  void WriteRow(const State& s);
  long every_ = 1;
  long lastWritten_ = 0;
};

}  // namespace drivanto
