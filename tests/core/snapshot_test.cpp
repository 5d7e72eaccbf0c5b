#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "TempFolder.h"
#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "state/Snapshot.h"
#include "state/State.h"

namespace drivanto {
namespace {

const double kReals[] = {1.0 / 3.0, 1e-7, -123456.789, 1e20, 0.01, -2.5e-300, 7000};
const char kChars[] = {'A', '\xE5', ' ', '\0', '\x1A', '\x80', '\xFF', '\r'};

// Gives every field that has a line a value of its own, from its line number n.
void Fill(State& s) {
  for (const SnapshotLine& l : SnapshotLines()) {
    for (int i = 1; i <= l.count; ++i) {
      const int n = l.line + i - 1;
      std::visit(
          [&](auto m) {
            auto& v = s.*m;
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double>) {
              v = kReals[n % 7] * n;
            } else if constexpr (std::is_same_v<T, int32_t>) {
              v = (n == 5) ? std::numeric_limits<int32_t>::min() : (n % 2 ? -n * 1000003 : n);
            } else if constexpr (std::is_same_v<T, uint8_t>) {
              v = static_cast<uint8_t>(n == 37 ? 1 : (n * 37) % 256);
            } else if constexpr (std::is_same_v<T, uint16_t>) {
              v = static_cast<uint16_t>(65535 - n);
            } else if constexpr (std::is_same_v<T, char>) {
              v = (n % 3 == 0) ? kChars[n % 8] : static_cast<char>('A' + n % 26);
            } else if constexpr (std::is_same_v<T, std::string>) {
              v = (n == 1) ? "" : "Text " + std::to_string(n) + ", å ä ö";
            } else if constexpr (std::is_same_v<T, String4>) {
              v = String4("1M0B");
            } else if constexpr (std::is_same_v<T, std::array<double, 11>>) {
              v[i] = kReals[n % 7] * n;
            } else if constexpr (std::is_same_v<T, std::array<int32_t, 101>>) {
              v[i] = (n % 2) ? -n * 7919 : n;
            } else {
              v[i] = static_cast<uint8_t>(n % 256);
            }
          },
          l.field);
    }
  }
}

// Compares every field that loading stores (all lines but 37 and 147).
void ExpectSameSnapshotFields(const State& got, const State& want) {
  for (const SnapshotLine& l : SnapshotLines()) {
    if (l.line == 37 || l.line == 147) continue;
    for (int i = 1; i <= l.count; ++i) {
      SCOPED_TRACE("line " + std::to_string(l.line + i - 1));
      std::visit(
          [&](auto m) {
            const auto& g = got.*m;
            const auto& w = want.*m;
            using T = std::decay_t<decltype(g)>;
            if constexpr (std::is_same_v<T, double>) {
              EXPECT_NEAR(g, w, std::fabs(w) * 1e-14);
            } else if constexpr (std::is_same_v<T, std::array<double, 11>>) {
              EXPECT_NEAR(g[i], w[i], std::fabs(w[i]) * 1e-14);
            } else if constexpr (std::is_same_v<T, std::array<int32_t, 101>> ||
                                 std::is_same_v<T, std::array<uint8_t, 129>>) {
              EXPECT_EQ(g[i], w[i]);
            } else {
              EXPECT_TRUE(g == w);
            }
          },
          l.field);
    }
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\r' && text[i + 1] == '\n') {
      out.push_back(text.substr(start, i - start));
      start = i + 2;
      ++i;
    }
  }
  return out;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

State Defaults() {
  State s;
  SetDefaults(s);
  return s;
}

TEST(Snapshot, LineTableCoversLinesOneTo1050Once) {
  std::vector<int> seen(1051, 0);
  int singles = 0, arrayLines = 0, arrays = 0;
  for (const SnapshotLine& l : SnapshotLines()) {
    for (int i = 0; i < l.count; ++i) {
      ASSERT_GE(l.line + i, 1);
      ASSERT_LE(l.line + i, 1050);
      ++seen[l.line + i];
    }
    if (l.count == 1) {
      ++singles;
    } else {
      ++arrays;
      arrayLines += l.count;
    }
    // The kind of a line follows the type of its variable.
    bool fits = false;
    switch (l.kind) {
      case SnapKind::Real:
        fits = std::holds_alternative<double State::*>(l.field) ||
               (std::holds_alternative<std::array<double, 7> State::*>(l.field) && l.count == 6) ||
               (std::holds_alternative<std::array<double, 11> State::*>(l.field) && l.count == 10);
        break;
      case SnapKind::Int:
        fits =
            std::holds_alternative<int32_t State::*>(l.field) ||
            (std::holds_alternative<std::array<int32_t, 101> State::*>(l.field) && l.count == 100);
        break;
      case SnapKind::Small:
        fits =
            std::holds_alternative<uint8_t State::*>(l.field) ||
            std::holds_alternative<uint16_t State::*>(l.field) ||
            (std::holds_alternative<std::array<uint8_t, 129> State::*>(l.field) && l.count == 128);
        break;
      case SnapKind::Char:
        fits = std::holds_alternative<char State::*>(l.field) ||
               (l.line == 37 && l.field == Field(&State::paus));
        break;
      case SnapKind::Text: fits = std::holds_alternative<std::string State::*>(l.field); break;
      case SnapKind::Text4: fits = l.line == 22 && l.field == Field(&State::outputFlags); break;
      case SnapKind::None: break;
    }
    EXPECT_TRUE(fits) << "line " << l.line;
  }
  for (int n = 1; n <= 1050; ++n) EXPECT_EQ(seen[n], 1) << "line " << n;
  EXPECT_EQ(singles, 260);
  EXPECT_EQ(arrayLines, 790);
  EXPECT_EQ(arrays, 14);

  // A few fixed places of the layout.
  auto at = [](int line) {
    for (const SnapshotLine& l : SnapshotLines()) {
      if (l.line == line) return l.field;
    }
    return Field(&State::spareFile2);
  };
  EXPECT_TRUE(at(3) == Field(&State::startmapp));
  EXPECT_TRUE(at(98) == Field(&State::ValueFileName));
  EXPECT_TRUE(at(148) == Field(&State::envArea));
  EXPECT_TRUE(at(216) == Field(&State::fuelLeft));
  EXPECT_TRUE(at(293) == Field(&State::gearMode));
  EXPECT_TRUE(at(451) == Field(&State::roadObjects1));
  EXPECT_TRUE(at(951) == Field(&State::oncomingSpare));
}

TEST(Snapshot, SaveThenLoadReproducesEveryField) {
  testing::TempFolder dir;
  State saved = Defaults();
  Fill(saved);
  for (char separator : {'.', ','}) {
    SCOPED_TRACE(std::string("separator ") + separator);
    std::string file = dir / "SNAP.VAR";
    SaveSnapshot(saved, file, separator);
    State loaded = Defaults();
    LoadSnapshot(loaded, file);
    ExpectSameSnapshotFields(loaded, saved);
  }
  // A text the Windows code page cannot hold.
  saved.Myname = "Łukasz → 5 Ω";
  std::string text = SnapshotText(saved);
  EXPECT_TRUE(IsValidUtf8(text));
  State loaded = Defaults();
  LoadSnapshotText(loaded, text, "SNAP.VAR");
  ExpectSameSnapshotFields(loaded, saved);
}

TEST(Snapshot, WrittenLayout) {
  State s = Defaults();
  s.paus = 1;
  s.Myname = "Berg, Åsa";
  std::string text = SnapshotText(s, ',');
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 1050u);
  EXPECT_EQ(Join(lines), text);  // CR LF after every line, nothing else
  EXPECT_EQ(lines[36], "\x01");  // the pause flag as the character with code 1
  EXPECT_EQ(lines[19], "S");
  EXPECT_EQ(lines[21], "0111");
  EXPECT_EQ(lines[4], "101");
  EXPECT_EQ(lines[25], "Berg, \xC5sa");  // texts as they stand
  EXPECT_EQ(lines[33], "1");
  EXPECT_EQ(lines[43], "0,01");
  EXPECT_EQ(lines[40], "-1");
  EXPECT_EQ(lines[292], "20");
  s.dt = 1e-5;
  EXPECT_EQ(Lines(SnapshotText(s, ','))[33], "1E-5");
}

TEST(Snapshot, LoadingLeavesSomeFieldsAlone) {
  State saved = Defaults();
  Fill(saved);
  saved.paus = 1;
  saved.cycleLastFileName = "UDDS.CYK";
  std::string text = SnapshotText(saved);

  State s = Defaults();
  s.paus = 0;
  s.cycleLastFileName = "KARTA.CYK";
  s.chargeOffLimit = 42;
  s.spareFile2 = "RESERV2.TXT";
  s.roadObjects1[0] = 5;
  s.spareArray1[0] = 6;
  s.spareArray2[0] = 7;
  s.mouseX = 8;
  s.motstatus = 2;
  s.loadMode = "H";
  LoadSnapshotText(s, text, "SNAP.VAR");
  EXPECT_EQ(s.paus, 0);
  EXPECT_EQ(s.cycleLastFileName, "KARTA.CYK");
  EXPECT_EQ(s.chargeOffLimit, 42);
  EXPECT_EQ(s.spareFile2, "RESERV2.TXT");
  EXPECT_EQ(s.roadObjects1[0], 5);
  EXPECT_EQ(s.spareArray1[0], 6);
  EXPECT_EQ(s.spareArray2[0], 7);
  EXPECT_EQ(s.mouseX, 8);
  EXPECT_EQ(s.motstatus, 2);
  EXPECT_EQ(s.loadMode, "H");
  EXPECT_EQ(s.roadObjects1[1], saved.roadObjects1[1]);
}

TEST(Snapshot, LinesAreReadByTheirKind) {
  std::vector<std::string> lines = Lines(SnapshotText(Defaults()));
  std::string longText;
  for (int i = 0; i < 300; ++i) longText += "ä";
  lines[25] = longText;   // Myname
  lines[21] = "0111XYZ";  // Spara
  lines[0] = "a,b";       // texts keep their commas
  lines[19] = "";         // a char line that is empty
  lines[22] = "$1F";      // integers may be hexadecimal
  lines[55] = " -12";
  lines[66] = "70000";   // a 16-bit line keeps the low 16 bits
  lines[33] = "1,5E-7";  // a decimal comma
  lines[43] = "  2.5";
  lines[58] = "Mus";  // a char line gives its first character
  State s = Defaults();
  LoadSnapshotText(s, Join(lines), "SNAP.VAR");
  EXPECT_EQ(CharCount(s.Myname), 250u);
  EXPECT_EQ(s.Myname, CutChars(longText, 250));
  EXPECT_EQ(s.outputFlags.Text(), "0111");
  EXPECT_EQ(s.titlePrefix, "a,b");
  EXPECT_EQ(s.screenState, '\r');  // the line end itself
  EXPECT_EQ(s.stegnr, 31);
  EXPECT_EQ(s.modeNo, -12);
  EXPECT_EQ(s.spareWord67, 70000 - 65536);
  EXPECT_EQ(s.dt, 1.5e-7);
  EXPECT_EQ(s.usedCapacity, 2.5);
  EXPECT_EQ(s.controlMode, 'M');

  // LF line ends load as well; an empty char line then gives the LF.
  std::string lf;
  for (const std::string& l : lines) lf += l + "\n";
  State t = Defaults();
  LoadSnapshotText(t, lf, "SNAP.VAR");
  EXPECT_EQ(t.screenState, '\n');
  EXPECT_EQ(t.stegnr, 31);
  EXPECT_EQ(t.controlMode, 'M');
}

TEST(Snapshot, ShortFileLoadsWhatItHas) {
  State saved = Defaults();
  Fill(saved);
  std::vector<std::string> lines = Lines(SnapshotText(saved));
  lines.resize(10);
  State s = Defaults();
  s.Myname = "Åsa";
  s.envArea = 1;
  ASSERT_NO_THROW(LoadSnapshotText(s, Join(lines), "SHORT.VAR"));
  EXPECT_EQ(s.bilmodell, saved.bilmodell);
  EXPECT_EQ(s.spareCount10, saved.spareCount10);
  EXPECT_EQ(s.screenState, '\x1A');  // char lines past the end
  EXPECT_EQ(s.cycleType, '\x1A');
  EXPECT_EQ(s.Myname, "");  // texts past the end
  EXPECT_EQ(s.outputFlags.Text(), "");
  EXPECT_EQ(s.envArea, 0);  // the free-format read at the end of the file

  // An empty file too.
  State e = Defaults();
  ASSERT_NO_THROW(LoadSnapshotText(e, "", "EMPTY.VAR"));
  EXPECT_EQ(e.titlePrefix, "");
  EXPECT_EQ(e.snapshotMark, '\x1A');
}

TEST(Snapshot, FreeFormatLines) {
  State saved = Defaults();
  Fill(saved);
  std::vector<std::string> lines = Lines(SnapshotText(saved));

  lines[147] = "  7 junk";
  lines[148] = "$1F";
  State a = Defaults();
  LoadSnapshotText(a, Join(lines), "SNAP.VAR");
  EXPECT_EQ(a.envArea, 7);
  EXPECT_EQ(a.spareByte149, 31);
  EXPECT_NEAR(a.slope, saved.slope, std::fabs(saved.slope) * 1e-14);
  lines[147] = "300";  // kept in 8 bits
  State b = Defaults();
  LoadSnapshotText(b, Join(lines), "SNAP.VAR");
  EXPECT_EQ(b.envArea, 300 - 256);

  for (const char* bad : {"abc", "12abc", "-"}) {
    SCOPED_TRACE(bad);
    lines[147] = bad;
    State s = Defaults();
    try {
      LoadSnapshotText(s, Join(lines), "SNAP.VAR");
      ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
      EXPECT_EQ(e.file(), "SNAP.VAR");
      EXPECT_EQ(e.line(), 148);
      EXPECT_EQ(e.reason(), "Invalid numeric input");
    }
    // Lines before the failure are loaded, lines after it are not.
    EXPECT_NEAR(s.prevReadRow[6], saved.prevReadRow[6], std::fabs(saved.prevReadRow[6]) * 1e-14);
    EXPECT_EQ(s.slope, 0);
    EXPECT_EQ(s.U, 120);
  }
}

TEST(Snapshot, RandomBytesNeverCrash) {
  std::mt19937 random(12345);
  for (int round = 0; round < 40; ++round) {
    std::string bytes(random() % 30000, '\0');
    for (char& c : bytes) {
      // Half of the files have many short lines so that reading goes deep.
      c = static_cast<char>(round % 2 ? random() % 256 : "0123456789-., \r\n\nx"[random() % 18]);
    }
    State s = Defaults();
    try {
      LoadSnapshotText(s, bytes, "RANDOM.VAR");
    } catch (const IoError& e) {
      // NUL bytes early in the file make it look like UTF-16 text.
      if (e.reason().find("UTF-16") == std::string::npos) {
        EXPECT_EQ(e.reason(), "Invalid numeric input");
      }
    }
  }
}

TEST(Snapshot, ValuesHoldingLineEndsKeepTheLayout) {
  // A char loaded from an empty line holds the line end; saving it again must
  // not split its line.
  std::vector<std::string> lines = Lines(SnapshotText(Defaults()));
  lines[3] = "";
  State first = Defaults();
  LoadSnapshotText(first, Join(lines), "SNAP.VAR");
  ASSERT_EQ(first.snapshotMark, '\r');
  first.Myname = "two\nlines";
  first.spareChar64 = '\n';
  std::string again = SnapshotText(first);
  EXPECT_EQ(Lines(again).size(), 1050u);
  State second = Defaults();
  LoadSnapshotText(second, again, "SNAP.VAR");
  EXPECT_EQ(second.snapshotMark, '\r');
  EXPECT_EQ(second.loopIndex, 101);
  EXPECT_EQ(second.Myname, "two lines");
  EXPECT_EQ(second.spareChar64, '\r');
  EXPECT_EQ(second.accelSteps, 1);
  EXPECT_EQ(second.gearMode, 20);
}

TEST(Snapshot, WindowsBytesThatLookLikeUtf8) {
  // "Ã©" in the Windows code page is C3 A9, which is valid UTF-8 for "é".
  State s = Defaults();
  s.Myname = "Ã©";
  State t = Defaults();
  LoadSnapshotText(t, SnapshotText(s), "SNAP.VAR");
  EXPECT_EQ(t.Myname, "Ã©");
}

TEST(Snapshot, MissingFileIsAnInputOutputError) {
  testing::TempFolder dir;
  State s = Defaults();
  try {
    LoadSnapshot(s, dir / "NONE.VAR");
    FAIL() << "no error";
  } catch (const IoError& e) {
    EXPECT_EQ(e.file(), dir / "NONE.VAR");
  }
  EXPECT_THROW(SaveSnapshot(s, dir / "no/such/folder.VAR"), IoError);
}

TEST(Snapshot, DecimalCommaToPoint) {
  EXPECT_EQ(DecimalCommaToPoint("1,5"), "1.5");
  EXPECT_EQ(DecimalCommaToPoint(",,a,"), "..a.");
  EXPECT_EQ(DecimalCommaToPoint("7000"), "7000");
  EXPECT_EQ(DecimalCommaToPoint(""), "");
}

}  // namespace
}  // namespace drivanto
