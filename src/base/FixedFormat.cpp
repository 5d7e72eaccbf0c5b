#include "base/FixedFormat.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace drivanto {

namespace {

// Powers of ten up to 1e17; all are exact doubles (those up to 1e22 are).
constexpr double kPow10[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                             1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
constexpr int kFastMaxDecimals = 17;

// Scaled values below this are written from their integer; far below 2^52, so
// the scaled value's whole part and fraction are exact and n + 0.5 is a double.
constexpr double kFastLimit = 1e15;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes v in decimal so that it ends just before `end`; returns its first
// character. Zero gives "0".
char* WriteUnsignedBackward(char* end, std::uint64_t v) {
  while (v >= 100) {
    const unsigned pair = static_cast<unsigned>(v % 100);
    v /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * pair, 2);
  }
  if (v >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * v, 2);
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

// Appends text in a field of `width` characters, padded with spaces on the left
// (on the right for a negative width); never cut.
void AppendField(std::string& out, const char* text, std::size_t len, int width) {
  const bool left = width < 0;
  const std::size_t field = left ? static_cast<std::size_t>(-static_cast<long long>(width))
                                 : static_cast<std::size_t>(width);
  const std::size_t pad = field > len ? field - len : 0;
  if (!left && pad > 0) out.append(pad, ' ');
  out.append(text, len);
  if (left && pad > 0) out.append(pad, ' ');
}

}  // namespace

void AppendFixedExact(std::string& out, double x, int width, int decimals) {
  if (decimals < 0) decimals = 6;
  const bool negative = std::signbit(x);
  if (!std::isfinite(x)) {
    const char* text = std::isnan(x) ? (negative ? "-nan" : "nan") : (negative ? "-inf" : "inf");
    AppendField(out, text, std::strlen(text), width);
    return;
  }
  // Room for a sign, the 309 whole digits of the largest double, the point and
  // the decimals, written in place at the end of `out`.
  const std::size_t start = out.size();
  const std::size_t room = 1 + 309 + 1 + static_cast<std::size_t>(decimals) + 8;
  out.resize(start + room);
  char* first = out.data() + start;
  const std::to_chars_result res =
      std::to_chars(first, first + room, x, std::chars_format::fixed, decimals);
  const std::size_t len = static_cast<std::size_t>(res.ptr - first);
  out.resize(start + len);
  const bool left = width < 0;
  const std::size_t field = left ? static_cast<std::size_t>(-static_cast<long long>(width))
                                 : static_cast<std::size_t>(width);
  if (field > len) {
    if (left) {
      out.append(field - len, ' ');
    } else {
      out.insert(start, field - len, ' ');
    }
  }
}

char* FixedBackward(char* end, double x, int decimals) {
  if (decimals < 0 || decimals > kFastMaxDecimals) return nullptr;
  // y is the exactly scaled value |x| * 10^decimals rounded once to a double,
  // so it is off by at most half a unit in its last place, which is at most
  // y * 2^-53. Not taken by nan, inf and large values.
  const double y = std::fabs(x) * kPow10[decimals];
  if (!(y < kFastLimit)) return nullptr;
  std::uint64_t n = static_cast<std::uint64_t>(y);
  const double frac = y - static_cast<double>(n);  // exact
  // Twice the largest error of y: a fraction this far from one half lies on
  // the same side of the tie as the exact scaled value.
  const double margin = y * 0x1p-52;
  if (frac > 0.5 + margin) {
    ++n;
  } else if (!(frac < 0.5 - margin)) {
    return nullptr;
  }
  // At most 20 characters: n has at most 16 digits, and with 16 or 17
  // decimals the whole part is a single 0; a point and a sign.
  char* p = end;
  int i = 0;
  for (; i + 2 <= decimals; i += 2) {
    const unsigned pair = static_cast<unsigned>(n % 100);
    n /= 100;
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * pair, 2);
  }
  if (i < decimals) {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  if (decimals > 0) *--p = '.';
  p = WriteUnsignedBackward(p, n);
  if (std::signbit(x)) *--p = '-';
  return p;
}

void AppendFixed(std::string& out, double x, int width, int decimals) {
  char buf[32];
  char* const end = buf + sizeof buf;
  char* p = FixedBackward(end, x, decimals);
  if (!p) {
    AppendFixedExact(out, x, width, decimals);
    return;
  }
  // Usual fields are padded in the buffer, so one append writes all.
  if (width <= static_cast<int>(sizeof buf)) {
    while (end - p < width) *--p = ' ';
  }
  AppendField(out, p, static_cast<std::size_t>(end - p), width);
}

}  // namespace drivanto
