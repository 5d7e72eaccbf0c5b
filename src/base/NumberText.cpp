#include "base/NumberText.h"

#include "base/FixedFormat.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace drivanto {

bool ParseWholeNumber(std::string_view t, int64_t* out) {
  const bool plus = !t.empty() && t[0] == '+';
  if (plus) t.remove_prefix(1);
  if (t.empty() || (plus && t[0] == '-')) return false;
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size()) return false;
  *out = v;
  return true;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Length of the number at the start of s (after any sign), 0 if none.
std::size_t ScanNumber(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    std::size_t j = i + 1;
    std::size_t frac = 0;
    while (j < s.size() && IsDigit(s[j])) ++j, ++frac;
    if (digits + frac > 0) {
      i = j;
      digits += frac;
    }
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    std::size_t expDigits = 0;
    while (j < s.size() && IsDigit(s[j])) ++j, ++expDigits;
    if (expDigits > 0) i = j;
  }
  return i;
}

double Convert(std::string_view number) {
  bool negative = false;
  if (!number.empty() && (number[0] == '+' || number[0] == '-')) {
    negative = number[0] == '-';
    number.remove_prefix(1);
  }
  double value = 0.0;
  auto res = std::from_chars(number.data(), number.data() + number.size(), value);
  if (res.ec == std::errc::result_out_of_range) {
    // Too large gives the largest real, too small gives 0.
    bool tiny = false;
    std::size_t e = number.find_first_of("Ee");
    if (e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-') tiny = true;
    value = tiny ? 0.0 : std::numeric_limits<double>::max();
  }
  return negative ? -value : value;
}

// x as printf("%.*e" or "%.*f") writes it in the C locale, in any locale.
std::string CharsOf(double x, std::chars_format format, int precision) {
  char buf[400];  // a fixed-point double takes at most 309 digits before the point
  const auto res = std::to_chars(buf, buf + sizeof buf, x, format, precision);
  return std::string(buf, res.ptr);
}

// The exponent after the "e" at `e` of to_chars' scientific form.
int ExponentOf(const std::string& sci, std::size_t e) {
  std::size_t i = e + 1;
  if (i < sci.size() && sci[i] == '+') ++i;
  int exponent = 0;
  std::from_chars(sci.data() + i, sci.data() + sci.size(), exponent);
  return exponent;
}

}  // namespace

double ParseNumberPrefix(std::string_view text, bool* complete) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  std::string_view rest = text.substr(i);
  std::size_t n = ScanNumber(rest);
  if (complete) {
    bool ok = n > 0;
    for (std::size_t j = n; ok && j < rest.size(); ++j) ok = IsBlank(rest[j]);
    *complete = ok;
  }
  if (n == 0) return 0.0;
  return Convert(rest.substr(0, n));
}

std::string DecimalCommaToPoint(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == ',') c = '.';
  }
  return out;
}

double ParseNumberEitherSeparator(std::string_view text, bool* complete) {
  return ParseNumberPrefix(DecimalCommaToPoint(text), complete);
}

bool IsPlainNumber(std::string_view token, double* value) {
  std::size_t n = ScanNumber(token);
  if (n == 0 || n != token.size()) {
    if (value) *value = ParseNumberPrefix(token);
    return false;
  }
  if (value) *value = Convert(token);
  return true;
}

std::string FormatGeneral15(double x, char decimalSeparator) {
  if (std::isnan(x)) return "NAN";
  if (std::isinf(x)) return x > 0 ? "INF" : "-INF";
  if (x == 0.0) return "0";
  // 15 significant digits as d.dddddddddddddde[+-]xx, whatever the locale.
  const std::string s = CharsOf(x, std::chars_format::scientific, 14);
  const std::size_t e = s.find('e');
  const int exponent = ExponentOf(s, e);
  std::string out;
  if (exponent < -4 || exponent >= 15) {
    std::string mant = s.substr(0, e);
    while (!mant.empty() && mant.back() == '0') mant.pop_back();
    if (!mant.empty() && mant.back() == '.') mant.pop_back();
    out = mant + "E" + (exponent < 0 ? "-" : "") + std::to_string(std::abs(exponent));
  } else {
    out = CharsOf(x, std::chars_format::fixed, 14 - exponent);
    if (out.find('.') != std::string::npos) {
      while (!out.empty() && out.back() == '0') out.pop_back();
      if (!out.empty() && out.back() == '.') out.pop_back();
    }
  }
  if (decimalSeparator != '.') {
    for (char& c : out) {
      if (c == '.') c = decimalSeparator;
    }
  }
  return out;
}

std::string FormatShortest(double x, char decimalSeparator) {
  if (std::isnan(x)) return "NAN";
  if (std::isinf(x)) return x > 0 ? "INF" : "-INF";
  if (x == 0.0) return "0";
  // The shortest digits that read back as x, as d.dddde[+-]xx.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  const std::size_t e = sci.find('e');
  const int exponent = ExponentOf(sci, e);
  const bool negative = sci[0] == '-';
  std::string digits;
  for (std::size_t i = negative ? 1 : 0; i < e; ++i) {
    if (sci[i] != '.') digits += sci[i];
  }
  std::string out = negative ? "-" : "";
  if (exponent < -4 || exponent >= 15) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::string(exponent < 0 ? "-" : "") + std::to_string(std::abs(exponent));
  } else if (exponent < 0) {
    out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits + std::string(whole - digits.size(), '0');
    } else {
      out += digits.substr(0, whole) + "." + digits.substr(whole);
    }
  }
  if (decimalSeparator != '.') {
    for (char& c : out) {
      if (c == '.') c = decimalSeparator;
    }
  }
  return out;
}

std::string FormatFixed(double x, int width, int decimals) {
  std::string out;
  AppendFixed(out, x, width, decimals);
  return out;
}

std::string FormatSci23(double x) {
  if (!std::isfinite(x)) {
    std::string s = std::isnan(x) ? " NAN" : (x > 0 ? " INF" : "-INF");
    return std::string(23 - s.size(), ' ') + s;
  }
  const std::string s = CharsOf(x, std::chars_format::scientific, 14);
  const std::size_t e = s.find('e');
  const int exponent = ExponentOf(s, e);
  std::string mant = s.substr(0, e);
  if (mant[0] != '-') mant = " " + mant;
  std::string digits = std::to_string(std::abs(exponent));
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return mant + "E" + (exponent < 0 ? "-" : "+") + digits;
}

}  // namespace drivanto
