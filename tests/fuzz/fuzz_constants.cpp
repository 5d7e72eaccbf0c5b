// Fuzzing of the constants file: the bytes are CONS.VAL in a private working
// copy of the bundled data, and drivanto-batch runs 20 steps on it (reading
// the constants, completing the file names, reading the "Const" sections of
// the table files and the reference voltage, then the steps themselves).
//
// The names of lines 1 to 14 are kept inside the working copy (no leading
// "/", no ".." parts), so that a run never reads or writes elsewhere; all
// other bytes reach the program as they are. About one input in sixteen is
// run twice, with the same outcome expected (FuzzBatch).

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drivanto::fuzz;
  const std::string& folder = Data().path();
  const std::string constants =
      ConfineLines(std::string_view(reinterpret_cast<const char*>(data), size), 1, 14);
  FuzzBatch([&] { WriteBytes(folder + "/CONS.VAL", constants); }, {"--max-steps", "20", folder},
            Hash(data, size) % 16 == 0);
  return 0;
}
