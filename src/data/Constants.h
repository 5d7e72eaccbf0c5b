#pragma once
// The constants file CONS.VAL: 58 lines, one value per line, whose meaning is
// given by the line's position alone.

#include <string>
#include <vector>

#include "data/Tables.h"
#include "state/State.h"
#include "state/Variables.h"

namespace drivanto {

// How a line of the constants file is read and written.
enum class ConstKind {
  Name,         // the whole line, up to 250 characters
  Number,       // a number; a line that is not one gives its partial value (0)
  NumberKeep,   // a number; a line that is not one keeps the value
  StartValue,   // a number; below 0.01 becomes 0.01
  FuelPercent,  // used fuel in %, stored as litres left
  Letter,       // the first character
  LetterUpper,  // the first character in upper case
  CycleType,    // "T" stays, any other letter becomes "K"
  SpareNumber,  // a number; otherwise 0.549 for C, 1.2 for V, else 1
  Option,       // the four option characters of Spara
  GearMode,     // "A" gives 20, anything else 10
  Empty,        // read and ignored
  None,         // a field without a line in the file (catalogue only)
};

// The constants file has this many lines.
constexpr int kConstantsLines = 58;

struct ConstLine {
  int line;
  ConstKind kind;
  Field field;  // unused for Empty
};

// The 58 lines in order.
const std::vector<ConstLine>& ConstantLines();

// The name of a file to open: relative names belong to the working folder.
std::string InWorkingFolder(const State& s, const std::string& name);

// Reads s.konsfil (relative to the working folder) unless s.omrakna is set,
// completes the file names and reads the table files' constants. Throws
// IoError; TableRangeError from the reference-voltage lookup.
void ReadConstants(State& s, TableCache& tables);

// Writes the settings in the same layout (CP1252, CR LF); the start values,
// lines 45 to 51, are written empty. Throws IoError; an earlier file is left
// intact when writing fails.
void WriteConstants(const State& s, const std::string& fileName);
std::string ConstantsText(const State& s);

}  // namespace drivanto
