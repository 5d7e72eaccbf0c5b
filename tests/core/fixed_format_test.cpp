// Fixed-point text against the C library's printf("%*.*f"), which it must
// match character for character: chosen hard cases, then millions of random
// doubles. Both the fast formatter and the exact conversion it falls back to
// are compared, so the standard library's std::to_chars is checked against
// printf too.

#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/FixedFormat.h"
#include "base/NumberText.h"

namespace {

using drivanto::AppendFixed;
using drivanto::AppendFixedExact;

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string Fixed(double x, int width, int decimals) {
  std::string s;
  AppendFixed(s, x, width, decimals);
  return s;
}

std::string FixedExact(double x, int width, int decimals) {
  std::string s;
  AppendFixedExact(s, x, width, decimals);
  return s;
}

double FromBits(std::uint64_t bits) {
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// Compares AppendFixed and AppendFixedExact with snprintf for one double;
// reports the first mismatches in full and counts all of them.
class Checker {
 public:
  void Check(double x, int width, int decimals) {
    ++checked_;
    int n = std::snprintf(buf_, sizeof buf_, "%*.*f", width, decimals, x);
    ASSERT_GE(n, 0);
    std::string_view want;
    std::string big;
    if (static_cast<std::size_t>(n) < sizeof buf_) {
      want = std::string_view(buf_, static_cast<std::size_t>(n));
    } else {
      big.resize(static_cast<std::size_t>(n) + 1);
      std::snprintf(big.data(), big.size(), "%*.*f", width, decimals, x);
      big.pop_back();
      want = big;
    }
    got_.clear();
    AppendFixed(got_, x, width, decimals);
    if (got_ != want) Report("AppendFixed", x, width, decimals, want);
    got_.clear();
    AppendFixedExact(got_, x, width, decimals);
    if (got_ != want) Report("AppendFixedExact", x, width, decimals, want);
  }

  long long checked() const { return checked_; }
  long long mismatches() const { return mismatches_; }

 private:
  void Report(const char* what, double x, int width, int decimals, std::string_view want) {
    if (++mismatches_ <= 20) {
      char hex[64];
      std::snprintf(hex, sizeof hex, "%a", x);
      ADD_FAILURE() << what << "(" << hex << ", width " << width << ", decimals " << decimals
                    << "): got \"" << got_ << "\", printf \"" << want << "\"";
    }
  }

  char buf_[1024];
  std::string got_;
  long long checked_ = 0;
  long long mismatches_ = 0;
};

// The double nearest to the decimal text.
double Parse(const char* text) { return std::strtod(text, nullptr); }

// Hard doubles, each with its negation and mostly with both neighbours.
std::vector<double> EdgeValues() {
  std::vector<double> v;
  auto add = [&](double x) {
    v.push_back(x);
    v.push_back(-x);
  };
  auto around = [&](double x) {
    add(x);
    add(std::nextafter(x, kInf));
    add(std::nextafter(x, 0.0));
  };
  add(0.0);
  add(std::numeric_limits<double>::denorm_min());
  add(2 * std::numeric_limits<double>::denorm_min());
  add(std::nextafter(DBL_MIN, 0.0));  // the largest denormal
  add(DBL_MIN);
  add(DBL_MAX);
  add(std::nextafter(DBL_MAX, 0.0));
  add(kInf);
  add(std::numeric_limits<double>::quiet_NaN());
  add(std::numeric_limits<double>::signaling_NaN());
  add(FromBits(0x7ff0000000000001ULL));  // NaNs with other payloads
  add(FromBits(0x7fffffffffffffffULL));
  // Exact binary ties at every scale of the fast path.
  for (int k = 0; k <= 64; ++k) around(k + 0.5);
  for (int k = 0; k <= 200; ++k) around(k / 8.0);
  for (int k = 1; k <= 64; ++k) around(k / 1024.0);
  for (double big : {1e6, 123456789.0, 99999999999.0, 1e14 - 1, 1e14, 1e15 - 1, 1e15}) {
    around(big + 0.5);
  }
  // Decimal values with one digit more than printed, ending in 5: their
  // doubles lie just above or below the tie, and the scaled double often is
  // the tie itself (0.015 * 100 gives exactly 1.5).
  char text[64];
  for (int d = 0; d <= 8; ++d) {
    for (long long m = 0; m < 400; ++m) {
      std::snprintf(text, sizeof text, "%lld5e-%d", m, d + 1);
      around(Parse(text));
    }
    for (long long m : {123456LL, 999999LL, 9999999999LL, 12345678901234LL}) {
      std::snprintf(text, sizeof text, "%lld5e-%d", m, d + 1);
      around(Parse(text));
    }
  }
  // Carries into a new whole digit.
  for (const char* t : {"0.95", "0.995", "9.995", "99.9995", "0.9999999", "999999.9999999"}) {
    around(Parse(t));
  }
  // Powers of ten and their neighbours.
  for (int e = -30; e <= 30; ++e) {
    std::snprintf(text, sizeof text, "1e%d", e);
    around(Parse(text));
  }
  for (int e = 280; e <= 308; ++e) {
    std::snprintf(text, sizeof text, "1e%d", e);
    around(Parse(text));
  }
  // The edge of the fast path for each number of decimals (1e15 / 10^d), and
  // the powers of two where whole parts stop being exact or fitting 64 bits.
  for (int d = 0; d <= 17; ++d) {
    std::snprintf(text, sizeof text, "1e%d", 15 - d);
    around(Parse(text));
    std::snprintf(text, sizeof text, "9999999999999995e-%d", d + 1);
    around(Parse(text));
  }
  for (int e : {49, 50, 51, 52, 53, 54, 63, 64, 65}) around(std::ldexp(1.0, e));
  around(std::ldexp(1.0, 52) - 0.5);
  around(std::ldexp(1.0, 51) + 0.5);
  around(std::ldexp(1.0, 53) - 1);
  // Ordinary values of a result file.
  for (double x : {1234.567, 0.04, 3000.0, 0.75, 12.3456, 98.7654321, 1.0 / 3, 2.0 / 3}) around(x);
  return v;
}

TEST(FixedFormat, KnownResults) {
  EXPECT_EQ(Fixed(0.125, 0, 2), "0.12");
  EXPECT_EQ(Fixed(0.375, 0, 2), "0.38");
  EXPECT_EQ(Fixed(2.5, 0, 0), "2");
  EXPECT_EQ(Fixed(3.5, 0, 0), "4");
  EXPECT_EQ(Fixed(-2.5, 0, 0), "-2");
  // The double of 0.005 is a little above it, though 0.005 * 100 gives 0.5.
  EXPECT_EQ(Fixed(0.005, 0, 2), "0.01");
  // The double of 0.015 is a little below it, though 0.015 * 100 gives 1.5.
  EXPECT_EQ(Fixed(0.015, 0, 2), "0.01");
  EXPECT_EQ(Fixed(0.285, 0, 2), "0.28");
  EXPECT_EQ(Fixed(-0.0, 0, 0), "-0");
  EXPECT_EQ(Fixed(-0.0, 0, 1), "-0.0");
  EXPECT_EQ(Fixed(0.0, 0, 2), "0.00");
  EXPECT_EQ(Fixed(-0.004, 0, 2), "-0.00");
  EXPECT_EQ(Fixed(-0.4, 0, 0), "-0");
  EXPECT_EQ(Fixed(-0.6, 0, 0), "-1");
  EXPECT_EQ(Fixed(9.9996, 0, 3), "10.000");
  EXPECT_EQ(Fixed(0.9996, 0, 3), "1.000");
  EXPECT_EQ(Fixed(5e-324, 0, 3), "0.000");
  EXPECT_EQ(Fixed(1.5, 0, -1), "1.500000");  // a negative precision means 6
  EXPECT_EQ(Fixed(1234.567, 10, 2), "   1234.57");
  EXPECT_EQ(Fixed(-1234.567, 10, 2), "  -1234.57");
  EXPECT_EQ(Fixed(3000, 10, 0), "      3000");
  EXPECT_EQ(Fixed(3.14159, -10, 2), "3.14      ");
  EXPECT_EQ(Fixed(-12345.678, 4, 1), "-12345.7");
  EXPECT_EQ(Fixed(1e23, 0, 0), "99999999999999991611392");
  EXPECT_EQ(Fixed(1e300, 0, 0),
            "10000000000000000525047602552044202487044685811081591549158541155118024579889081957863"
            "71375080447864043704443832883878176942523235360430575644792184786706982848387200926575"
            "80373783023379478809005936895323497079994508111903896764088007465274278014249457925878"
            "8820056842838115669472196386865459400540160");
  EXPECT_EQ(Fixed(kInf, 6, 2), "   inf");
  EXPECT_EQ(Fixed(-kInf, 0, 2), "-inf");
  EXPECT_EQ(Fixed(-kInf, -6, 2), "-inf  ");
  EXPECT_EQ(Fixed(std::numeric_limits<double>::quiet_NaN(), 5, 1), "  nan");
  EXPECT_EQ(Fixed(std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0), 0, 1), "-nan");
  // The exact way alone.
  EXPECT_EQ(FixedExact(0.125, 0, 2), "0.12");
  EXPECT_EQ(FixedExact(0.005, 0, 2), "0.01");
  EXPECT_EQ(FixedExact(-0.0, 0, 1), "-0.0");
  EXPECT_EQ(FixedExact(-0.004, 6, 2), " -0.00");
  EXPECT_EQ(FixedExact(1234.567, -10, 2), "1234.57   ");
  EXPECT_EQ(FixedExact(kInf, 4, 0), " inf");
}

TEST(FixedFormat, AppendsAfterExistingText) {
  std::string s = "ab";
  AppendFixed(s, 1.5, 6, 1);  // written from the integer
  EXPECT_EQ(s, "ab   1.5");
  s = "ab";
  AppendFixed(s, 0.125, 6, 2);  // a tie, taken the exact way
  EXPECT_EQ(s, "ab  0.12");
  s = "ab";
  AppendFixed(s, 1e20, 24, 0);  // outside the fast range
  EXPECT_EQ(s, "ab   100000000000000000000");
  s = "ab";
  AppendFixed(s, -1e20, -27, 1);
  EXPECT_EQ(s, "ab-100000000000000000000.0   ");
  s = "ab";
  AppendFixedExact(s, 2.25, 5, 1);
  EXPECT_EQ(s, "ab  2.2");
  s = "ab";
  AppendFixed(s, -kInf, 5, 1);
  EXPECT_EQ(s, "ab -inf");
}

TEST(FixedFormat, FormatFixedUsesIt) {
  EXPECT_EQ(drivanto::FormatFixed(0.125, 10, 2), "      0.12");
  EXPECT_EQ(drivanto::FormatFixed(-0.04, 10, 1), "      -0.0");
  EXPECT_EQ(drivanto::FormatFixed(1e300, 10, 0).size(), 301u);
}

TEST(FixedFormat, EdgeValuesMatchPrintf) {
  const std::vector<double> values = EdgeValues();
  std::vector<int> decimals;
  for (int d = 0; d <= 17; ++d) decimals.push_back(d);
  for (int d : {-1, 18, 20, 25, 40, 60}) decimals.push_back(d);
  Checker check;
  for (double x : values) {
    for (int d : decimals) {
      for (int width : {0, 10, -12}) check.Check(x, width, d);
    }
  }
  // All the digits of the smallest and largest doubles.
  for (double x : {std::numeric_limits<double>::denorm_min(), DBL_MIN, DBL_MAX, 0.1, 1e-300}) {
    for (int d : {300, 1074, 1100}) {
      check.Check(x, 0, d);
      check.Check(-x, 10, d);
    }
  }
  std::cout << "[ checked  ] " << check.checked() << " formats of " << values.size()
            << " edge doubles\n";
  EXPECT_EQ(check.mismatches(), 0);
}

// Random doubles: raw bit patterns (every exponent, denormals, NaNs), random
// mantissas at the exponents around the fast path's edges, and values of the
// kind a result file holds.
TEST(FixedFormat, RandomDoublesMatchPrintf) {
  const auto started = std::chrono::steady_clock::now();
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<int> anyDecimals(0, 17);
  std::uniform_int_distribution<int> fewDecimals(0, 3);
  std::uniform_int_distribution<int> anyWidth(-5, 25);
  std::uniform_real_distribution<double> uniform(-1e6, 1e6);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Checker check;
  long long perKind[6] = {};

  // Every bit pattern is equally likely: most have huge or tiny magnitudes.
  for (int i = 0; i < 100000; ++i) {
    check.Check(FromBits(rng()), anyWidth(rng), anyDecimals(rng));
    ++perKind[0];
  }
  // Random mantissas and signs with magnitudes from 2^-70 to 2^70.
  for (int i = 0; i < 700000; ++i) {
    const std::uint64_t bits = rng();
    const std::uint64_t exponent = 1023 - 70 + bits % 141;
    const double x = FromBits((bits & 0x800fffffffffffffULL) | (exponent << 52));
    check.Check(x, anyWidth(rng), anyDecimals(rng));
    ++perKind[1];
  }
  // Uniform in [-1e6, 1e6], with 0 to 3 decimals.
  for (int i = 0; i < 1200000; ++i) {
    check.Check(uniform(rng), 10, fewDecimals(rng));
    ++perKind[2];
  }
  // Log-uniform magnitudes from 1e-8 to 1e17, either sign, 0 to 3 decimals.
  for (int i = 0; i < 1200000; ++i) {
    const double x = std::pow(10.0, -8 + 25 * unit(rng));
    check.Check((rng() & 1) ? -x : x, 10, fewDecimals(rng));
    ++perKind[3];
  }
  // Decimal values with one digit more than printed, as read from text
  // (m / 10^(d+1) is the double nearest to that decimal); a tenth of them end
  // in 5, right at a tie of the printed digits.
  for (int i = 0; i < 1200000; ++i) {
    const int d = fewDecimals(rng);
    const std::uint64_t m = rng() % 10000000000ULL;
    const double x = static_cast<double>(m) / std::pow(10.0, d + 1);
    check.Check((rng() & 1) ? -x : x, 10, d);
    ++perKind[4];
  }
  // Log-uniform magnitudes from 1e-20 to 1e20 with 4 to 17 decimals.
  std::uniform_int_distribution<int> moreDecimals(4, 17);
  for (int i = 0; i < 300000; ++i) {
    const double x = std::pow(10.0, -20 + 40 * unit(rng));
    check.Check((rng() & 1) ? -x : x, 10, moreDecimals(rng));
    ++perKind[5];
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "[ checked  ] " << check.checked() << " random doubles (bit patterns " << perKind[0]
            << ", mantissas " << perKind[1] << ", uniform " << perKind[2] << ", log-uniform "
            << perKind[3] << ", decimal " << perKind[4] << ", more decimals " << perKind[5]
            << ") in " << seconds << " s\n";
  EXPECT_EQ(check.mismatches(), 0);
}

}  // namespace
