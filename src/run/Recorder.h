#pragma once
// Variables of a run kept in memory, a value per step: the columns a caller
// asks for instead of a trace file.

#include <cstdint>
#include <string>
#include <vector>

#include "run/Runner.h"
#include "state/Variables.h"

namespace drivanto {

// Whether the variable can be recorded as numbers (a real, a whole number or
// a flag of the catalogue; not a text, a letter or a table).
bool RecordableVariable(const std::string& name);

class Recorder : public RunObserver {
 public:
  // Throws UsageError naming a variable that cannot be recorded.
  explicit Recorder(const std::vector<std::string>& names);
  void AfterStep(const Sim& sim, int64_t step) override;
  std::vector<std::vector<double>> TakeColumns() { return std::move(columns_); }

 private:
  std::vector<Field> fields_;
  std::vector<std::vector<double>> columns_;
};

}  // namespace drivanto
