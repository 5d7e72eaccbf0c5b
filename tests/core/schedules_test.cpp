// The standard drive schedules bundled as time cycles: WLTC3B.CYK (WLTC class
// 3b), NEDC.CYK (four ECE-15 urban cycles and the extra-urban cycle) and
// FTP75.CYK (UDDS, a 600 s stop, the first 505 s of UDDS again). Each file is
// checked against the definition of its schedule, then followed to its end by
// the bundled car with the file's own time increment. The schedules are part
// of the bundled data, so these runs take a copy of it (DRIVANTO_TEST_DATA_DIR)
// with its constants file, not the frozen inputs of the other scenarios.

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "batch_harness.h"

namespace drivanto::testing {
namespace {

constexpr double kKmh = 1 / 3.6;  // m/s per km/h

struct CycleRow {
  double t = 0, v = 0, slope = 0, mode = 0, dt = 0, curve = 0;
  std::string dtText;  // the increment column as written
};

// The rows of a cycle file; every line must hold exactly six numbers.
std::vector<CycleRow> ReadCycle(const BatchFolder& f, const std::string& name) {
  std::istringstream in(f.Read(name));
  std::vector<CycleRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    EXPECT_EQ(w.size(), 6u) << name << " row " << rows.size() + 1 << ": " << line;
    if (w.size() != 6) continue;
    CycleRow r;
    double* cols[6] = {&r.t, &r.v, &r.slope, &r.mode, &r.dt, &r.curve};
    for (int k = 0; k < 6; ++k) {
      std::size_t used = 0;
      *cols[k] = std::stod(w[k], &used);
      EXPECT_EQ(used, w[k].size()) << name << ": \"" << w[k] << "\" is not a plain number";
    }
    r.dtText = w[4];
    rows.push_back(r);
  }
  return rows;
}

// The layout of UDDS.CYK and HWFET.CYK: one row per second from 0 to the
// schedule's duration (speed in m/s with at most three decimals, slope 0,
// mode 0, the same increment throughout, curve 0), then two rows with mode 100
// one and two seconds later; CR LF line ends. The schedule starts and ends
// at rest. Returns false (with failures recorded) when the layout is wrong.
bool CheckLayout(const BatchFolder& f, const std::string& name, const std::vector<CycleRow>& rows,
                 int seconds) {
  const std::string bytes = f.Read(name);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), static_cast<std::ptrdiff_t>(rows.size()));
  EXPECT_EQ(bytes.find_first_not_of("0123456789.- \r\n"), std::string::npos);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool crlf = bytes[i] == '\r'   ? i + 1 < bytes.size() && bytes[i + 1] == '\n'
                      : bytes[i] == '\n' ? i > 0 && bytes[i - 1] == '\r'
                                         : true;
    if (!crlf) {
      ADD_FAILURE() << name << ": a line end other than CR LF at byte " << i;
      break;
    }
  }
  EXPECT_TRUE(bytes.ends_with("\r\n"));

  // The increment column is that of UDDS.CYK.
  const std::vector<CycleRow> udds = ReadCycle(f, "UDDS.CYK");
  EXPECT_FALSE(udds.empty());
  const std::string increment = udds.empty() ? "" : udds.front().dtText;

  if (rows.size() != static_cast<std::size_t>(seconds) + 3) {
    ADD_FAILURE() << name << " has " << rows.size() << " rows, not " << seconds + 3;
    return false;
  }
  int bad = 0;
  for (int i = 0; i < seconds + 3; ++i) {
    const CycleRow& r = rows[i];
    const bool end = i > seconds;
    const bool ok = r.t == i && r.v >= 0 && r.v < 40 && r.slope == 0 && r.mode == (end ? 100 : 0) &&
                    r.dtText == increment && r.curve == 0 &&
                    std::fabs(r.v * 1000 - std::round(r.v * 1000)) < 1e-6;
    if (!ok && ++bad <= 5) ADD_FAILURE() << name << " row " << i + 1 << " is out of place";
  }
  EXPECT_EQ(rows[0].v, 0);
  EXPECT_EQ(rows[seconds].v, 0);
  EXPECT_EQ(rows[seconds + 1].v, 0);
  return bad == 0;
}

// Trapezoidal distance in m over the seconds a to b of the schedule.
double Distance(const std::vector<CycleRow>& rows, int a, int b) {
  double d = 0;
  for (int i = a; i < b; ++i) d += (rows[i].v + rows[i + 1].v) / 2;
  return d;
}

double MaxSpeed(const std::vector<CycleRow>& rows, int a, int b) {
  double m = 0;
  for (int i = a; i <= b; ++i) m = std::max(m, rows[i].v);
  return m;
}

// Whole seconds from a to b at rest, and with rising speed.
int SecondsAtRest(const std::vector<CycleRow>& rows, int a, int b) {
  int n = 0;
  for (int i = a; i < b; ++i) n += rows[i].v == 0 && rows[i + 1].v == 0;
  return n;
}
int SecondsAccelerating(const std::vector<CycleRow>& rows, int a, int b) {
  int n = 0;
  for (int i = a; i < b; ++i) n += rows[i + 1].v > rows[i].v;
  return n;
}

// The speeds in km/h held for at least one whole second from a to b.
std::set<long> SteadySpeedsKmh(const std::vector<CycleRow>& rows, int a, int b) {
  std::set<long> s;
  for (int i = a; i < b; ++i) {
    if (rows[i].v > 0 && rows[i].v == rows[i + 1].v) s.insert(std::lround(rows[i].v / kKmh));
  }
  return s;
}

// Follows the cycle to its end with the batch runner on the bundled car, with
// a fixed increment equal to the file's increment column (0.1 s, as the
// schedules UDDS.CYK and HWFET.CYK carry): the run ends at the first mode-100
// row, without errors, and drives the schedule's distance to within 1 %. The
// speed never strays more than 4 m/s from the requested one: the car keeps up
// with every acceleration of the schedule, and the brake acts once the car is
// 10 % faster than requested (3.6 m/s at 131 km/h).
void FollowToTheEnd(const std::string& name, const std::vector<CycleRow>& rows, int seconds) {
  SCOPED_TRACE("run of " + name);
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  const double distance = Distance(rows, 0, seconds);
  auto j = f.RunJson(TimeCycle(name, rows.front().dtText));
  EXPECT_EQ(j["endReason"], "mode100");
  EXPECT_FALSE(f.Exists("ERROR.TAB"));
  EXPECT_GE(Num(j, "ttot"), seconds + 1);
  EXPECT_LT(Num(j, "ttot"), seconds + 2);
  EXPECT_NEAR(Num(j, "ltot"), distance, 0.01 * distance);
  EXPECT_EQ(Num(j, "height"), 0);
  // About ten steps per second of the schedule.
  EXPECT_NEAR(Num(j, "steps"), 10 * (seconds + 1), 20);

  // Result file 2, one row a step: column "vb-v" is requested minus driven speed.
  const Rows result = f.ResultRows("RESULT2.TXT");
  EXPECT_EQ(static_cast<double>(result.size()), Num(j, "steps"));
  double worst = 0, worstAt = 0;
  for (const auto& r : result) {
    if (r.size() == 15 && std::fabs(r[r2::dv]) > worst) {
      worst = std::fabs(r[r2::dv]);
      worstAt = r[r2::ttot];
    }
  }
  EXPECT_LE(worst, 4.0) << "at " << worstAt << " s";
  EXPECT_GT(worst, 0);

  // The summary's trace miss says the same: the requested speed over the
  // steps covers the schedule's distance, the car drives it to within 1 %,
  // and its largest shortfall and excess stay within the 4 m/s.
  EXPECT_NEAR(Num(j, "traceMiss.cycleDistance"), distance, 0.002 * distance);
  EXPECT_LT(std::fabs(Num(j, "traceMiss.distanceError")), 1.0);
  EXPECT_GT(Num(j, "traceMiss.distanceError"), 0);  // the brake acts late: a little more
  EXPECT_LE(Num(j, "traceMiss.maxShortfall"), 4.0 * 3.6);
  EXPECT_LE(Num(j, "traceMiss.maxExcess"), 4.0 * 3.6);
  EXPECT_GT(Num(j, "traceMiss.secondsOffBand"), 0);
  EXPECT_LT(Num(j, "traceMiss.secondsOffBand"), 0.2 * seconds);
  std::printf(
      "%s: distance error %.2f %%, shortfall %.1f km/h, excess %.1f km/h, %.0f s off the band\n",
      name.c_str(), Num(j, "traceMiss.distanceError"), Num(j, "traceMiss.maxShortfall"),
      Num(j, "traceMiss.maxExcess"), Num(j, "traceMiss.secondsOffBand"));
}

TEST(Schedules, Wltc3bHasTheFourPhasesOfClass3bAndIsDrivenToItsEnd) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  const auto rows = ReadCycle(f, "WLTC3B.CYK");
  ASSERT_TRUE(CheckLayout(f, "WLTC3B.CYK", rows, 1800));

  // UN GTR No. 15, class 3b: end second, distance in m, maximum speed in km/h.
  struct Phase {
    const char* name;
    int end;
    double distance, vmax;
  };
  int start = 0;
  for (const Phase p : {Phase{"low", 589, 3095, 56.5}, Phase{"medium", 1022, 4756, 76.6},
                        Phase{"high", 1477, 7162, 97.4}, Phase{"extra high", 1800, 8254, 131.3}}) {
    SCOPED_TRACE(p.name);
    EXPECT_NEAR(Distance(rows, start, p.end), p.distance, 1);
    EXPECT_NEAR(MaxSpeed(rows, start, p.end), p.vmax * kKmh, 0.01 * kKmh);
    EXPECT_EQ(rows[p.end].v, 0);  // each phase ends at rest
    start = p.end;
  }
  EXPECT_NEAR(Distance(rows, 0, 1800), 23270, 5);  // 23.27 km
  EXPECT_NEAR(MaxSpeed(rows, 0, 1800), 131.3 * kKmh, 0.01 * kKmh);

  FollowToTheEnd("WLTC3B.CYK", rows, 1800);
}

// One operation of the NEDC tables: its duration, the speed at its end and
// the acceleration the table gives for it (0 for idling, steady speed and
// gear changes, which hold the speed, except the last gear change of the urban
// cycle, from 35 to 32 km/h, marked kGearChangeDown).
struct Operation {
  int seconds;
  double endKmh;
  double acceleration;  // m/s²
};
constexpr double kGearChangeDown = 99;

// The elementary urban cycle (ECE-15), 195 s.
const Operation kUrban[] = {
    {11, 0, 0},                // idling
    {4, 15, 1.04},             // acceleration
    {8, 15, 0},                // steady speed
    {2, 10, -0.69},            // deceleration
    {3, 0, -0.92},             // deceleration, clutch disengaged
    {21, 0, 0},                // idling
    {5, 15, 0.83},             // acceleration
    {2, 15, 0},                // gear change
    {5, 32, 0.94},             // acceleration
    {24, 32, 0},               // steady speed
    {8, 10, -0.75},            // deceleration
    {3, 0, -0.92},             // deceleration, clutch disengaged
    {21, 0, 0},                // idling
    {5, 15, 0.83},             // acceleration
    {2, 15, 0},                // gear change
    {9, 35, 0.62},             // acceleration
    {2, 35, 0},                // gear change
    {8, 50, 0.52},             // acceleration
    {12, 50, 0},               // steady speed
    {8, 35, -0.52},            // deceleration
    {13, 35, 0},               // steady speed
    {2, 32, kGearChangeDown},  // gear change
    {7, 10, -0.86},            // deceleration
    {3, 0, -0.92},             // deceleration, clutch disengaged
    {7, 0, 0},                 // idling
};
// The extra-urban cycle, 400 s.
const Operation kExtraUrban[] = {
    {20, 0, 0},       // idling
    {5, 15, 0.83},    // acceleration
    {2, 15, 0},       // gear change
    {9, 35, 0.62},    // acceleration
    {2, 35, 0},       // gear change
    {8, 50, 0.52},    // acceleration
    {2, 50, 0},       // gear change
    {13, 70, 0.43},   // acceleration
    {50, 70, 0},      // steady speed
    {8, 50, -0.69},   // deceleration
    {69, 50, 0},      // steady speed
    {13, 70, 0.43},   // acceleration
    {50, 70, 0},      // steady speed
    {35, 100, 0.24},  // acceleration
    {30, 100, 0},     // steady speed
    {20, 120, 0.28},  // acceleration
    {10, 120, 0},     // steady speed
    {16, 80, -0.69},  // deceleration
    {8, 50, -1.04},   // deceleration
    {10, 0, -1.39},   // deceleration, clutch disengaged
    {20, 0, 0},       // idling
};

// Checks the rows from second `start` on against the operations: straight
// ramps between the speeds of the table, at every second within the three
// decimals of the file. Returns the duration of the operations.
template <std::size_t N>
int CheckOperations(const std::vector<CycleRow>& rows, int start, const Operation (&ops)[N]) {
  int t = start;
  double v0 = 0;  // km/h
  for (const Operation& op : ops) {
    const double a = (op.endKmh - v0) * kKmh / op.seconds;
    if (op.acceleration != kGearChangeDown) {
      EXPECT_NEAR(a, op.acceleration, 0.015) << "operation ending at " << t + op.seconds - start;
    }
    for (int i = 0; i <= op.seconds; ++i) {
      const double v = (v0 + (op.endKmh - v0) * i / op.seconds) * kKmh;
      EXPECT_NEAR(rows[t + i].v, v, 0.0005 + 1e-9) << "second " << t + i - start;
    }
    t += op.seconds;
    v0 = op.endKmh;
  }
  return t - start;
}

TEST(Schedules, NedcIsFourUrbanCyclesAndTheExtraUrbanCycleAndIsDrivenToItsEnd) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  const auto rows = ReadCycle(f, "NEDC.CYK");
  ASSERT_TRUE(CheckLayout(f, "NEDC.CYK", rows, 1180));

  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE("urban cycle " + std::to_string(k + 1));
    const int a = 195 * k, b = a + 195;
    EXPECT_EQ(CheckOperations(rows, a, kUrban), 195);
    // 60 s idling, 36 s accelerating, speeds held at 15, 32, 35 and 50 km/h
    // (steady speeds and gear changes). The published distance is 1.013 km;
    // the straight ramps of the table give 1.0146 km.
    EXPECT_EQ(SecondsAtRest(rows, a, b), 60);
    EXPECT_EQ(SecondsAccelerating(rows, a, b), 36);
    EXPECT_EQ(SteadySpeedsKmh(rows, a, b), (std::set<long>{15, 32, 35, 50}));
    EXPECT_NEAR(MaxSpeed(rows, a, b), 50 * kKmh, 0.001);
    EXPECT_NEAR(Distance(rows, a, b), 1013, 2);
  }
  {
    SCOPED_TRACE("extra-urban cycle");
    EXPECT_EQ(CheckOperations(rows, 780, kExtraUrban), 400);
    // 40 s idling, 103 s accelerating, 120 km/h at most, 6.955 km.
    EXPECT_EQ(SecondsAtRest(rows, 780, 1180), 40);
    EXPECT_EQ(SecondsAccelerating(rows, 780, 1180), 103);
    EXPECT_EQ(SteadySpeedsKmh(rows, 780, 1180), (std::set<long>{15, 35, 50, 70, 100, 120}));
    EXPECT_NEAR(MaxSpeed(rows, 780, 1180), 120 * kKmh, 0.001);
    EXPECT_NEAR(Distance(rows, 780, 1180), 6955, 1);
  }
  // 4 x 1.013 km + 6.955 km = 11.007 km published; the ramps give 11.013 km.
  EXPECT_NEAR(Distance(rows, 0, 1180), 11007, 0.001 * 11007);
  EXPECT_NEAR(MaxSpeed(rows, 0, 1180), 120 * kKmh, 0.001);

  FollowToTheEnd("NEDC.CYK", rows, 1180);
}

TEST(Schedules, Ftp75IsUddsAStopAndTheFirst505SecondsAgainAndIsDrivenToItsEnd) {
  BatchFolder f(DRIVANTO_TEST_DATA_DIR);
  const auto rows = ReadCycle(f, "FTP75.CYK");
  ASSERT_TRUE(CheckLayout(f, "FTP75.CYK", rows, 2474));
  const auto udds = ReadCycle(f, "UDDS.CYK");
  ASSERT_EQ(udds.size(), 1372u);

  for (int i = 0; i <= 1369; ++i) ASSERT_EQ(rows[i].v, udds[i].v) << "second " << i;
  EXPECT_EQ(SecondsAtRest(rows, 1369, 1969), 600);
  for (int i = 0; i <= 505; ++i) ASSERT_EQ(rows[1969 + i].v, udds[i].v) << "UDDS second " << i;

  // 11.04 mi (17.77 km) in all, 3.59 mi (5.78 km) in the repeated part, 56.7 mph.
  EXPECT_NEAR(Distance(rows, 0, 1369), 11990, 1);
  EXPECT_NEAR(Distance(rows, 1969, 2474), 5780, 10);
  EXPECT_NEAR(Distance(rows, 0, 2474), 17770, 10);
  EXPECT_NEAR(MaxSpeed(rows, 0, 2474), 56.7 * 0.44704, 0.01);

  FollowToTheEnd("FTP75.CYK", rows, 2474);
}

}  // namespace
}  // namespace drivanto::testing
