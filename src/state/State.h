#pragma once
// The one record of the simulator: every setting, start value, mode and dynamic
// quantity of the car, the run control and the dashboard, under its own name.
// Modules read and write these fields directly; nothing else holds model state.

#include <array>
#include <cstdint>
#include <string>

#include "state/String4.h"

namespace drivanto {

struct State {
  // File names and texts.
  std::string titlePrefix{};
  std::string bilmodell{};
  std::string startmapp{};
  std::string loadMode{};
  std::string Myname{};
  std::string konsfil{};
  std::string Bilmapp{};
  std::string Mussfil{};
  std::string Ttidd{};
  std::string Tkarta{};
  std::string Tbat{};
  std::string Tforb{};
  std::string Telm{};
  std::string Tford{};
  std::string spareFile1{};
  std::string Tbr{};
  std::string Tvx{};
  std::string Tresultat{};
  std::string Tresultatp{};
  std::string spareFile2{};
  std::string ValueFileName{};
  std::string cycleLastFileName{};

  // Car constants.
  double genEff{};
  double maxCurrentElectric{};
  double maxCurrentCharging{};
  double maxRpm{};
  double vehicleMass{};
  double cdA{};
  double batCapacity{};
  double chargeSetting{};
  double tankVolume{};
  double genRpm{};
  double minVoltage{};
  double elmMaxTorque{};
  double maxBrakeForce{};
  double elmBaseRpm{};
  double auxPower{};
  double fuelEnergy{};
  double fuelDensity{};

  // Constants taken from the model table files.
  double Uskala{};
  double batTableCapacity{};
  double tableMass{};
  double tableCdA{};
  double elmRefVoltage{};
  double elmLossCoef{};
  double engineConst{};

  // Program constants.
  double spareNumber1{};
  String4 Spara{};
  char spareFlag2{};
  char cycleType{};
  double fullTime{};
  double fullLength{};
  double spareNumber2{};
  char stopAtEmptyTank{};
  char spareFlag1{};
  char roadCurves{};

  // Start values and charging limits.
  double chargeOffLimit{};
  double chargeOnLimit{};
  double envOnLimit{};

  // Modes.
  double dt{};
  char styrmod{};
  char slopeMode{};
  char timeMode{};
  char reservmod{};
  int32_t gearMode{};

  // Run control and driver input.
  char snapshotMark{};
  int32_t loopIndex{};
  char skarmstatus{};
  int32_t stegnr{};
  uint8_t omrakna{};
  uint8_t paus{};
  char tangent{};
  int32_t musx{};
  int32_t musy{};

  // Time base.
  double ttot{};
  double clockNow{};
  double clockPrev{};
  int32_t modeBeforeHold{};
  int32_t nicKey{};
  int32_t micKey{};
  int32_t icMaxTorqueKey{};
  int32_t icEffKey{};

  // Drive cycle, slope and road.
  double cycleTime{};
  double timeMark{};
  double holdUntil{};
  double mapPos{};
  double mapMark{};
  int32_t modeNo{};
  int32_t accelSteps{};
  int32_t brakeSteps{};
  double maxCurrent{};
  double activeRowPos{};
  double vbCycle{};
  double cycleSlope{};
  double modeValue{};
  double cycleDt{};
  double prevRowCurve{};
  double rowPos{};
  double rowSpeed{};
  double rowSlope{};
  double rowMode{};
  double rowDt{};
  double rowCurve{};
  double nextRowPos{};
  double readRow1{};
  double readRow2{};
  double readRow3{};
  double readRow4{};
  double readRow5{};
  double readRow6{};
  double prevReadRow1{};
  double prevReadRow2{};
  double prevReadRow3{};
  double prevReadRow4{};
  double prevReadRow5{};
  double prevReadRow6{};
  double slope{};
  double vCycle{};
  double vbHold{};
  uint8_t gear{};
  int32_t vagkurs{};
  int32_t sidlage{};
  int32_t kurs{};
  double roadAngle{};
  int32_t kursfel{};
  double curveStart{};
  std::array<int32_t, 101> roadObjects1{};
  std::array<int32_t, 101> roadObjects2{};
  std::array<int32_t, 101> roadObjects3{};

  // Driver demand and speed regulator.
  double limitFactor{};
  double elmEff{};
  char regulatorVariant{};
  double regulatorOffset{};
  double motorCurrent{};
  double motorPower{};
  double vb{};

  // Battery and charging.
  double chargeStartDist{};
  double usedCapacity{};
  char chargeState{};
  char chargeManual{};
  double netEnergy{};
  double driveEnergy{};
  uint8_t envArea{};
  double totalCurrent{};
  double U{};
  double Iaba{};
  double Ila{};

  // Gearbox and traction motor.
  double nel{};
  double mel{};
  double ratio{};
  std::array<double, 11> upShiftSpeed{};
  std::array<double, 11> downShiftSpeed{};
  std::array<double, 11> gearEffA{};
  std::array<double, 11> gearRatio{};
  std::array<double, 11> gearEffB{};

  // Generator, engine, fuel and emissions.
  double nic{};
  double mic{};
  double Ppic{};
  double icMaxTorque{};
  int32_t COKey{};
  int32_t NOxKey{};
  int32_t HCKey{};
  double fuelLeft{};
  double fuelFlow{};
  double icEff{};
  double CO{};
  double NOx{};
  double HC{};
  double COArea{};
  double NOxArea{};
  double HCArea{};

  // Vehicle dynamics.
  double ltot{};
  double height{};
  double nelLimited{};
  double melUsed{};
  double regenCurrent{};
  double regenPower{};
  double v{};
  double resistForce{};
  double brakeForce{};

  // Result files.
  double Energi{};
  char resfil1status{};
  char resfil2status{};

  // Dashboard and views.
  double medelforbr{};
  double Iskala{};
  double musspix{};
  std::string numberText{};
  int32_t mussx{};
  int32_t mussy{};
  double mussskala{};
  int32_t motx{};
  int32_t moty{};
  int32_t vagk{};
  int32_t vagx1{};
  int32_t vagx2{};
  int32_t roadsideOffset{};
  std::string roadsidePictureName{};
  std::array<uint8_t, 129> roadsideParams{};
  int32_t motstatus{};

  // Previous values.
  double ltotPrev{};
  double netEnergyPrev{};
  int32_t modePrev{};
  double slopePrev{};
  double totalCurrentPrev{};
  double UPrev{};
  double spareValue1{};
  double spareValue1Prev{};
  double spareValue2{};
  double spareValue2Prev{};
  double motorCurrentPrev{};
  double spareValue3{};
  double spareValue3Prev{};
  double spareValue4{};
  double spareValue4Prev{};
  double spareValue5{};
  double spareValue5Prev{};
  double regenCurrentPrev{};
  double spareValue6{};
  double spareValue6Prev{};
  double IabaPrev{};
  double spareValue7{};
  double spareValue7Prev{};
  double IlaPrev{};
  double spareValue8{};
  double spareValue8Prev{};
  double vPrev{};
  double COPrev{};
  double NOxPrev{};
  double HCPrev{};

  // Spare values held only for the snapshot layout.
  double spareNumber6{};
  double spareNumber15{};
  double spareNumber16{};
  double spareNumber17{};
  double spareNumber30{};
  double spareNumber53{};
  double spareNumber69{};
  double spareNumber121{};
  double spareNumber158{};
  double spareNumber159{};
  double spareNumber166{};
  double spareNumber190{};
  double spareNumber191{};
  double spareNumber192{};
  double spareNumber198{};
  double spareNumber199{};
  double spareNumber204{};
  double spareNumber205{};
  double spareNumber206{};
  double spareNumber207{};
  double spareNumber208{};
  double spareNumber213{};
  double spareNumber214{};
  double spareNumber215{};
  double spareNumber227{};
  double spareNumber229{};
  double spareNumber231{};
  double spareNumber232{};
  int32_t spareCount7{};
  int32_t spareCount8{};
  int32_t spareCount9{};
  int32_t spareCount10{};
  int32_t spareCount11{};
  int32_t spareCount12{};
  int32_t spareCount13{};
  int32_t spareCount70{};
  int32_t spareCount71{};
  int32_t spareCount72{};
  int32_t spareCount73{};
  int32_t spareCount74{};
  int32_t spareCount75{};
  int32_t spareCount76{};
  int32_t spareCount77{};
  int32_t spareCount79{};
  int32_t spareCount445{};
  int32_t spareCount446{};
  int32_t spareCount447{};
  int32_t spareCount448{};
  int32_t spareCount449{};
  int32_t spareCount450{};
  std::string spareText18{};
  std::string spareText19{};
  std::string spareText97{};
  std::string spareText295{};
  std::string spareText313{};
  char spareChar64{};
  uint16_t spareWord67{};
  uint8_t spareByte149{};
  uint8_t spareByte443{};
  uint8_t spareByte444{};
  std::array<int32_t, 101> spareArray1{};
  std::array<int32_t, 101> spareArray2{};
  std::array<int32_t, 101> oncomingSpare{};
};

// Gives every field its start-up default (before CONS.VAL is read).
void SetDefaults(State& s);

}  // namespace drivanto
