#pragma once
// The model's named numbers and codes: the values stay exactly as the model
// has always used them (its pi is 3.14), only their names are given once.

#include <cstdint>

namespace drivanto {

// The model's pi and two pi.
constexpr double kModelPi = 3.14;
constexpr double kModelTwoPi = 6.28;

// Engine or motor speed in rpm as angular speed in rad/s, computed as the
// model always has: rpm x 2 x pi / 60, in that order.
inline double RpmToRadPerSec(double rpm) { return rpm * 2 * kModelPi / 60; }

// The fuel the engine burns per joule of work at 100 % efficiency, in litres:
// the fuel's energy is 1 / 3.18e-8 J/l (about 8.735 kWh/l).
constexpr double kFuelLitresPerJoule = 3.18e-8;
// The same as kWh per litre.
constexpr double kFuelEnergyKWhPerLitre = 1 / (kFuelLitresPerJoule * 3600000);

// Acceleration of gravity, m/s2.
constexpr double kGravity = 9.81;

// The gearbox: gears chosen by hand or by the speed.
namespace GearMode {
constexpr int32_t Manual = 10;
constexpr int32_t Automatic = 20;
}  // namespace GearMode

// The gearbox has gears 1 to this.
constexpr int kTopGear = 10;

// Mode codes of a drive-cycle row (column 4).
namespace CycleMode {
constexpr int32_t EngineOff = 3;        // engine decoupled while the row is active
constexpr int32_t MarkPosition = 10;    // remember the row's position
constexpr int32_t JumpBack = 11;        // back to the mark (column 5 = 11) or to the total
constexpr int32_t SetPosition = 15;     // position := column 5
constexpr int32_t SwitchCycle = 20;     // time cycle <-> map cycle
constexpr int32_t Hold = 21;            // hold the requested speed for column 5 seconds
constexpr int32_t CycleControl = 30;    // back to the cycle's control
constexpr int32_t CurrentControl = 31;  // column 2 is a motor current
constexpr int32_t PowerControl = 32;    // column 2 is a motor power
constexpr int32_t AccelGroup = 4;       // codes 35 to 45: regulator constant code - 40
constexpr int32_t BrakeGroup = 5;       // codes 46 to 54: brake constant code - 50
constexpr int32_t SnapshotMark = 60;    // set the snapshot mark
constexpr int32_t End = 100;            // end of the run
constexpr int32_t ManualGear = 100;     // codes 101 to 118: gear code - 100
constexpr int32_t LastGearCode = 119;   // (exclusive)
constexpr int32_t AutomaticGear = 120;
constexpr double RoadObjects = 999;  // codes above are road-object codes
}  // namespace CycleMode

// Column 5 of a jump-back row that sends the cycle to its mark.
constexpr int32_t kJumpToMark = 11;

}  // namespace drivanto
