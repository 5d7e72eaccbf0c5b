#include "shell/RunControl.h"

#include <langinfo.h>
#include <locale.h>

#include "base/Rounding.h"
#include "base/Text.h"
#include "model/Modules.h"
#include "state/Snapshot.h"

namespace drivanto {

bool LoadSnapshotIntoRun(Sim& sim, const std::string& fileName) {
  State& s = sim.s;
  CheckIsSnapshot(fileName);
  s.ValueFileName = Cut250(fileName);
  LoadSnapshot(s, fileName);
  return s.stegnr > 1;
}

void ResumeLoadedRun(Sim& sim) {
  State& s = sim.s;
  // The loaded row buffers are rows of the cycle file.
  sim.cycleRowIsInitial = false;
  sim.cyclePrevRowIsInitial = false;
  ResumeCycleFile(sim);
  // Whether the oncoming car is under way is not kept in a snapshot. It
  // starts at the beginning of the road's first lap (position 800, where it
  // stands for about 106 positions) and never stops, so a run resumed past
  // that point, or with the car drawn somewhere, has it under way.
  const int32_t roadPosition = RoundInt(20 * s.ttot + s.mapPos);
  if (roadPosition >= 906 || s.motx != 0 || s.moty != 0) s.motstatus = 2;
}

void SaveSnapshotOfRun(Sim& sim, const std::string& fileName, char decimalSeparator) {
  State& s = sim.s;
  s.ValueFileName = Cut250(fileName);
  s.paus = 1;
  SaveSnapshot(s, fileName, decimalSeparator);
}

void RebaseClock(Sim& sim) {
  State& s = sim.s;
  s.clockNow = sim.clock->Read();
  s.clockPrev = s.clockNow;
}

char UserDecimalSeparator() {
  locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return '.';
  const char* radix = ::nl_langinfo_l(RADIXCHAR, user);
  const char separator = (radix && (radix[0] == ',' || radix[0] == '.')) ? radix[0] : '.';
  ::freelocale(user);
  return separator;
}

}  // namespace drivanto
