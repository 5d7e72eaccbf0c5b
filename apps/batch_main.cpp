// drivanto-batch: the simulator without its window.

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Batch.h"

int main(int argc, char** argv) {
  // A file-size limit ends a write with an error (reported like a full
  // disk, the file cut back to whole rows) instead of killing the program.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  return drivanto::RunBatch(args, std::cout, std::cerr);
}
