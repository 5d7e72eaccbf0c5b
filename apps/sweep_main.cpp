// drivanto-sweep: runs of the simulator over a grid of settings, on all cores.

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "study/Sweep.h"

int main(int argc, char** argv) {
  // A file-size limit ends a write with an error (reported like a full
  // disk, the file cut back to whole rows) instead of killing the program.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  return drivanto::RunSweep(args, std::cout, std::cerr);
}
