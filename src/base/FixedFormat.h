#pragma once
// Fixed-point number text as the C library's printf("%*.*f") writes it, built
// without the library's formatter: the result files write some thirty such
// fields every step.

#include <string>

namespace drivanto {

// Appends x as printf("%*.*f", width, decimals, x) would write it: the exact
// binary value rounded to `decimals` places, exact ties to the even last digit
// (0.125 with 2 decimals is "0.12", 2.5 with 0 decimals is "2"); a "-" whenever
// the sign bit is set, also for zero and for values that round to zero
// ("-0", "-0.00"); all the digits of large values (1e300 gives 301); "inf",
// "-inf", "nan" and "-nan" for the non-finite values. The text is right-aligned
// with spaces in a field of `width` characters and is wider when it needs to
// be. As with printf, a negative width left-aligns in a field of -width
// characters and a negative number of decimals means 6.
//
// Ordinary values (|x| * 10^decimals below 1e15, decimals up to 17) are written
// from their scaled and rounded integer; values whose scaled value lies next to
// a rounding tie and all others take the exact way, AppendFixedExact.
void AppendFixed(std::string& out, double x, int width, int decimals);

// The text of AppendFixed without padding, written so that it ends just
// before `end` (at most 32 characters); returns its first character, or
// nullptr for a value the quick way does not decide (then AppendFixed).
char* FixedBackward(char* end, double x, int decimals);

// The same text as AppendFixed, always by the exact conversion of the standard
// library (std::to_chars); slower.
void AppendFixedExact(std::string& out, double x, int width, int decimals);

}  // namespace drivanto
