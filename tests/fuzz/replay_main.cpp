// The fuzz harnesses without libFuzzer, for the regression test of the
// normal build: every file of the given folders (and every file given)
// through one harness, in name order.
//
//   fuzz_replay HARNESS PATH...      HARNESS: tables, constants, cycle, snapshot,
//                                             script, sweep_input, collect, json,
//                                             plot
//
// A fault aborts as it does under the fuzzer; an input that takes longer than
// the time limit (seconds, DRIVANTO_FUZZ_REPLAY_TIMEOUT, default 60) ends
// the run with exit code 124, naming the input.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"

// The harnesses, their entry points renamed when they are built for this
// program (tests/CMakeLists.txt).
extern "C" int DrivantoFuzzTables(const uint8_t* data, size_t size);
extern "C" int DrivantoFuzzConstants(const uint8_t* data, size_t size);
extern "C" int DrivantoFuzzCycle(const uint8_t* data, size_t size);
extern "C" int DrivantoFuzzSnapshot(const uint8_t* data, size_t size);
extern "C" int DrivantoFuzzScript(const uint8_t* data, size_t size);
extern "C" int DrivantoFuzzSweepInput(const uint8_t* data, size_t size);
extern "C" int DrivantoFuzzCollect(const uint8_t* data, size_t size);
extern "C" int DrivantoFuzzJson(const uint8_t* data, size_t size);
extern "C" int DrivantoFuzzPlot(const uint8_t* data, size_t size);

namespace {

char currentInput[4096];

void OnAlarm(int) {
  const char head[] = "\n*** fuzz_replay: time limit exceeded on ";
  ssize_t ignored = ::write(2, head, sizeof head - 1);
  ignored = ::write(2, currentInput, std::strlen(currentInput));
  ignored = ::write(2, "\n", 1);
  (void)ignored;
  ::_exit(124);
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: %s tables|constants|cycle|snapshot|script|sweep_input|collect|json|plot "
                 "PATH...\n",
                 argv[0]);
    return 2;
  }
  const std::string harness = argv[1];
  int (*run)(const uint8_t*, size_t) = nullptr;
  if (harness == "tables") run = DrivantoFuzzTables;
  if (harness == "constants") run = DrivantoFuzzConstants;
  if (harness == "cycle") run = DrivantoFuzzCycle;
  if (harness == "snapshot") run = DrivantoFuzzSnapshot;
  if (harness == "script") run = DrivantoFuzzScript;
  if (harness == "sweep_input") run = DrivantoFuzzSweepInput;
  if (harness == "collect") run = DrivantoFuzzCollect;
  if (harness == "json") run = DrivantoFuzzJson;
  if (harness == "plot") run = DrivantoFuzzPlot;
  if (!run) {
    std::fprintf(stderr, "unknown harness %s\n", harness.c_str());
    return 2;
  }
  std::vector<std::string> inputs;
  for (int i = 2; i < argc; ++i) {
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      std::vector<std::string> files;
      for (const auto& e : fs::directory_iterator(argv[i], ec)) {
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path().string());
      }
      std::sort(files.begin(), files.end());
      inputs.insert(inputs.end(), files.begin(), files.end());
    } else if (fs::is_regular_file(argv[i], ec)) {
      inputs.push_back(argv[i]);
    } else {
      std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
      return 2;
    }
  }
  // The temporary folder the harnesses use, made when it does not exist yet.
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) {
    std::error_code ec;
    fs::create_directories(tmp, ec);
  }
  const char* limitText = std::getenv("DRIVANTO_FUZZ_REPLAY_TIMEOUT");
  const unsigned limit = limitText ? static_cast<unsigned>(std::atoi(limitText)) : 60;
  ::signal(SIGALRM, OnAlarm);
  for (const std::string& input : inputs) {
    std::snprintf(currentInput, sizeof currentInput, "%s", input.c_str());
    std::fprintf(stderr, "%s: %s\n", harness.c_str(), input.c_str());
    bool exists = false;
    const std::string bytes = drivanto::fuzz::ReadBytes(input, &exists);
    if (!exists) {
      std::fprintf(stderr, "cannot read %s\n", input.c_str());
      return 2;
    }
    ::alarm(limit);
    run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ::alarm(0);
  }
  std::fprintf(stderr, "%zu inputs through the %s harness\n", inputs.size(), harness.c_str());
  return 0;
}
