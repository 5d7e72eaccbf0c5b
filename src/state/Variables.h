#pragma once
// Access to the fields of State by kind and by name: the snapshot line table,
// the batch runner's --set and the settings panels all go through these.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "state/State.h"

namespace drivanto {

using Field = std::variant<double State::*, int32_t State::*, uint8_t State::*, uint16_t State::*,
                           char State::*, std::string State::*, String4 State::*,
                           std::array<double, 7> State::*, std::array<double, 11> State::*,
                           std::array<int32_t, 101> State::*, std::array<uint8_t, 129> State::*>;

struct NamedField {
  const char* name;
  Field field;
  const char* unit;   // "m/s", "%", ...; "" for counts, codes, flags and texts
  const char* label;  // the row's text in a settings panel; "" where no panel shows it
};

// Every field of State with its name, in catalogue order.
const std::vector<NamedField>& AllFields();
// nullptr when the name is unknown (names are compared exactly).
const NamedField* FindField(std::string_view name);
// The catalogue's entry of a member of State (every member has one).
const NamedField& FieldOf(const Field& field);

// Sets a scalar field from text, parsed by the field's type: reals and
// integers as numbers (point or comma), characters as the first character
// (CP1252), texts as they stand (cut to 250 characters), the four-character
// option text by its characters. Returns false (and changes nothing) when the
// text is not a value of the field's type or the field is an array.
bool SetFieldFromText(State& s, const Field& f, std::string_view text, std::string* why);

// The field's value as text (for messages and listings); arrays give "".
std::string FieldToText(const State& s, const Field& f);

}  // namespace drivanto
