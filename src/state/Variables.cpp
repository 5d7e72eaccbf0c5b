#include "state/Variables.h"

#include <cmath>
#include <limits>

#include "base/NumberText.h"
#include "base/Rounding.h"
#include "base/Text.h"

namespace drivanto {

const std::vector<NamedField>& AllFields() {
  static const std::vector<NamedField> fields = {
    {"titlePrefix", &State::titlePrefix},
    {"bilmodell", &State::bilmodell},
    {"startmapp", &State::startmapp},
    {"loadMode", &State::loadMode},
    {"Myname", &State::Myname},
    {"konsfil", &State::konsfil},
    {"Bilmapp", &State::Bilmapp},
    {"Mussfil", &State::Mussfil},
    {"Ttidd", &State::Ttidd},
    {"Tkarta", &State::Tkarta},
    {"Tbat", &State::Tbat},
    {"Tforb", &State::Tforb},
    {"Telm", &State::Telm},
    {"Tford", &State::Tford},
    {"spareFile1", &State::spareFile1},
    {"Tbr", &State::Tbr},
    {"Tvx", &State::Tvx},
    {"Tresultat", &State::Tresultat},
    {"Tresultatp", &State::Tresultatp},
    {"spareFile2", &State::spareFile2},
    {"ValueFileName", &State::ValueFileName},
    {"cycleLastFileName", &State::cycleLastFileName},
    {"genEff", &State::genEff},
    {"maxCurrentElectric", &State::maxCurrentElectric},
    {"maxCurrentCharging", &State::maxCurrentCharging},
    {"maxRpm", &State::maxRpm},
    {"vehicleMass", &State::vehicleMass},
    {"cdA", &State::cdA},
    {"batCapacity", &State::batCapacity},
    {"chargeSetting", &State::chargeSetting},
    {"tankVolume", &State::tankVolume},
    {"genRpm", &State::genRpm},
    {"minVoltage", &State::minVoltage},
    {"elmMaxTorque", &State::elmMaxTorque},
    {"maxBrakeForce", &State::maxBrakeForce},
    {"elmBaseRpm", &State::elmBaseRpm},
    {"auxPower", &State::auxPower},
    {"fuelEnergy", &State::fuelEnergy},
    {"fuelDensity", &State::fuelDensity},
    {"Uskala", &State::Uskala},
    {"batTableCapacity", &State::batTableCapacity},
    {"tableMass", &State::tableMass},
    {"tableCdA", &State::tableCdA},
    {"elmRefVoltage", &State::elmRefVoltage},
    {"elmLossCoef", &State::elmLossCoef},
    {"engineConst", &State::engineConst},
    {"spareNumber1", &State::spareNumber1},
    {"Spara", &State::Spara},
    {"spareFlag2", &State::spareFlag2},
    {"cycleType", &State::cycleType},
    {"fullTime", &State::fullTime},
    {"fullLength", &State::fullLength},
    {"spareNumber2", &State::spareNumber2},
    {"stopAtEmptyTank", &State::stopAtEmptyTank},
    {"spareFlag1", &State::spareFlag1},
    {"roadCurves", &State::roadCurves},
    {"chargeOffLimit", &State::chargeOffLimit},
    {"chargeOnLimit", &State::chargeOnLimit},
    {"envOnLimit", &State::envOnLimit},
    {"dt", &State::dt},
    {"styrmod", &State::styrmod},
    {"slopeMode", &State::slopeMode},
    {"timeMode", &State::timeMode},
    {"reservmod", &State::reservmod},
    {"gearMode", &State::gearMode},
    {"snapshotMark", &State::snapshotMark},
    {"loopIndex", &State::loopIndex},
    {"skarmstatus", &State::skarmstatus},
    {"stegnr", &State::stegnr},
    {"omrakna", &State::omrakna},
    {"paus", &State::paus},
    {"tangent", &State::tangent},
    {"musx", &State::musx},
    {"musy", &State::musy},
    {"ttot", &State::ttot},
    {"clockNow", &State::clockNow},
    {"clockPrev", &State::clockPrev},
    {"modeBeforeHold", &State::modeBeforeHold},
    {"nicKey", &State::nicKey},
    {"micKey", &State::micKey},
    {"icMaxTorqueKey", &State::icMaxTorqueKey},
    {"icEffKey", &State::icEffKey},
    {"cycleTime", &State::cycleTime},
    {"timeMark", &State::timeMark},
    {"holdUntil", &State::holdUntil},
    {"mapPos", &State::mapPos},
    {"mapMark", &State::mapMark},
    {"modeNo", &State::modeNo},
    {"accelSteps", &State::accelSteps},
    {"brakeSteps", &State::brakeSteps},
    {"maxCurrent", &State::maxCurrent},
    {"activeRowPos", &State::activeRowPos},
    {"vbCycle", &State::vbCycle},
    {"cycleSlope", &State::cycleSlope},
    {"modeValue", &State::modeValue},
    {"cycleDt", &State::cycleDt},
    {"prevRowCurve", &State::prevRowCurve},
    {"rowPos", &State::rowPos},
    {"rowSpeed", &State::rowSpeed},
    {"rowSlope", &State::rowSlope},
    {"rowMode", &State::rowMode},
    {"rowDt", &State::rowDt},
    {"rowCurve", &State::rowCurve},
    {"nextRowPos", &State::nextRowPos},
    {"readRow1", &State::readRow1},
    {"readRow2", &State::readRow2},
    {"readRow3", &State::readRow3},
    {"readRow4", &State::readRow4},
    {"readRow5", &State::readRow5},
    {"readRow6", &State::readRow6},
    {"prevReadRow1", &State::prevReadRow1},
    {"prevReadRow2", &State::prevReadRow2},
    {"prevReadRow3", &State::prevReadRow3},
    {"prevReadRow4", &State::prevReadRow4},
    {"prevReadRow5", &State::prevReadRow5},
    {"prevReadRow6", &State::prevReadRow6},
    {"slope", &State::slope},
    {"vCycle", &State::vCycle},
    {"vbHold", &State::vbHold},
    {"gear", &State::gear},
    {"vagkurs", &State::vagkurs},
    {"sidlage", &State::sidlage},
    {"kurs", &State::kurs},
    {"roadAngle", &State::roadAngle},
    {"kursfel", &State::kursfel},
    {"curveStart", &State::curveStart},
    {"roadObjects1", &State::roadObjects1},
    {"roadObjects2", &State::roadObjects2},
    {"roadObjects3", &State::roadObjects3},
    {"limitFactor", &State::limitFactor},
    {"elmEff", &State::elmEff},
    {"regulatorVariant", &State::regulatorVariant},
    {"regulatorOffset", &State::regulatorOffset},
    {"motorCurrent", &State::motorCurrent},
    {"motorPower", &State::motorPower},
    {"vb", &State::vb},
    {"chargeStartDist", &State::chargeStartDist},
    {"usedCapacity", &State::usedCapacity},
    {"chargeState", &State::chargeState},
    {"chargeManual", &State::chargeManual},
    {"netEnergy", &State::netEnergy},
    {"driveEnergy", &State::driveEnergy},
    {"envArea", &State::envArea},
    {"totalCurrent", &State::totalCurrent},
    {"U", &State::U},
    {"Iaba", &State::Iaba},
    {"Ila", &State::Ila},
    {"nel", &State::nel},
    {"mel", &State::mel},
    {"ratio", &State::ratio},
    {"upShiftSpeed", &State::upShiftSpeed},
    {"downShiftSpeed", &State::downShiftSpeed},
    {"gearEffA", &State::gearEffA},
    {"gearRatio", &State::gearRatio},
    {"gearEffB", &State::gearEffB},
    {"nic", &State::nic},
    {"mic", &State::mic},
    {"Ppic", &State::Ppic},
    {"icMaxTorque", &State::icMaxTorque},
    {"COKey", &State::COKey},
    {"NOxKey", &State::NOxKey},
    {"HCKey", &State::HCKey},
    {"fuelLeft", &State::fuelLeft},
    {"fuelFlow", &State::fuelFlow},
    {"icEff", &State::icEff},
    {"CO", &State::CO},
    {"NOx", &State::NOx},
    {"HC", &State::HC},
    {"COArea", &State::COArea},
    {"NOxArea", &State::NOxArea},
    {"HCArea", &State::HCArea},
    {"ltot", &State::ltot},
    {"height", &State::height},
    {"nelLimited", &State::nelLimited},
    {"melUsed", &State::melUsed},
    {"regenCurrent", &State::regenCurrent},
    {"regenPower", &State::regenPower},
    {"v", &State::v},
    {"resistForce", &State::resistForce},
    {"brakeForce", &State::brakeForce},
    {"Energi", &State::Energi},
    {"resfil1status", &State::resfil1status},
    {"resfil2status", &State::resfil2status},
    {"medelforbr", &State::medelforbr},
    {"Iskala", &State::Iskala},
    {"musspix", &State::musspix},
    {"numberText", &State::numberText},
    {"mussx", &State::mussx},
    {"mussy", &State::mussy},
    {"mussskala", &State::mussskala},
    {"motx", &State::motx},
    {"moty", &State::moty},
    {"vagk", &State::vagk},
    {"vagx1", &State::vagx1},
    {"vagx2", &State::vagx2},
    {"roadsideOffset", &State::roadsideOffset},
    {"roadsidePictureName", &State::roadsidePictureName},
    {"roadsideParams", &State::roadsideParams},
    {"motstatus", &State::motstatus},
    {"ltotPrev", &State::ltotPrev},
    {"netEnergyPrev", &State::netEnergyPrev},
    {"modePrev", &State::modePrev},
    {"slopePrev", &State::slopePrev},
    {"totalCurrentPrev", &State::totalCurrentPrev},
    {"UPrev", &State::UPrev},
    {"spareValue1", &State::spareValue1},
    {"spareValue1Prev", &State::spareValue1Prev},
    {"spareValue2", &State::spareValue2},
    {"spareValue2Prev", &State::spareValue2Prev},
    {"motorCurrentPrev", &State::motorCurrentPrev},
    {"spareValue3", &State::spareValue3},
    {"spareValue3Prev", &State::spareValue3Prev},
    {"spareValue4", &State::spareValue4},
    {"spareValue4Prev", &State::spareValue4Prev},
    {"spareValue5", &State::spareValue5},
    {"spareValue5Prev", &State::spareValue5Prev},
    {"regenCurrentPrev", &State::regenCurrentPrev},
    {"spareValue6", &State::spareValue6},
    {"spareValue6Prev", &State::spareValue6Prev},
    {"IabaPrev", &State::IabaPrev},
    {"spareValue7", &State::spareValue7},
    {"spareValue7Prev", &State::spareValue7Prev},
    {"IlaPrev", &State::IlaPrev},
    {"spareValue8", &State::spareValue8},
    {"spareValue8Prev", &State::spareValue8Prev},
    {"vPrev", &State::vPrev},
    {"COPrev", &State::COPrev},
    {"NOxPrev", &State::NOxPrev},
    {"HCPrev", &State::HCPrev},
    {"spareNumber6", &State::spareNumber6},
    {"spareNumber15", &State::spareNumber15},
    {"spareNumber16", &State::spareNumber16},
    {"spareNumber17", &State::spareNumber17},
    {"spareNumber30", &State::spareNumber30},
    {"spareNumber53", &State::spareNumber53},
    {"spareNumber69", &State::spareNumber69},
    {"spareNumber121", &State::spareNumber121},
    {"spareNumber158", &State::spareNumber158},
    {"spareNumber159", &State::spareNumber159},
    {"spareNumber166", &State::spareNumber166},
    {"spareNumber190", &State::spareNumber190},
    {"spareNumber191", &State::spareNumber191},
    {"spareNumber192", &State::spareNumber192},
    {"spareNumber198", &State::spareNumber198},
    {"spareNumber199", &State::spareNumber199},
    {"spareNumber204", &State::spareNumber204},
    {"spareNumber205", &State::spareNumber205},
    {"spareNumber206", &State::spareNumber206},
    {"spareNumber207", &State::spareNumber207},
    {"spareNumber208", &State::spareNumber208},
    {"spareNumber213", &State::spareNumber213},
    {"spareNumber214", &State::spareNumber214},
    {"spareNumber215", &State::spareNumber215},
    {"spareNumber227", &State::spareNumber227},
    {"spareNumber229", &State::spareNumber229},
    {"spareNumber231", &State::spareNumber231},
    {"spareNumber232", &State::spareNumber232},
    {"spareCount7", &State::spareCount7},
    {"spareCount8", &State::spareCount8},
    {"spareCount9", &State::spareCount9},
    {"spareCount10", &State::spareCount10},
    {"spareCount11", &State::spareCount11},
    {"spareCount12", &State::spareCount12},
    {"spareCount13", &State::spareCount13},
    {"spareCount70", &State::spareCount70},
    {"spareCount71", &State::spareCount71},
    {"spareCount72", &State::spareCount72},
    {"spareCount73", &State::spareCount73},
    {"spareCount74", &State::spareCount74},
    {"spareCount75", &State::spareCount75},
    {"spareCount76", &State::spareCount76},
    {"spareCount77", &State::spareCount77},
    {"spareCount79", &State::spareCount79},
    {"spareCount445", &State::spareCount445},
    {"spareCount446", &State::spareCount446},
    {"spareCount447", &State::spareCount447},
    {"spareCount448", &State::spareCount448},
    {"spareCount449", &State::spareCount449},
    {"spareCount450", &State::spareCount450},
    {"spareText18", &State::spareText18},
    {"spareText19", &State::spareText19},
    {"spareText97", &State::spareText97},
    {"spareText295", &State::spareText295},
    {"spareText313", &State::spareText313},
    {"spareChar64", &State::spareChar64},
    {"spareWord67", &State::spareWord67},
    {"spareByte149", &State::spareByte149},
    {"spareByte443", &State::spareByte443},
    {"spareByte444", &State::spareByte444},
    {"spareArray1", &State::spareArray1},
    {"spareArray2", &State::spareArray2},
    {"oncomingSpare", &State::oncomingSpare},
  };
  return fields;
}

const NamedField* FindField(std::string_view name) {
  for (const NamedField& f : AllFields()) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

namespace {

bool ParseReal(std::string_view text, double* out) {
  std::string t(text);
  for (char& c : t) {
    if (c == ',') c = '.';
  }
  bool complete = false;
  double v = ParseNumberPrefix(t, &complete);
  if (!complete) return false;
  *out = v;
  return true;
}

template <class T>
bool ParseInteger(std::string_view text, T* out, std::string* why) {
  double v = 0;
  if (!ParseReal(text, &v) || v != std::floor(v)) {
    if (why) *why = "not a whole number";
    return false;
  }
  if (v < static_cast<double>(std::numeric_limits<T>::min()) ||
      v > static_cast<double>(std::numeric_limits<T>::max())) {
    if (why) *why = "out of range";
    return false;
  }
  *out = static_cast<T>(v);
  return true;
}

}  // namespace

bool SetFieldFromText(State& s, const Field& f, std::string_view text, std::string* why) {
  struct Visitor {
    State& s;
    std::string_view text;
    std::string* why;
    bool operator()(double State::*m) {
      double v;
      if (!ParseReal(text, &v)) {
        if (why) *why = "not a number";
        return false;
      }
      s.*m = v;
      return true;
    }
    bool operator()(int32_t State::*m) { return ParseInteger(text, &(s.*m), why); }
    bool operator()(uint8_t State::*m) { return ParseInteger(text, &(s.*m), why); }
    bool operator()(uint16_t State::*m) { return ParseInteger(text, &(s.*m), why); }
    bool operator()(char State::*m) {
      s.*m = text.empty() ? ' ' : FirstCharCp1252(text);
      return true;
    }
    bool operator()(std::string State::*m) {
      s.*m = Cut250(text);
      return true;
    }
    bool operator()(String4 State::*m) {
      std::string cp = Utf8ToCp1252(CutChars(text, 4));
      (s.*m).Assign(cp);
      return true;
    }
    bool Array() {
      if (why) *why = "an array cannot be set as a whole";
      return false;
    }
    bool operator()(std::array<double, 11> State::*) { return Array(); }
    bool operator()(std::array<int32_t, 101> State::*) { return Array(); }
    bool operator()(std::array<uint8_t, 129> State::*) { return Array(); }
  };
  return std::visit(Visitor{s, text, why}, f);
}

std::string FieldToText(const State& s, const Field& f) {
  struct Visitor {
    const State& s;
    std::string operator()(double State::*m) { return FormatGeneral15(s.*m); }
    std::string operator()(int32_t State::*m) { return std::to_string(s.*m); }
    std::string operator()(uint8_t State::*m) { return std::to_string(s.*m); }
    std::string operator()(uint16_t State::*m) { return std::to_string(s.*m); }
    std::string operator()(char State::*m) { return CharToUtf8(s.*m); }
    std::string operator()(std::string State::*m) { return s.*m; }
    std::string operator()(String4 State::*m) { return Cp1252ToUtf8((s.*m).Text()); }
    std::string operator()(std::array<double, 11> State::*) { return {}; }
    std::string operator()(std::array<int32_t, 101> State::*) { return {}; }
    std::string operator()(std::array<uint8_t, 129> State::*) { return {}; }
  };
  return std::visit(Visitor{s}, f);
}

}  // namespace drivanto
