#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "base/NumberText.h"
#include "base/Text.h"
#include "state/Snapshot.h"

namespace drivanto {

TEST(Text, ValidUtf8IsTakenAsUtf8AndAllElseAsCp1252) {
  EXPECT_TRUE(IsValidUtf8("Fullängd"));
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_FALSE(IsValidUtf8("\xE5"));              // CP1252 å
  EXPECT_FALSE(IsValidUtf8("\xC3"));              // lead byte at the very end
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong form of "/"
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate half
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF

  // The same words from a UTF-8 file and from a Windows file read alike.
  EXPECT_EQ(DecodeFileText("F\xC3\xB6rbr\xC3\xA4nning"), "Förbränning");
  EXPECT_EQ(DecodeFileText("F\xF6rbr\xE4nning"), "Förbränning");
  EXPECT_EQ(DecodeFileText("\x80 \x96"), "€ –");
  EXPECT_EQ(DecodeFileText("\xEF\xBB\xBF"
                           "Const"),
            "Const");

  EXPECT_EQ(Utf8ToCp1252("åäö€"), "\xE5\xE4\xF6\x80");
  EXPECT_EQ(Utf8ToCp1252("ł"), "?");
  EXPECT_EQ(Cp1252ToUtf8(Utf8ToCp1252("ÅÄÖ åäö")), "ÅÄÖ åäö");
  EXPECT_EQ(FirstCharCp1252("ärende"), '\xE4');
  EXPECT_EQ(FirstCharCp1252(""), '\0');
  EXPECT_EQ(CharToUtf8('\xD6'), "Ö");
}

TEST(Text, ErrorFileLettersUseTheDosCodePage) {
  EXPECT_EQ(Utf8ToCp437("åäö"), "\x86\x84\x94");
  EXPECT_EQ(Utf8ToCp437("ÅÄÖ"), "\x8F\x8E\x99");
  EXPECT_EQ(Utf8ToCp437("något invärde"), "n\x86got inv\x84rde");
  EXPECT_EQ(Utf8ToCp437("€"), "?");
}

TEST(Text, CuttingCountsCharactersNotBytes) {
  EXPECT_EQ(CharCount("åäö"), 3u);
  EXPECT_EQ(CutChars("åäöx", 2), "åä");
  EXPECT_EQ(CutChars("ab", 5), "ab");
  EXPECT_EQ(CutChars("abc", 0), "");
  std::string long300;
  for (int i = 0; i < 300; ++i) long300 += "ä";
  std::string cut = Cut250(long300);
  EXPECT_EQ(CharCount(cut), 250u);
  EXPECT_EQ(cut.size(), 500u);
  EXPECT_TRUE(IsValidUtf8(cut));

  EXPECT_EQ(UpperAscii('a'), 'A');
  EXPECT_EQ(UpperAscii('\xE5'), '\xE5');  // å stays as it is
  EXPECT_EQ(UpperAscii('1'), '1');
}

TEST(Text, LinesEndAtCrLfLfOrCr) {
  auto lines = SplitLines("a\r\nb\nc\rd");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[3], "d");
  EXPECT_EQ(SplitLines("a\r\n").size(), 1u);
  EXPECT_EQ(SplitLines("\r\n\r\n").size(), 2u);
  EXPECT_TRUE(SplitLines("").empty());
}

TEST(NumberText, ShortestFormReadsBackAsTheSameDouble) {
  EXPECT_EQ(FormatShortest(0.01), "0.01");
  EXPECT_EQ(FormatShortest(7000), "7000");
  EXPECT_EQ(FormatShortest(-1), "-1");
  EXPECT_EQ(FormatShortest(0), "0");
  EXPECT_EQ(FormatShortest(1e-5), "1E-5");
  EXPECT_EQ(FormatShortest(0.0001), "0.0001");
  EXPECT_EQ(FormatShortest(1e15), "1E15");
  EXPECT_EQ(FormatShortest(2.5e20), "2.5E20");
  // Where fifteen digits lose bits, up to seventeen are written.
  EXPECT_EQ(FormatShortest(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(FormatShortest(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(FormatShortest(637.6 + 0.04), "637.64");
  EXPECT_EQ(FormatShortest(-1.25e-7, ','), "-1,25E-7");
  EXPECT_EQ(FormatShortest(5e-324), "5E-324");
  EXPECT_EQ(ParseNumberPrefix("5E-324"), 5e-324);
  EXPECT_EQ(FormatShortest(-1.7976931348623157e308), "-1.7976931348623157E308");
  // Random bit patterns and ordinary magnitudes, with either separator.
  uint64_t bits = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 200000; ++i) {
    bits ^= bits << 13;
    bits ^= bits >> 7;
    bits ^= bits << 17;
    double x;
    if (i % 2 == 0) {
      std::memcpy(&x, &bits, sizeof x);
      if (!std::isfinite(x)) continue;
    } else {
      x = static_cast<double>(bits % 100000000) / 997.0 - 40000.0;
    }
    const std::string point = FormatShortest(x);
    const std::string comma = FormatShortest(x, ',');
    ASSERT_EQ(ParseNumberPrefix(point), x) << point;
    ASSERT_EQ(ParseNumberPrefix(DecimalCommaToPoint(comma)), x) << comma;
    ASSERT_LE(point.size(), 25u) << point;
  }
}

TEST(NumberText, GeneralFormIsShortestWithFifteenDigits) {
  EXPECT_EQ(FormatGeneral15(0.01), "0.01");
  EXPECT_EQ(FormatGeneral15(7000), "7000");
  EXPECT_EQ(FormatGeneral15(8.74), "8.74");
  EXPECT_EQ(FormatGeneral15(-1), "-1");
  EXPECT_EQ(FormatGeneral15(1e-5), "1E-5");
  EXPECT_EQ(FormatGeneral15(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(FormatGeneral15(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatGeneral15(1e15), "1E15");
  EXPECT_EQ(FormatGeneral15(123456789012345.0), "123456789012345");
  EXPECT_EQ(FormatGeneral15(0), "0");
  EXPECT_EQ(FormatGeneral15(-0.0), "0");
  // The edges of plain notation.
  EXPECT_EQ(FormatGeneral15(0.0001), "0.0001");
  EXPECT_EQ(FormatGeneral15(0.00009), "9E-5");
  EXPECT_EQ(FormatGeneral15(2.5e20), "2.5E20");
  EXPECT_EQ(FormatGeneral15(-1.25e-7), "-1.25E-7");
  // Rounding to fifteen digits reaches the next power of ten.
  EXPECT_EQ(FormatGeneral15(999999999999999.9), "1E15");
  EXPECT_EQ(FormatGeneral15(-123456.789), "-123456.789");
  EXPECT_EQ(FormatGeneral15(8.74, ','), "8,74");
  EXPECT_EQ(FormatGeneral15(1.5e-7, ','), "1,5E-7");
}

TEST(NumberText, ErrorFileNumbersAreTwentyThreeCharactersWide) {
  EXPECT_EQ(FormatSci23(3.5), " 3.50000000000000E+0000");
  EXPECT_EQ(FormatSci23(-0.01), "-1.00000000000000E-0002");
  EXPECT_EQ(FormatSci23(0), " 0.00000000000000E+0000");
  EXPECT_EQ(FormatSci23(12345.678), " 1.23456780000000E+0004");
  EXPECT_EQ(FormatSci23(1e100), " 1.00000000000000E+0100");
  EXPECT_EQ(FormatSci23(-2.5e-300).size(), 23u);
}

TEST(NumberText, NumberPrefixGivesPartialValues) {
  bool complete = true;
  EXPECT_EQ(ParseNumberPrefix("12,5", &complete), 12.0);
  EXPECT_FALSE(complete);
  EXPECT_EQ(ParseNumberPrefix("1.5x", &complete), 1.5);
  EXPECT_FALSE(complete);
  EXPECT_EQ(ParseNumberPrefix("", &complete), 0.0);
  EXPECT_FALSE(complete);
  EXPECT_EQ(ParseNumberPrefix("abc", &complete), 0.0);
  EXPECT_FALSE(complete);
  EXPECT_EQ(ParseNumberPrefix("-", &complete), 0.0);
  EXPECT_FALSE(complete);
  EXPECT_EQ(ParseNumberPrefix("  -3e2", &complete), -300.0);
  EXPECT_TRUE(complete);
  EXPECT_EQ(ParseNumberPrefix("\t7 ", &complete), 7.0);
  EXPECT_TRUE(complete);
  EXPECT_EQ(ParseNumberPrefix("+.5", &complete), 0.5);
  EXPECT_TRUE(complete);
  EXPECT_EQ(ParseNumberPrefix("2E", &complete), 2.0);  // exponent without digits
  EXPECT_FALSE(complete);
  EXPECT_EQ(ParseNumberPrefix("1E-5"), 1e-5);
  EXPECT_EQ(ParseNumberPrefix("1e999"), std::numeric_limits<double>::max());
  EXPECT_EQ(ParseNumberPrefix("1e-999"), 0.0);

  // A table token is a number only when it is one from start to end.
  double v = -1;
  EXPECT_TRUE(IsPlainNumber("-2.5E+1", &v));
  EXPECT_EQ(v, -25.0);
  EXPECT_FALSE(IsPlainNumber("12,5", &v));
  EXPECT_EQ(v, 12.0);
  EXPECT_FALSE(IsPlainNumber(" 1", &v));
  EXPECT_FALSE(IsPlainNumber("", &v));
}

}  // namespace drivanto
