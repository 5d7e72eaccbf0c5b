// drivanto-optimal: the optimum of a cycle by dynamic programming, and the
// model's run of it.

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Optimal.h"

int main(int argc, char** argv) {
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  return drivanto::RunOptimal(args, std::cout, std::cerr);
}
