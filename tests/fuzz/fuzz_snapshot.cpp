// Fuzzing of the snapshot files: the bytes are a snapshot loaded by
// drivanto-batch (--load-snapshot) in a private working copy of the bundled
// data, after which the run goes on for 50 steps: from the snapshot's own
// step when it was saved during a run, else from START.
//
// The seed snapshots were saved by runs in the folder kSeedFolder, so their
// file names begin with it; the harness puts its own copy of the data in
// its place. The names a run may open (lines 3, 81 to 94 and 98) are kept
// inside that copy (no ".." parts); all other bytes reach the program as
// they are. About one input in sixteen is run twice, with the same outcome
// expected (FuzzBatch).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr std::string_view kSeedFolder = "/tmp/drivanto-fuzz-data";

bool IsNameLine(int n) { return n == 3 || (n >= 81 && n <= 94) || n == 98; }

std::string ConfineNames(std::string_view bytes, const std::string& folder) {
  using namespace drivanto::fuzz;
  std::vector<RawLine> lines = SplitRaw(bytes);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!IsNameLine(static_cast<int>(i) + 1)) continue;
    std::string& t = lines[i].text;
    if (t.empty()) continue;
    std::string_view rest = t;
    if (rest.substr(0, kSeedFolder.size()) == kSeedFolder) rest.remove_prefix(kSeedFolder.size());
    const std::string inside = ConfineRelative(rest);
    t = inside.empty() ? folder : folder + "/" + inside;
  }
  return JoinRaw(lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drivanto::fuzz;
  const std::string& folder = Data().path();
  const std::string file = folder + "/FUZZ.SNP";
  const std::string snapshot =
      ConfineNames(std::string_view(reinterpret_cast<const char*>(data), size), folder);
  FuzzBatch([&] { WriteBytes(file, snapshot); }, {"--load-snapshot", file, "--max-steps", "50", folder},
            Hash(data, size) % 16 == 0);
  return 0;
}
