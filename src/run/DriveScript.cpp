#include "run/DriveScript.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "state/Snapshot.h"

namespace drivanto {

namespace {

const char* const kFirstLine = "drivanto drive script 1";

bool Whole(std::string_view t, int64_t* out) { return ParseWholeNumber(t, out); }

std::string Shortest(double x) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

// Readings as a line's value: a reading repeated K times as T*K (the time
// base may read a clock that stands still thousands of times in a tick).
std::string ReadingsText(const std::vector<double>& readings) {
  std::string text;
  for (std::size_t i = 0; i < readings.size();) {
    std::size_t j = i + 1;
    while (j < readings.size() && readings[j] == readings[i]) ++j;
    text += (i ? "," : "") + Shortest(readings[i]);
    if (j - i > 1) text += "*" + std::to_string(j - i);
    i = j;
  }
  return text;
}

// The most readings a tick can hold: the time base gives up waiting for its
// millisecond after five million.
constexpr int64_t kMostReadings = 5000000;

// Clock readings are seconds of the day as the computer's clock gives them
// (or of the simulated clock, which starts at noon and may pass 86400).
bool ReadingInRange(double t) { return std::isfinite(t) && t >= 0 && t < 1099511627776.0; }
// A reading below the one before it: only a clock that passed midnight.
bool PassedMidnight(double before, double now) { return before >= 82800 && now < 3600; }

}  // namespace

std::string KeyText(char cp1252) {
  return cp1252 == ' ' ? std::string("space") : CharToUtf8(cp1252);
}

bool ParseKeyValue(const std::string& text, int64_t* tick, char* key) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || !Whole(std::string_view(text).substr(0, colon), tick))
    return false;
  std::string c = text.substr(colon + 1);
  if (c == "space") c = " ";
  if (CharCount(c) != 1) return false;
  *key = FirstCharCp1252(c);
  return true;
}

bool ParseMouseValue(const std::string& text, int64_t* tick, int32_t* x, int32_t* y) {
  const std::size_t colon = text.find(':');
  const std::size_t comma = text.find(',', colon == std::string::npos ? 0 : colon);
  int64_t a = 0, b = 0;
  if (colon == std::string::npos || comma == std::string::npos ||
      !Whole(std::string_view(text).substr(0, colon), tick) ||
      !Whole(std::string_view(text).substr(colon + 1, comma - colon - 1), &a) ||
      !Whole(std::string_view(text).substr(comma + 1), &b) || a < INT32_MIN || a > INT32_MAX ||
      b < INT32_MIN || b > INT32_MAX) {
    return false;
  }
  *x = static_cast<int32_t>(a);
  *y = static_cast<int32_t>(b);
  return true;
}

DriveScript ReadDriveScript(const std::string& fileName) {
  const std::string bytes = ReadFileBytes(fileName);
  RejectUtf16(fileName, bytes);
  DriveScript script;
  std::size_t pos = 0;
  int lineNo = 0;
  // Lines end in LF; the snapshot inside keeps its own CR LF.
  auto nextLine = [&](std::string* line) {
    if (pos >= bytes.size()) return false;
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    *line = bytes.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    return true;
  };
  auto fail = [&](const std::string& why) -> IoError { return IoError(fileName, lineNo, why); };
  std::string line;
  if (!nextLine(&line) || line != kFirstLine) {
    throw IoError(fileName, 1,
                  std::string("not a drive script: the first line is not \"") + kFirstLine + "\"");
  }
  double lastReading = -1;
  // The readings of all ticks, each held as a number: a few bytes of
  // "T*K" stand for K of them, so the script as a whole holds at most
  // kMostReadings or one for every byte of it.
  int64_t allReadings = 0;
  const int64_t mostInAll = std::max<int64_t>(kMostReadings, static_cast<int64_t>(bytes.size()));
  int64_t lastTick = -1;       // the last tick any line names
  int64_t lastClockTick = -1;  // the last tick of a clock or time line
  // "N:" at the start of a value: the tick, never before the ones already read.
  auto tickOf = [&](const std::string& value, const char* form, std::size_t* rest) {
    const std::size_t colon = value.find(':');
    int64_t tick = 0;
    if (colon == std::string::npos || !Whole(std::string_view(value).substr(0, colon), &tick) ||
        tick < 0) {
      throw fail(std::string(form) + ", not \"" + Printable(value) + "\"");
    }
    *rest = colon + 1;
    return tick;
  };
  auto readings = [&](const std::string& text, std::vector<double>* out) {
    int64_t count = 0;
    for (std::size_t start = 0; start <= text.size();) {
      std::size_t comma = text.find(',', start);
      if (comma == std::string::npos) comma = text.size();
      std::string item = text.substr(start, comma - start);
      int64_t times = 1;
      const std::size_t star = item.find('*');
      if (star != std::string::npos) {
        if (!Whole(std::string_view(item).substr(star + 1), &times) || times < 1) {
          throw fail("\"" + Printable(item) + "\" is not a reading or a reading*times");
        }
        item.resize(star);
      }
      bool complete = false;
      const double t = ParseNumberPrefix(item, &complete);
      if (!complete) throw fail("a clock reading that is not a number: \"" + Printable(item) + "\"");
      if (!ReadingInRange(t)) {
        throw fail("the clock reading " + Printable(item) +
                   " is no time of day (a reading is a finite number of seconds from 0)");
      }
      if (lastReading >= 0 && t < lastReading && !PassedMidnight(lastReading, t)) {
        throw fail("the clock reading " + Printable(item) + " goes back from " +
                   Shortest(lastReading) + " (a clock only goes forward, but past midnight)");
      }
      // (Compared before they are added: a count may be any whole number.)
      if (times > kMostReadings - count) throw fail("more clock readings than a tick can make");
      count += times;
      if (times > mostInAll - allReadings) {
        throw fail("more clock readings than a script of its size holds (" +
                   std::to_string(mostInAll) + " in all)");
      }
      allReadings += times;
      out->insert(out->end(), static_cast<std::size_t>(times), t);
      lastReading = t;
      start = comma + 1;
    }
  };
  while (nextLine(&line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (script.ended) throw fail("a line after the end line of the recording");
    if (line == "snapshot") {
      if (!script.snapshot.empty()) throw fail("a second snapshot");
      const std::size_t end = bytes.find("\nend snapshot\n", pos - 1);
      if (end == std::string::npos) throw fail("the snapshot has no \"end snapshot\" line");
      script.snapshotLine = lineNo + 1;
      script.snapshot = bytes.substr(pos, end + 1 - pos);
      for (std::size_t i = pos; i < end + 1; ++i) lineNo += bytes[i] == '\n';
      pos = end + 1;
      nextLine(&line);  // "end snapshot"
      continue;
    }
    const std::size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    int64_t tick = 0;
    std::size_t rest = 0;
    if (word == "key") {
      char key = 0;
      if (!ParseKeyValue(value, &tick, &key) || tick < 0) {
        throw fail("key takes N:C, not \"" + Printable(value) + "\"");
      }
      script.keys.emplace(tick, key);
    } else if (word == "mouse") {
      int32_t x = 0, y = 0;
      if (!ParseMouseValue(value, &tick, &x, &y) || tick < 0) {
        throw fail("mouse takes N:X,Y, not \"" + Printable(value) + "\"");
      }
      script.mouse.emplace(tick, std::make_pair(x, y));
    } else if (word == "clock") {
      tick = tickOf(value, "clock takes N:T1,T2,...", &rest);
      if (tick < lastClockTick || script.clock.count(tick)) {
        throw fail("the clock of tick " + std::to_string(tick) + " comes after a later tick's");
      }
      readings(value.substr(rest), &script.clock[tick]);
      lastClockTick = tick;
    } else if (word == "time") {
      tick = tickOf(value, "time takes N:TTOT,CYCLE,NOW,PREV,DT", &rest);
      if (tick < lastClockTick || script.times.count(tick)) {
        throw fail("time before tick " + std::to_string(tick) + " comes after a later tick's");
      }
      double v[5];
      std::size_t start = rest;
      for (int k = 0; k < 5; ++k) {
        std::size_t comma = value.find(',', start);
        if ((comma == std::string::npos) != (k == 4)) {
          throw fail("time takes N:TTOT,CYCLE,NOW,PREV,DT, not \"" + Printable(value) + "\"");
        }
        if (comma == std::string::npos) comma = value.size();
        bool complete = false;
        v[k] = ParseNumberPrefix(value.substr(start, comma - start), &complete);
        if (!complete || !std::isfinite(v[k])) {
          throw fail("time takes five finite numbers, not \"" + Printable(value) + "\"");
        }
        start = comma + 1;
      }
      if (!ReadingInRange(v[2]) || !ReadingInRange(v[3])) {
        throw fail("the clock of \"" + Printable(value) + "\" is no time of day");
      }
      script.times[tick] = {v[0], v[1], v[2], v[3], v[4]};
      lastReading = v[2];
      lastClockTick = tick;
    } else if (word == "end") {
      if (!Whole(value, &tick) || tick < 0) throw fail("end takes N, not \"" + Printable(value) + "\"");
      script.ended = true;
      script.lastTick = tick;
    } else {
      throw fail("\"" + Printable(word) + "\" is not a line of a drive script");
    }
    lastTick = std::max(lastTick, tick);
  }
  if (script.snapshot.empty()) throw IoError(fileName, 0, "the script holds no starting snapshot");
  if (!script.ended) script.lastTick = std::max<int64_t>(lastTick, 0);
  return script;
}

void ScriptedClock::BeginTick(int64_t tick) {
  auto it = script_.clock.find(tick);
  readings_ = it == script_.clock.end() ? nullptr : &it->second;
  next_ = 0;
}


double ScriptedClock::Next() {
  if (readings_ && next_ < readings_->size()) {
    last_ = (*readings_)[next_++];
  } else {
    ++extra_;
    last_ += 0.001;
  }
  return last_;
}

double ScriptedClock::Read() { return Next(); }
double ScriptedClock::ReadAgain() { return Next(); }

DriveRecorder::~DriveRecorder() {
  try {
    End(lastTick_);
  } catch (const IoError&) {
    // The file has been cut back to its whole lines; nothing more to do.
  }
}

void DriveRecorder::Write(const std::string& line) {
  if (!file_) return;
  // The snapshot may hold a character of code 0: written as bytes, not as a
  // C string.
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
    const int err = errno ? errno : EIO;
    // What reached the file beyond its last whole line is cut off, so the
    // recording ends with a whole line (and without its end line: a replay
    // says how far it goes).
    std::clearerr(file_);
    if (::ftruncate(::fileno(file_), static_cast<off_t>(whole_)) != 0) {
      // The file keeps its cut line; the reader refuses it and names it.
    }
    End();
    throw IoError(name_, 0, ErrnoReason(err) + "; the recording stops here");
  }
  whole_ += static_cast<long long>(line.size());
}

void DriveRecorder::NoteTimeBase(const State& s) {
  ttot_ = s.ttot;
  cycleTime_ = s.cycleTime;
  clockNow_ = s.clockNow;
  clockPrev_ = s.clockPrev;
  dt_ = s.dt;
}

void DriveRecorder::Begin(const std::string& fileName, const State& start, char decimalSeparator,
                          const std::string& strategyLines) {
  End(lastTick_);
  file_ = std::fopen(fileName.c_str(), "wb");
  if (!file_) throw IoError(fileName, 0, ErrnoReason(errno));
  name_ = fileName;
  whole_ = 0;
  lastTick_ = start.stegnr;
  readings_.clear();
  // What the replay starts with: the snapshot's key, mouse and time base.
  NoteTimeBase(start);
  lastKey_ = start.keyTyped;
  lastX_ = start.mouseX;
  lastY_ = start.mouseY;
  Write(std::string(kFirstLine) +
        "\n# recorded by the window; replay: drivanto-batch --script FILE\n");
  Write("snapshot\n" + SnapshotText(start, decimalSeparator) + strategyLines + "end snapshot\n");
}

void DriveRecorder::BeforeTick(int64_t tick, const State& s) {
  if (!file_) return;
  std::string lines;
  // The tick sees the key typed since the last one; the batch runner's key
  // stays until the step has read it, as the window's does.
  if (s.keyTyped != lastKey_)
    lines += "key " + std::to_string(tick) + ":" + KeyText(s.keyTyped) + "\n";
  if (s.mouseX != lastX_ || s.mouseY != lastY_) {
    lines += "mouse " + std::to_string(tick) + ":" + std::to_string(s.mouseX) + "," +
             std::to_string(s.mouseY) + "\n";
    lastX_ = s.mouseX;
    lastY_ = s.mouseY;
  }
  // Something between the ticks (a pause, a dialog, a panel) took the time
  // base up anew: the replay starts this tick from the same values.
  if (s.ttot != ttot_ || s.cycleTime != cycleTime_ || s.clockNow != clockNow_ ||
      s.clockPrev != clockPrev_ || s.dt != dt_) {
    lines += "time " + std::to_string(tick) + ":" + Shortest(s.ttot) + "," +
             Shortest(s.cycleTime) + "," + Shortest(s.clockNow) + "," + Shortest(s.clockPrev) +
             "," + Shortest(s.dt) + "\n";
    NoteTimeBase(s);
  }
  readings_.clear();
  if (!lines.empty()) Write(lines);
}

void DriveRecorder::AfterTick(int64_t tick, const State& s) {
  if (!file_) return;
  // The key the next tick finds unless another is typed.
  lastKey_ = s.keyTyped;
  lastTick_ = tick;
  NoteTimeBase(s);
  if (!readings_.empty()) {
    const std::string line = "clock " + std::to_string(tick) + ":" + ReadingsText(readings_) + "\n";
    readings_.clear();
    Write(line);
  }
}

void DriveRecorder::End(int64_t lastTick) {
  if (!file_) return;
  Write("end " + std::to_string(lastTick) + "\n");
  End();
}

void DriveRecorder::End() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace drivanto
