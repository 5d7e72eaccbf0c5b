#include "state/Snapshot.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"

namespace drivanto {

const std::vector<SnapshotLine>& SnapshotLines() {
  static const std::vector<SnapshotLine> lines = {
    {1, SnapKind::Text, &State::titlePrefix},
    {2, SnapKind::Text, &State::bilmodell},
    {3, SnapKind::Text, &State::startmapp},
    {4, SnapKind::Char, &State::snapshotMark},
    {5, SnapKind::Int, &State::loopIndex},
    {6, SnapKind::Real, &State::spareNumber6},
    {7, SnapKind::Int, &State::spareCount7},
    {8, SnapKind::Int, &State::spareCount8},
    {9, SnapKind::Int, &State::spareCount9},
    {10, SnapKind::Int, &State::spareCount10},
    {11, SnapKind::Int, &State::spareCount11},
    {12, SnapKind::Int, &State::spareCount12},
    {13, SnapKind::Int, &State::spareCount13},
    {14, SnapKind::Real, &State::Energi},
    {15, SnapKind::Real, &State::spareNumber15},
    {16, SnapKind::Real, &State::spareNumber16},
    {17, SnapKind::Real, &State::spareNumber17},
    {18, SnapKind::Text, &State::spareText18},
    {19, SnapKind::Text, &State::spareText19},
    {20, SnapKind::Char, &State::skarmstatus},
    {21, SnapKind::Real, &State::spareNumber1},
    {22, SnapKind::Text4, &State::Spara},
    {23, SnapKind::Int, &State::stegnr},
    {24, SnapKind::Real, &State::Uskala},
    {25, SnapKind::Real, &State::limitFactor},
    {26, SnapKind::Text, &State::Myname},
    {27, SnapKind::Char, &State::spareFlag2},
    {28, SnapKind::Small, &State::omrakna},
    {29, SnapKind::Real, &State::cycleTime},
    {30, SnapKind::Real, &State::spareNumber30},
    {31, SnapKind::Real, &State::timeMark},
    {32, SnapKind::Real, &State::ttot},
    {33, SnapKind::Real, &State::holdUntil},
    {34, SnapKind::Real, &State::dt},
    {35, SnapKind::Real, &State::clockNow},
    {36, SnapKind::Real, &State::clockPrev},
    {37, SnapKind::Char, &State::paus},
    {38, SnapKind::Real, &State::mapPos},
    {39, SnapKind::Real, &State::chargeStartDist},
    {40, SnapKind::Real, &State::mapMark},
    {41, SnapKind::Real, &State::ltot},
    {42, SnapKind::Real, &State::ltotPrev},
    {43, SnapKind::Real, &State::height},
    {44, SnapKind::Real, &State::usedCapacity},
    {45, SnapKind::Real, &State::batTableCapacity},
    {46, SnapKind::Char, &State::chargeState},
    {47, SnapKind::Char, &State::chargeManual},
    {48, SnapKind::Real, &State::chargeOnLimit},
    {49, SnapKind::Real, &State::envOnLimit},
    {50, SnapKind::Real, &State::netEnergy},
    {51, SnapKind::Real, &State::netEnergyPrev},
    {52, SnapKind::Real, &State::driveEnergy},
    {53, SnapKind::Real, &State::spareNumber53},
    {54, SnapKind::Real, &State::elmEff},
    {55, SnapKind::Real, &State::genEff},
    {56, SnapKind::Int, &State::modeNo},
    {57, SnapKind::Int, &State::modePrev},
    {58, SnapKind::Int, &State::modeBeforeHold},
    {59, SnapKind::Char, &State::styrmod},
    {60, SnapKind::Char, &State::slopeMode},
    {61, SnapKind::Char, &State::timeMode},
    {62, SnapKind::Char, &State::reservmod},
    {63, SnapKind::Char, &State::cycleType},
    {64, SnapKind::Char, &State::spareChar64},
    {65, SnapKind::Int, &State::accelSteps},
    {66, SnapKind::Int, &State::brakeSteps},
    {67, SnapKind::Small, &State::spareWord67},
    {68, SnapKind::Char, &State::regulatorVariant},
    {69, SnapKind::Real, &State::spareNumber69},
    {70, SnapKind::Int, &State::spareCount70},
    {71, SnapKind::Int, &State::spareCount71},
    {72, SnapKind::Int, &State::spareCount72},
    {73, SnapKind::Int, &State::spareCount73},
    {74, SnapKind::Int, &State::spareCount74},
    {75, SnapKind::Int, &State::spareCount75},
    {76, SnapKind::Int, &State::spareCount76},
    {77, SnapKind::Int, &State::spareCount77},
    {78, SnapKind::Real, &State::medelforbr},
    {79, SnapKind::Int, &State::spareCount79},
    {80, SnapKind::Real, &State::Iskala},
    {81, SnapKind::Text, &State::konsfil},
    {82, SnapKind::Text, &State::Bilmapp},
    {83, SnapKind::Text, &State::Mussfil},
    {84, SnapKind::Text, &State::Ttidd},
    {85, SnapKind::Text, &State::Tkarta},
    {86, SnapKind::Text, &State::Tbat},
    {87, SnapKind::Text, &State::Tforb},
    {88, SnapKind::Text, &State::Telm},
    {89, SnapKind::Text, &State::Tford},
    {90, SnapKind::Text, &State::spareFile1},
    {91, SnapKind::Text, &State::Tbr},
    {92, SnapKind::Text, &State::Tvx},
    {93, SnapKind::Text, &State::Tresultat},
    {94, SnapKind::Text, &State::Tresultatp},
    {95, SnapKind::Char, &State::resfil1status},
    {96, SnapKind::Char, &State::resfil2status},
    {97, SnapKind::Text, &State::spareText97},
    {98, SnapKind::Text, &State::ValueFileName},
    {99, SnapKind::Real, &State::maxCurrentElectric},
    {100, SnapKind::Real, &State::maxCurrentCharging},
    {101, SnapKind::Real, &State::maxRpm},
    {102, SnapKind::Real, &State::maxCurrent},
    {103, SnapKind::Real, &State::vehicleMass},
    {104, SnapKind::Real, &State::tableMass},
    {105, SnapKind::Real, &State::cdA},
    {106, SnapKind::Real, &State::batCapacity},
    {107, SnapKind::Real, &State::chargeSetting},
    {108, SnapKind::Real, &State::tankVolume},
    {109, SnapKind::Real, &State::genRpm},
    {110, SnapKind::Real, &State::minVoltage},
    {111, SnapKind::Real, &State::elmMaxTorque},
    {112, SnapKind::Real, &State::fullTime},
    {113, SnapKind::Real, &State::fullLength},
    {114, SnapKind::Real, &State::maxBrakeForce},
    {115, SnapKind::Real, &State::regulatorOffset},
    {116, SnapKind::Real, &State::tableCdA},
    {117, SnapKind::Real, &State::spareNumber2},
    {118, SnapKind::Real, &State::elmRefVoltage},
    {119, SnapKind::Real, &State::elmLossCoef},
    {120, SnapKind::Real, &State::engineConst},
    {121, SnapKind::Real, &State::spareNumber121},
    {122, SnapKind::Real, &State::activeRowPos},
    {123, SnapKind::Real, &State::vbCycle},
    {124, SnapKind::Real, &State::cycleSlope},
    {125, SnapKind::Real, &State::modeValue},
    {126, SnapKind::Real, &State::cycleDt},
    {127, SnapKind::Real, &State::prevRowCurve},
    {128, SnapKind::Real, &State::rowPos},
    {129, SnapKind::Real, &State::rowSpeed},
    {130, SnapKind::Real, &State::rowSlope},
    {131, SnapKind::Real, &State::rowMode},
    {132, SnapKind::Real, &State::rowDt},
    {133, SnapKind::Real, &State::rowCurve},
    {134, SnapKind::Real, &State::nextRowPos},
    {135, SnapKind::Real, &State::readRow1},
    {136, SnapKind::Real, &State::readRow2},
    {137, SnapKind::Real, &State::readRow3},
    {138, SnapKind::Real, &State::readRow4},
    {139, SnapKind::Real, &State::readRow5},
    {140, SnapKind::Real, &State::readRow6},
    {141, SnapKind::Real, &State::prevReadRow1},
    {142, SnapKind::Real, &State::prevReadRow2},
    {143, SnapKind::Real, &State::prevReadRow3},
    {144, SnapKind::Real, &State::prevReadRow4},
    {145, SnapKind::Real, &State::prevReadRow5},
    {146, SnapKind::Real, &State::prevReadRow6},
    {147, SnapKind::Text, &State::cycleLastFileName},
    {148, SnapKind::Small, &State::envArea},
    {149, SnapKind::Small, &State::spareByte149},
    {150, SnapKind::Real, &State::slope},
    {151, SnapKind::Real, &State::slopePrev},
    {152, SnapKind::Real, &State::totalCurrent},
    {153, SnapKind::Real, &State::totalCurrentPrev},
    {154, SnapKind::Real, &State::U},
    {155, SnapKind::Real, &State::UPrev},
    {156, SnapKind::Real, &State::nelLimited},
    {157, SnapKind::Real, &State::melUsed},
    {158, SnapKind::Real, &State::spareNumber158},
    {159, SnapKind::Real, &State::spareNumber159},
    {160, SnapKind::Real, &State::spareValue1},
    {161, SnapKind::Real, &State::spareValue1Prev},
    {162, SnapKind::Real, &State::spareValue2},
    {163, SnapKind::Real, &State::spareValue2Prev},
    {164, SnapKind::Real, &State::nic},
    {165, SnapKind::Real, &State::mic},
    {166, SnapKind::Real, &State::spareNumber166},
    {167, SnapKind::Real, &State::Ppic},
    {168, SnapKind::Real, &State::icMaxTorque},
    {169, SnapKind::Int, &State::nicKey},
    {170, SnapKind::Int, &State::micKey},
    {171, SnapKind::Int, &State::icMaxTorqueKey},
    {172, SnapKind::Int, &State::icEffKey},
    {173, SnapKind::Int, &State::COKey},
    {174, SnapKind::Int, &State::NOxKey},
    {175, SnapKind::Int, &State::HCKey},
    {176, SnapKind::Real, &State::musspix},
    {177, SnapKind::Real, &State::motorCurrent},
    {178, SnapKind::Real, &State::motorCurrentPrev},
    {179, SnapKind::Real, &State::spareValue3},
    {180, SnapKind::Real, &State::spareValue3Prev},
    {181, SnapKind::Real, &State::nel},
    {182, SnapKind::Real, &State::mel},
    {183, SnapKind::Real, &State::ratio},
    {184, SnapKind::Real, &State::motorPower},
    {185, SnapKind::Real, &State::elmBaseRpm},
    {186, SnapKind::Real, &State::spareValue4},
    {187, SnapKind::Real, &State::spareValue4Prev},
    {188, SnapKind::Real, &State::spareValue5},
    {189, SnapKind::Real, &State::spareValue5Prev},
    {190, SnapKind::Real, &State::spareNumber190},
    {191, SnapKind::Real, &State::spareNumber191},
    {192, SnapKind::Real, &State::spareNumber192},
    {193, SnapKind::Real, &State::auxPower},
    {194, SnapKind::Real, &State::regenCurrent},
    {195, SnapKind::Real, &State::regenCurrentPrev},
    {196, SnapKind::Real, &State::spareValue6},
    {197, SnapKind::Real, &State::spareValue6Prev},
    {198, SnapKind::Real, &State::spareNumber198},
    {199, SnapKind::Real, &State::spareNumber199},
    {200, SnapKind::Real, &State::Iaba},
    {201, SnapKind::Real, &State::IabaPrev},
    {202, SnapKind::Real, &State::spareValue7},
    {203, SnapKind::Real, &State::spareValue7Prev},
    {204, SnapKind::Real, &State::spareNumber204},
    {205, SnapKind::Real, &State::spareNumber205},
    {206, SnapKind::Real, &State::spareNumber206},
    {207, SnapKind::Real, &State::spareNumber207},
    {208, SnapKind::Real, &State::spareNumber208},
    {209, SnapKind::Real, &State::Ila},
    {210, SnapKind::Real, &State::IlaPrev},
    {211, SnapKind::Real, &State::spareValue8},
    {212, SnapKind::Real, &State::spareValue8Prev},
    {213, SnapKind::Real, &State::spareNumber213},
    {214, SnapKind::Real, &State::spareNumber214},
    {215, SnapKind::Real, &State::spareNumber215},
    {216, SnapKind::Real, &State::fuelLeft},
    {217, SnapKind::Real, &State::fuelFlow},
    {218, SnapKind::Real, &State::icEff},
    {219, SnapKind::Char, &State::stopAtEmptyTank},
    {220, SnapKind::Real, &State::fuelEnergy},
    {221, SnapKind::Real, &State::fuelDensity},
    {222, SnapKind::Real, &State::vb},
    {223, SnapKind::Real, &State::vCycle},
    {224, SnapKind::Real, &State::vbHold},
    {225, SnapKind::Real, &State::v},
    {226, SnapKind::Real, &State::vPrev},
    {227, SnapKind::Real, &State::spareNumber227},
    {228, SnapKind::Real, &State::resistForce},
    {229, SnapKind::Real, &State::spareNumber229},
    {230, SnapKind::Real, &State::brakeForce},
    {231, SnapKind::Real, &State::spareNumber231},
    {232, SnapKind::Real, &State::spareNumber232},
    {233, SnapKind::Real, &State::CO},
    {234, SnapKind::Real, &State::NOx},
    {235, SnapKind::Real, &State::HC},
    {236, SnapKind::Real, &State::COPrev},
    {237, SnapKind::Real, &State::NOxPrev},
    {238, SnapKind::Real, &State::HCPrev},
    {239, SnapKind::Real, &State::COArea},
    {240, SnapKind::Real, &State::NOxArea},
    {241, SnapKind::Real, &State::HCArea},
    {242, SnapKind::Small, &State::gear},
    {243, SnapKind::Real, &State::upShiftSpeed, 10},
    {253, SnapKind::Real, &State::downShiftSpeed, 10},
    {263, SnapKind::Real, &State::gearEffA, 10},
    {273, SnapKind::Real, &State::gearRatio, 10},
    {283, SnapKind::Real, &State::gearEffB, 10},
    {293, SnapKind::Int, &State::gearMode},
    {294, SnapKind::Text, &State::numberText},
    {295, SnapKind::Text, &State::spareText295},
    {296, SnapKind::Int, &State::mussx},
    {297, SnapKind::Int, &State::mussy},
    {298, SnapKind::Real, &State::mussskala},
    {299, SnapKind::Char, &State::tangent},
    {300, SnapKind::Char, &State::spareFlag1},
    {301, SnapKind::Int, &State::vagkurs},
    {302, SnapKind::Int, &State::sidlage},
    {303, SnapKind::Int, &State::kurs},
    {304, SnapKind::Real, &State::roadAngle},
    {305, SnapKind::Char, &State::roadCurves},
    {306, SnapKind::Int, &State::kursfel},
    {307, SnapKind::Int, &State::motx},
    {308, SnapKind::Int, &State::moty},
    {309, SnapKind::Int, &State::vagk},
    {310, SnapKind::Int, &State::vagx1},
    {311, SnapKind::Int, &State::vagx2},
    {312, SnapKind::Int, &State::roadsideOffset},
    {313, SnapKind::Text, &State::spareText313},
    {314, SnapKind::Text, &State::roadsidePictureName},
    {315, SnapKind::Small, &State::roadsideParams, 128},
    {443, SnapKind::Small, &State::spareByte443},
    {444, SnapKind::Small, &State::spareByte444},
    {445, SnapKind::Int, &State::spareCount445},
    {446, SnapKind::Int, &State::spareCount446},
    {447, SnapKind::Int, &State::spareCount447},
    {448, SnapKind::Int, &State::spareCount448},
    {449, SnapKind::Int, &State::spareCount449},
    {450, SnapKind::Int, &State::spareCount450},
    {451, SnapKind::Int, &State::roadObjects1, 100},
    {551, SnapKind::Int, &State::roadObjects2, 100},
    {651, SnapKind::Int, &State::roadObjects3, 100},
    {751, SnapKind::Int, &State::spareArray1, 100},
    {851, SnapKind::Int, &State::spareArray2, 100},
    {951, SnapKind::Int, &State::oncomingSpare, 100},
  };
  return lines;
}

std::string DecimalCommaToPoint(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == ',') c = '.';
  }
  return out;
}

namespace {

constexpr int kPausLine = 37;
constexpr int kCycleNameLine = 147;
constexpr int kFreeFormat1 = 148;
constexpr int kFreeFormat2 = 149;

// ---- writing ----

struct Writer {
  std::string out;
  char sep;
  bool utf8;

  // A line end inside a value would split its line and shift every later line
  // of the file. A character CR or LF is therefore written as an empty line,
  // which loads back as the line-end character, and a line end inside a text
  // as a blank.
  void Text(const std::string& t) {
    std::string clean = t;
    for (char& c : clean) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    out += utf8 ? clean : Utf8ToCp1252(clean);
  }
  void Char(char c) {
    if (c == '\r' || c == '\n') return;
    out += utf8 ? CharToUtf8(c) : std::string(1, c);
  }
  void End() { out += "\r\n"; }
};

bool IsAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Texts that the Windows code page cannot hold make the file UTF-8 throughout.
bool NeedsUtf8(const State& s) {
  for (const SnapshotLine& l : SnapshotLines()) {
    if (auto m = std::get_if<std::string State::*>(&l.field)) {
      const std::string& t = s.**m;
      if (Cp1252ToUtf8(Utf8ToCp1252(t)) != t) return true;
    }
  }
  return false;
}

void WriteLine(Writer& w, const State& s, const SnapshotLine& l, int index) {
  struct V {
    Writer& w;
    const State& s;
    int index;
    int line;
    void operator()(double State::*m) { w.out += FormatShortest(s.*m, w.sep); }
    void operator()(int32_t State::*m) { w.out += std::to_string(s.*m); }
    void operator()(uint8_t State::*m) {
      // The pause flag is written as the character whose code is its value.
      if (line == kPausLine) {
        w.Char(static_cast<char>(s.*m));
      } else {
        w.out += std::to_string(s.*m);
      }
    }
    void operator()(uint16_t State::*m) { w.out += std::to_string(s.*m); }
    void operator()(char State::*m) { w.Char(s.*m); }
    void operator()(std::string State::*m) { w.Text(s.*m); }
    void operator()(String4 State::*m) {
      const String4& t = s.*m;
      for (int i = 1; i <= t.len; ++i) w.Char(t.At(i));
    }
    void operator()(std::array<double, 11> State::*m) { w.out += FormatShortest((s.*m)[index], w.sep); }
    void operator()(std::array<int32_t, 101> State::*m) { w.out += std::to_string((s.*m)[index]); }
    void operator()(std::array<uint8_t, 129> State::*m) { w.out += std::to_string((s.*m)[index]); }
  };
  std::visit(V{w, s, index, l.line}, l.field);
  w.End();
}

// ---- reading ----

// The file as lines, each with the character that ended it.
struct Line {
  std::string text;   // bytes of the decoded (UTF-8) text
  char ending;        // '\r' for CR LF and CR, '\n' for LF, 26 past the end
};

std::vector<Line> ReadLines(std::string_view decoded) {
  std::vector<Line> lines;
  std::size_t start = 0, i = 0;
  while (i < decoded.size()) {
    char c = decoded[i];
    if (c == '\r' || c == '\n') {
      lines.push_back({std::string(decoded.substr(start, i - start)), c});
      if (c == '\r' && i + 1 < decoded.size() && decoded[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < decoded.size()) lines.push_back({std::string(decoded.substr(start)), 26});
  return lines;
}

class Reader {
 public:
  Reader(std::vector<Line> lines, const std::string& file) : lines_(std::move(lines)), file_(file) {}

  bool AtEnd() const { return pos_ >= lines_.size(); }
  // The current line's text (empty past the end) and its ending character.
  const std::string& Current() const { return AtEnd() ? empty_ : lines_[pos_].text; }
  char CurrentFirstChar() const {
    if (AtEnd()) return 26;
    const Line& l = lines_[pos_];
    return l.text.empty() ? l.ending : FirstCharCp1252(l.text);
  }
  void Next() {
    if (!AtEnd()) ++pos_;
  }
  int LineNumber() const { return static_cast<int>(pos_) + 1; }

  // Free-format integer read: skips blanks and line ends to the next
  // non-blank text, takes up to 32 non-blank characters as an integer, then
  // skips the rest of that line.
  int64_t FreeFormatInteger() {
    while (!AtEnd()) {
      const std::string& t = lines_[pos_].text;
      std::size_t i = t.find_first_not_of(" \t");
      if (i == std::string::npos) {
        ++pos_;
        continue;
      }
      std::size_t j = i;
      while (j < t.size() && j - i < 32 && t[j] != ' ' && t[j] != '\t') ++j;
      std::string word = t.substr(i, j - i);
      int64_t value = 0;
      if (!ParseInteger(word, &value, true)) {
        throw IoError(file_, LineNumber(), "Invalid numeric input");
      }
      ++pos_;
      return value;
    }
    return 0;
  }

  // Integer text: optional sign, decimal digits, or "$"/"0x" and hex digits.
  // Returns whether the whole text was such an integer; value is what was read.
  static bool ParseInteger(std::string_view t, int64_t* value, bool strict) {
    std::size_t i = 0;
    if (!strict) {
      while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    }
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    int base = 10;
    if (i < t.size() && t[i] == '$') {
      base = 16;
      ++i;
    } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
      base = 16;
      i += 2;
    }
    uint64_t v = 0;
    std::size_t digits = 0;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    for (; i < t.size(); ++i, ++digits) {
      char c = t[i];
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else break;
      if (v <= limit / 16) v = v * base + d;
      if (v > limit) v = limit;
    }
    bool whole = digits > 0;
    for (std::size_t j = i; whole && j < t.size(); ++j) whole = (t[j] == ' ' || t[j] == '\t') && !strict;
    int64_t r = static_cast<int64_t>(v);
    *value = negative ? -r : r;
    return whole;
  }

 private:
  std::vector<Line> lines_;
  std::string file_;
  std::size_t pos_ = 0;
  std::string empty_;
};

template <class T>
T Narrow(int64_t v) {
  // Stored in the variable's own width, as the bits fall.
  return static_cast<T>(static_cast<uint64_t>(v));
}

void ReadLine(Reader& r, State& s, const SnapshotLine& l, int index, int lineNo) {
  if (lineNo == kCycleNameLine) {  // the cycle reader keeps the name it has
    r.Next();
    return;
  }
  if (lineNo == kFreeFormat1 || lineNo == kFreeFormat2) {
    int64_t v = r.FreeFormatInteger();
    s.*std::get<uint8_t State::*>(l.field) = Narrow<uint8_t>(v);
    return;
  }
  if (lineNo == kPausLine) {  // read, not stored: the caller sets the flag
    r.Next();
    return;
  }
  std::string text = CutChars(r.Current(), 250);
  struct V {
    State& s;
    const std::string& text;
    char first;
    int index;
    static int64_t Int(const std::string& t) {
      int64_t v = 0;
      Reader::ParseInteger(DecimalCommaToPoint(t), &v, false);
      return v;
    }
    static double Real(const std::string& t) { return ParseNumberPrefix(DecimalCommaToPoint(t)); }
    void operator()(double State::*m) { s.*m = Real(text); }
    void operator()(int32_t State::*m) { s.*m = Narrow<int32_t>(Int(text)); }
    void operator()(uint8_t State::*m) { s.*m = Narrow<uint8_t>(Int(text)); }
    void operator()(uint16_t State::*m) { s.*m = Narrow<uint16_t>(Int(text)); }
    void operator()(char State::*m) { s.*m = first; }
    void operator()(std::string State::*m) { s.*m = text; }
    void operator()(String4 State::*m) { (s.*m).Assign(Utf8ToCp1252(CutChars(text, 4))); }
    void operator()(std::array<double, 11> State::*m) { (s.*m)[index] = Real(text); }
    void operator()(std::array<int32_t, 101> State::*m) { (s.*m)[index] = Narrow<int32_t>(Int(text)); }
    void operator()(std::array<uint8_t, 129> State::*m) { (s.*m)[index] = Narrow<uint8_t>(Int(text)); }
  };
  std::visit(V{s, text, r.CurrentFirstChar(), index}, l.field);
  r.Next();
}

}  // namespace

std::string SnapshotText(const State& s, char decimalSeparator) {
  auto build = [&](bool utf8) {
    Writer w{{}, decimalSeparator, utf8};
    w.out.reserve(16384);
    for (const SnapshotLine& l : SnapshotLines()) {
      for (int i = 1; i <= l.count; ++i) WriteLine(w, s, l, i);
    }
    return std::move(w.out);
  };
  // Names that are not UTF-8 at all (a folder named in another code page)
  // are written byte for byte after a UTF-8 byte-order mark, which tells
  // the reader to take the file's bytes as they are.
  for (const SnapshotLine& l : SnapshotLines()) {
    if (auto m = std::get_if<std::string State::*>(&l.field); m && !IsValidUtf8(s.**m)) {
      return "\xEF\xBB\xBF" + build(true);
    }
  }
  const bool utf8 = NeedsUtf8(s);
  std::string out = build(utf8);
  // Loading takes valid UTF-8 as UTF-8, so Windows code-page bytes that happen
  // to form valid UTF-8 ("Ã©" is C3 A9) would come back as other characters;
  // such a file is written in UTF-8 instead.
  if (!utf8 && IsValidUtf8(out) && !IsAscii(out)) out = build(true);
  return out;
}

void SaveSnapshot(const State& s, const std::string& fileName, char decimalSeparator) {
  WriteFileAtomic(fileName, SnapshotText(s, decimalSeparator));
}

void LoadSnapshotText(State& s, std::string_view bytes, const std::string& fileName) {
  RejectUtf16(fileName, bytes);
  const bool asIs = bytes.substr(0, 3) == "\xEF\xBB\xBF";
  Reader r(ReadLines(asIs ? std::string(bytes.substr(3)) : DecodeFileText(bytes)), fileName);
  for (const SnapshotLine& l : SnapshotLines()) {
    for (int i = 1; i <= l.count; ++i) ReadLine(r, s, l, i, l.line + i - 1);
  }
}

void LoadSnapshot(State& s, const std::string& fileName) {
  ReadingFile reading(fileName);
  LoadSnapshotText(s, ReadFileBytes(fileName), fileName);
}

}  // namespace drivanto
