// drivanto-sweep: runs of the simulator over a grid of settings, on all cores.

#include <iostream>
#include <string>
#include <vector>

#include "study/Sweep.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return drivanto::RunSweep(args, std::cout, std::cerr);
}
