#include "base/Text.h"

#include <cstdint>

namespace drivanto {

namespace {

// CP1252 bytes 0x80-0x9F; 0 marks the five unassigned bytes.
const char32_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// CP437 bytes 0x80-0xFF.
const char32_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one code point of valid UTF-8 at i and advances i.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  int extra = (b >= 0xF0) ? 3 : (b >= 0xE0) ? 2 : (b >= 0xC0) ? 1 : 0;
  char32_t cp = (extra == 3) ? (b & 0x07) : (extra == 2) ? (b & 0x0F) : (b & 0x1F);
  ++i;
  for (int k = 0; k < extra && i < s.size(); ++k, ++i) {
    cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  }
  if (extra == 0) return 0xFFFD;
  return cp;
}

char32_t Cp1252ToCodePoint(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) {
    char32_t cp = kCp1252High[b - 0x80];
    return cp ? cp : b;
  }
  return b;
}

std::string EncodeSingleByte(std::string_view utf8, char (*encode)(char32_t)) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) out.push_back(encode(NextCodePoint(utf8, i)));
  return out;
}

char EncodeCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int k = 0; k < 32; ++k) {
    if (kCp1252High[k] == cp) return static_cast<char>(0x80 + k);
  }
  if (cp >= 0x80 && cp < 0xA0) return static_cast<char>(cp);
  return '?';
}

char EncodeCp437(char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  for (int k = 0; k < 128; ++k) {
    if (kCp437High[k] == cp) return static_cast<char>(0x80 + k);
  }
  return '?';
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    int extra;
    char32_t minimum;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
      minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
      minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
      minimum = 0x10000;
    } else {
      return false;
    }
    char32_t cp = (extra == 3) ? (b & 0x07) : (extra == 2) ? (b & 0x0F) : (b & 0x1F);
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size()) return false;
      auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) AppendUtf8(out, Cp1252ToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string Printable(std::string_view bytes) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    std::size_t n = 1;
    if (b >= 0xC2 && b <= 0xF4) {
      n = b <= 0xDF ? 2 : (b <= 0xEF ? 3 : 4);
      if (i + n > bytes.size() || !IsValidUtf8(bytes.substr(i, n))) n = 0;
    } else if (b >= 0x80 || b < 0x20 || b == 0x7F) {
      n = 0;
    }
    if (n == 0) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
      ++i;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

bool LooksLikeUtf16(std::string_view bytes) {
  if (bytes.size() >= 2 &&
      ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
    return true;
  }
  for (std::size_t i = 0; i < bytes.size() && i < 1024; ++i) {
    if (bytes[i] == '\0') return true;
    if (bytes[i] == '\n' && (i + 1 >= bytes.size() || bytes[i + 1] != '\0')) break;
  }
  return false;
}

std::string DecodeFileText(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Cp1252ToUtf8(bytes);
}

std::string Utf8ToCp1252(std::string_view utf8) { return EncodeSingleByte(utf8, EncodeCp1252); }

std::string Utf8ToCp437(std::string_view utf8) { return EncodeSingleByte(utf8, EncodeCp437); }

std::string CharToUtf8(char cp1252) {
  std::string out;
  AppendUtf8(out, Cp1252ToCodePoint(static_cast<unsigned char>(cp1252)));
  return out;
}

char FirstCharCp1252(std::string_view utf8) {
  if (utf8.empty()) return '\0';
  std::size_t i = 0;
  return EncodeCp1252(NextCodePoint(utf8, i));
}

std::size_t CharCount(std::string_view utf8) {
  std::size_t n = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string CutChars(std::string_view utf8, std::size_t n) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (count == n) return std::string(utf8.substr(0, i));
      ++count;
    }
  }
  return std::string(utf8);
}


std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++i;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string ShellQuoted(std::string_view word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string ShellLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& w : words) {
    if (!line.empty()) line += ' ';
    const bool plain = !w.empty() && w.find_first_of(" \t\n'\"\\$`;&|<>()*?[]#~{}!") == std::string::npos;
    line += plain ? w : ShellQuoted(w);
  }
  return line;
}

std::vector<std::string> SplitAt(std::string_view text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t at = text.find(separator, start);
    parts.emplace_back(text.substr(start, at == std::string_view::npos ? text.npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace drivanto
