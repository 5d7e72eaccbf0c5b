// drivanto-batch: the simulator without its window.

#include <iostream>
#include <string>
#include <vector>

#include "cli/Batch.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return drivanto::RunBatch(args, std::cout, std::cerr);
}
