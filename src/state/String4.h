#pragma once
// A text of at most four characters with a length of its own, like the option
// text "Spara". Its four character places exist whatever the length: setting a
// character beyond the length stores it without making the text longer, and a
// test of character n reads the place even when the text is shorter.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace drivanto {

struct String4 {
  uint8_t len = 0;
  std::array<char, 4> chars{};  // CP1252 bytes

  String4() = default;
  explicit String4(std::string_view cp1252) { Assign(cp1252); }

  // Sets the text (up to four characters); places beyond it keep their bytes.
  void Assign(std::string_view cp1252) {
    len = static_cast<uint8_t>(cp1252.size() < 4 ? cp1252.size() : 4);
    for (uint8_t i = 0; i < len; ++i) chars[i] = cp1252[i];
  }
  // Character n, counted from 1.
  char At(int n) const { return (n >= 1 && n <= 4) ? chars[n - 1] : '\0'; }
  void Set(int n, char c) {
    if (n >= 1 && n <= 4) chars[n - 1] = c;
  }
  std::string Text() const { return std::string(chars.data(), len); }

  bool operator==(const String4&) const = default;
};

}  // namespace drivanto
