// Fuzzing of the snapshot files: the bytes are a snapshot loaded by
// drivanto-batch (--load-snapshot) in a private working copy of the bundled
// data, after which the run goes on for 50 steps: from the snapshot's own
// step when it was saved during a run, else from START.
//
// The seed snapshots were saved by runs in the folder kSeedFolder, so their
// file names begin with it; the harness puts its own copy of the data in
// its place. The names a run may open (lines 3, 81 to 94 and 98) are kept
// inside that copy (ConfineSnapshotNames: no ".." parts); all other bytes
// reach the program as they are. About one input in sixteen is run twice,
// with the same outcome expected (FuzzBatch).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drivanto::fuzz;
  const std::string& folder = Data().path();
  const std::string file = folder + "/FUZZ.SNP";
  const std::string snapshot =
      ConfineSnapshotNames(std::string_view(reinterpret_cast<const char*>(data), size), folder);
  FuzzBatch([&] { WriteBytes(file, snapshot); },
            {"--load-snapshot", file, "--max-steps", "50", folder}, Hash(data, size) % 16 == 0);
  return 0;
}
