#include "state/Variables.h"

#include <stdexcept>

#include <cmath>
#include <limits>

#include "base/NumberText.h"
#include "base/Rounding.h"
#include "base/Text.h"

namespace drivanto {

const std::vector<NamedField>& AllFields() {
  static const std::vector<NamedField> fields = {
#define FIELD(type, name, pub, dflt, line, kind, constLine, constKind, unit, label) {pub, &State::name, unit, label},
#define ARRAY(type, name, pub, size, line, kind, unit, label) {pub, &State::name, unit, label},
#include "state/StateFields.def"
#undef FIELD
#undef ARRAY
  };
  return fields;
}

const NamedField* FindField(std::string_view name) {
  for (const NamedField& f : AllFields()) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

const NamedField& FieldOf(const Field& field) {
  for (const NamedField& f : AllFields()) {
    if (f.field == field) return f;
  }
  // Unreachable: the catalogue generates every member of State.
  throw std::logic_error("a member of State that is not in its catalogue");
}

namespace {

bool ParseReal(std::string_view text, double* out) {
  bool complete = false;
  const double v = ParseNumberEitherSeparator(text, &complete);
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

namespace {

// Sets a field from text by its type.
struct SetVisitor {
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
  template <typename T, std::size_t N>
  bool operator()(std::array<T, N> State::*) {
    return Array();
  }
};

// A field as text by its type.
struct TextVisitor {
  const State& s;
  std::string operator()(double State::*m) { return FormatGeneral15(s.*m); }
  std::string operator()(int32_t State::*m) { return std::to_string(s.*m); }
  std::string operator()(uint8_t State::*m) { return std::to_string(s.*m); }
  std::string operator()(uint16_t State::*m) { return std::to_string(s.*m); }
  std::string operator()(char State::*m) { return CharToUtf8(s.*m); }
  std::string operator()(std::string State::*m) { return s.*m; }
  std::string operator()(String4 State::*m) { return Cp1252ToUtf8((s.*m).Text()); }
  template <typename T, std::size_t N>
  std::string operator()(std::array<T, N> State::*) {
    return {};
  }
};

}  // namespace

bool SetFieldFromText(State& s, const Field& f, std::string_view text, std::string* why) {
  return std::visit(SetVisitor{s, text, why}, f);
}

std::string FieldToText(const State& s, const Field& f) { return std::visit(TextVisitor{s}, f); }

}  // namespace drivanto
