#include "data/Constants.h"

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Rounding.h"
#include "base/Text.h"
#include "data/TableConstants.h"

namespace drivanto {

namespace {

using K = ConstKind;
using S = State;

// Any field for the empty lines; it is never touched.
const Field kNone = &S::spareNumber6;

}  // namespace

const std::vector<ConstLine>& ConstantLines() {
  static const std::vector<ConstLine> lines = [] {
    // Lines that no field claims are read and ignored.
    std::vector<ConstLine> v;
    for (int line = 1; line <= kConstantsLines; ++line) v.push_back({line, K::Empty, kNone});
#define FIELD(type, name, pub, dflt, line, kind, constLine, constKind, unit, label) \
  if (constLine > 0) v[constLine - 1] = {constLine, K::constKind, &S::name};
#define ARRAY(type, name, pub, size, line, kind, unit, label)
#include "state/StateFields.def"
#undef FIELD
#undef ARRAY
    return v;
  }();
  return lines;
}

std::string InWorkingFolder(const State& s, const std::string& name) {
  if (IsAbsolutePath(name) || s.startmapp.empty()) return name;
  return JoinPath(s.startmapp, name);
}

namespace {

char LetterOf(const std::string& line) {
  if (line.empty()) return ' ';
  return FirstCharCp1252(line);
}

void ReadLine(State& s, const ConstLine& c, const std::string& raw) {
  const std::string line = Cut250(raw);
  switch (c.kind) {
    case K::Name: s.*std::get<std::string S::*>(c.field) = line; break;
    case K::Number: s.*std::get<double S::*>(c.field) = ParseNumberPrefix(line); break;
    case K::NumberKeep: {
      bool complete = false;
      double v = ParseNumberPrefix(line, &complete);
      if (complete) s.*std::get<double S::*>(c.field) = v;
      break;
    }
    case K::StartValue: {
      double v = ParseNumberPrefix(line);
      s.*std::get<double S::*>(c.field) = (v < 0.01) ? 0.01 : v;
      break;
    }
    case K::FuelPercent: {
      double p = ParseNumberPrefix(line);
      s.fuelLeft = (100.0 - p) * s.tankVolume / 100.0;
      break;
    }
    case K::Letter: s.*std::get<char S::*>(c.field) = LetterOf(line); break;
    case K::LetterUpper: s.*std::get<char S::*>(c.field) = UpperAscii(LetterOf(line)); break;
    case K::CycleType: s.cycleType = (UpperAscii(LetterOf(line)) == 'T') ? 'T' : 'K'; break;
    case K::SpareNumber: {
      bool complete = false;
      double v = ParseNumberPrefix(line, &complete);
      if (!complete) {
        char first = UpperAscii(LetterOf(line));
        v = (first == 'C') ? 0.549 : (first == 'V') ? 1.2 : 1.0;
      }
      s.spareNumber1 = v;
      break;
    }
    case K::Option: {
      // Character 1 off, characters 2 and 3 "0" or "1" (anything else "1"),
      // character 4 "0"; places beyond the text are set without lengthening it.
      String4& o = s.outputFlags;
      o.Assign(Utf8ToCp1252(CutChars(line, 4)));
      o.Set(1, '0');
      for (int i = 2; i <= 3; ++i) {
        if (o.At(i) != '0' && o.At(i) != '1') o.Set(i, '1');
      }
      o.Set(4, '0');
      break;
    }
    case K::GearMode: s.gearMode = (UpperAscii(LetterOf(line)) == 'A') ? 20 : 10; break;
    case K::Empty:
    case K::None: break;
  }
}

// Step 4: table files always lie in the car folder. An empty car folder
// leaves the bare names, which the working folder then completes (a leading
// "/" would send them to the root folder instead).
void CompleteInCarFolder(State& s) {
  for (std::string S::*m : {&S::Tbat, &S::Tforb, &S::Telm, &S::Tford, &S::Tvx, &S::Tbr, &S::Mussfil,
                            &S::spareFile1, &S::spareFile2}) {
    std::string name = LastPathPart(s.*m);
    s.*m = Cut250(s.Bilmapp.empty() ? name : JoinPath(s.Bilmapp, name));
  }
}

// Step 5: relative names belong to the working folder (none when it is not
// known: the names then stay relative to the current folder).
void CompleteInWorkingFolder(State& s) {
  for (std::string S::*m : {&S::konsfil, &S::Ttidd, &S::Tkarta, &S::Bilmapp, &S::Tbat, &S::Tforb,
                            &S::Telm, &S::Tford, &S::Tvx, &S::Tbr, &S::Mussfil, &S::spareFile1,
                            &S::spareFile2, &S::Tresultat, &S::Tresultatp}) {
    s.*m = Cut250(InWorkingFolder(s, s.*m));
  }
}

std::string WriteLetter(char c) {
  if (c == '\0') return {};
  return std::string(1, c);
}

}  // namespace

void ReadConstants(State& s, TableCache& tables) {
  const std::string file = InWorkingFolder(s, s.konsfil);
  ReadingFile reading(file);
  std::string bytes = ReadFileBytes(file);
  RejectUtf16(file, bytes);
  std::size_t lineCount = 0;
  if (!s.omrakna) {
    std::vector<std::string> lines = SplitLines(DecodeFileText(bytes));
    lineCount = lines.size();
    for (const ConstLine& c : ConstantLines()) {
      std::size_t i = static_cast<std::size_t>(c.line - 1);
      ReadLine(s, c, i < lines.size() ? lines[i] : std::string());
    }
  }
  CompleteInCarFolder(s);
  CompleteInWorkingFolder(s);
  const std::size_t expected = ConstantLines().size();
  if (s.omrakna || lineCount >= expected) {
    ReadTableConstants(s, tables);
    return;
  }
  // Missing lines read as empty; when that leaves a table file without a
  // name, the message says what is missing rather than only what failed.
  try {
    ReadTableConstants(s, tables);
  } catch (const IoError& e) {
    const std::string what = lineCount == 0 ? "the constants file is empty"
                                            : "the constants file ends after line " +
                                                  std::to_string(lineCount) + " (line " +
                                                  std::to_string(lineCount + 1) + " is missing)";
    throw IoError(file, 0,
                  what + "; a constants file holds " + std::to_string(expected) +
                      " lines. Reading the table files then failed: " + e.what());
  }
}

std::string ConstantsText(const State& s) {
  std::string out;
  for (const ConstLine& c : ConstantLines()) {
    std::string text;
    switch (c.kind) {
      case K::Name: text = Utf8ToCp1252(s.*std::get<std::string S::*>(c.field)); break;
      case K::Number:
      case K::NumberKeep:
      case K::SpareNumber: text = FormatGeneral15(s.*std::get<double S::*>(c.field)); break;
      case K::StartValue:
      case K::FuelPercent: break;  // start values are not saved
      case K::Letter:
      case K::LetterUpper: text = WriteLetter(s.*std::get<char S::*>(c.field)); break;
      case K::CycleType: text = WriteLetter(s.cycleType); break;
      case K::Option: text = s.outputFlags.Text(); break;
      case K::GearMode: text = (s.gearMode == 20) ? "A" : "M"; break;
      case K::Empty:
      case K::None: break;
    }
    // Lines 46 and 48 are start values too and stay empty.
    if (c.line >= 45 && c.line <= 51) text.clear();
    out += text;
    out += "\r\n";
  }
  return out;
}

void WriteConstants(const State& s, const std::string& fileName) {
  WriteFileAtomic(fileName, ConstantsText(s));
}

}  // namespace drivanto
