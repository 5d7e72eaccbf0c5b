#pragma once
// Text handling. Inside the program every text is UTF-8. Files may be read in
// UTF-8 or in the Windows code page 1252 (valid UTF-8 is taken as UTF-8, all
// else as CP1252); single-character settings are held as CP1252 bytes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace drivanto {

bool IsValidUtf8(std::string_view bytes);
std::string Cp1252ToUtf8(std::string_view bytes);
// Decodes the bytes of a file that may be UTF-8 or CP1252. A UTF-8 byte-order
// mark is dropped.
std::string DecodeFileText(std::string_view bytes);
// Characters without a place in the target code page become '?'.
std::string Utf8ToCp1252(std::string_view utf8);
std::string Utf8ToCp437(std::string_view utf8);

// One CP1252 byte as UTF-8 text.
std::string CharToUtf8(char cp1252);
// The first character of a UTF-8 text as a CP1252 byte; '\0' for an empty text.
char FirstCharCp1252(std::string_view utf8);

// Number of characters (code points) of a UTF-8 text.
std::size_t CharCount(std::string_view utf8);
// The first n characters of a UTF-8 text.
std::string CutChars(std::string_view utf8, std::size_t n);
// A text setting holds at most 250 characters.
inline std::string Cut250(std::string_view utf8) { return CutChars(utf8, 250); }

// Upper case for the letters a-z only (å, ä, ö are left as they are).
inline char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The text as a message may show it: valid UTF-8 as it is, every control
// byte and every byte that is not part of valid UTF-8 as \xNN.
std::string Printable(std::string_view bytes);

// Whether file bytes are UTF-16 text: a UTF-16 byte-order mark, or a NUL byte
// within the first line.
bool LooksLikeUtf16(std::string_view bytes);

// A word as a POSIX shell reads it back: in single quotes (a quote inside as
// '\''), and words as one line of them, each quoted only where it needs it.
std::string ShellQuoted(std::string_view word);
std::string ShellLine(const std::vector<std::string>& words);

// Splits decoded text into lines at CR LF, LF or a lone CR.
// A final line end does not start another line.
std::vector<std::string> SplitLines(std::string_view text);

// The parts of a text between the separators, empty ones included ("a,,b"
// gives three parts, "" one).
std::vector<std::string> SplitAt(std::string_view text, char separator);

}  // namespace drivanto
