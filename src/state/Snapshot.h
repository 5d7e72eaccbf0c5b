#pragma once
// Snapshot files: the whole state in 1050 lines, one value per line, in the
// fixed order of the line table. No header, no names.

#include <string>
#include <string_view>
#include <vector>

#include "state/State.h"
#include "state/Variables.h"

namespace drivanto {

// How a field is written: a text, the four-character option text, a
// character, an integer, a small integer, a real; None for a field that
// snapshots do not hold (catalogue only).
// The lines of a snapshot file.
constexpr std::size_t kSnapshotLines = 1050;

enum class SnapKind { Text, Text4, Char, Int, Small, Real, None };

struct SnapshotLine {
  int line;  // first line of the variable in the file
  SnapKind kind;
  Field field;
  int count = 1;  // array elements, stored from index 1 upwards
};

// The line table: 284 variables and arrays covering lines 1 to 1050.
const std::vector<SnapshotLine>& SnapshotLines();

// The file text (CR LF line ends) with the given decimal separator for reals.
std::string SnapshotText(const State& s, char decimalSeparator = '.');
// Writes the snapshot to fileName (a temporary file renamed over the target,
// so a failed save leaves an earlier file intact). Throws IoError.
void SaveSnapshot(const State& s, const std::string& fileName, char decimalSeparator = '.');

// Refuses a file that is plainly not a snapshot (empty, binary, or without
// the snapshot's 1050 lines) with an IoError that names it.
void CheckIsSnapshot(const std::string& fileName);

// Reads a snapshot into the state. Values read before a failure keep their new
// values. Throws IoError (file, line, reason).
void LoadSnapshot(State& s, const std::string& fileName);
// The same over text already in memory (bytes as in a file).
void LoadSnapshotText(State& s, std::string_view bytes, const std::string& fileName);

}  // namespace drivanto
