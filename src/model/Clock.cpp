#include "model/Clock.h"

#include <chrono>
#include <ctime>

namespace drivanto {

double SystemClock::Read() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ms * 0.001;
}

}  // namespace drivanto
