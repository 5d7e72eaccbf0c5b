// Fuzzing of the drive-cycle files: the bytes are the cycle file FUZZ.CYK in
// a private working copy of the bundled data, followed for 300 steps of
// 0.5 s by drivanto-batch with the bundled car and constants. About every
// other input (by a hash of its bytes) is followed as a time cycle, the
// others as a map cycle, so both readers and the switches between them
// (mode 20) are exercised. About one input in sixteen is run twice, with the
// same outcome expected (FuzzBatch).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drivanto::fuzz;
  const std::string& folder = Data().path();
  const uint64_t hash = Hash(data, size);
  const bool timeCycle = (hash & 1) == 0;
  std::vector<std::string> args;
  if (timeCycle) {
    args = {"--set", "cycleType=T", "--set", "Ttidd=FUZZ.CYK"};
  } else {
    args = {"--set", "cycleType=K", "--set", "Tkarta=FUZZ.CYK"};
  }
  args.insert(args.end(), {"--set", "timeMode=D", "--set", "dt=0.5", "--max-steps", "300", folder});
  const std::string_view cycle(reinterpret_cast<const char*>(data), size);
  FuzzBatch([&] { WriteBytes(folder + "/FUZZ.CYK", cycle); }, args, (hash >> 1) % 16 == 0);
  return 0;
}
