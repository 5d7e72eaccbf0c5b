#pragma once
// Numbers as text: the conversion of a line or token to a real, and the number
// forms the program writes.

#include <cstdint>
#include <string>
#include <string_view>

namespace drivanto {

// Reads a decimal number the way the program's files are read: leading blanks,
// an optional sign, digits with an optional point and fraction, an optional
// exponent ("E"/"e", optional sign, digits). Returns the value of the longest
// such beginning (0 when there is none, so "12,5" gives 12 and "x" gives 0);
// *complete tells whether the whole text was a number (trailing blanks allowed).
// A whole number that is all of the text: an optional sign ("+" or "-") and
// decimal digits within the range of int64_t.
bool ParseWholeNumber(std::string_view text, int64_t* out);

double ParseNumberPrefix(std::string_view text, bool* complete = nullptr);

// The same, with a comma taken as the decimal point too (files and panels
// written with a Swedish decimal separator).
double ParseNumberEitherSeparator(std::string_view text, bool* complete = nullptr);

// Every "," replaced by ".".
std::string DecimalCommaToPoint(std::string_view text);

// True when the text is a number from its first to its last character (no
// blanks at all).
bool IsPlainNumber(std::string_view token, double* value);

// Shortest general form with up to 15 significant digits: plain notation for
// 0.0001 <= |x| < 1e15, otherwise mantissa, "E", "-" for negative exponents
// and the exponent without leading zeros (1E-5, 2.5E20); zero is "0".
std::string FormatGeneral15(double x, char decimalSeparator = '.');

// The same layout with the fewest significant digits (at most 17) that read
// back as the very same double: no bit of the value is lost.
std::string FormatShortest(double x, char decimalSeparator = '.');

// Right-aligned fixed-point with the given decimals in a field of at least
// `width` characters (wider when the number needs it); no exponent.
std::string FormatFixed(double x, int width, int decimals);

// 23-character scientific form: a blank or "-", one digit, a point, 14 digits,
// "E", the exponent's sign and four exponent digits (" 3.50000000000000E+0000").
std::string FormatSci23(double x);

}  // namespace drivanto
