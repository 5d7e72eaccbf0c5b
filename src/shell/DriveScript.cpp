#include "shell/DriveScript.h"

#include <cerrno>
#include <charconv>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "state/Snapshot.h"

namespace drivanto {

namespace {

const char* const kFirstLine = "drivanto drive script 1";

bool Whole(std::string_view t, int64_t* out) {
  if (t.empty()) return false;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *out);
  return ec == std::errc() && end == t.data() + t.size();
}

std::string Shortest(double x) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

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
  std::string line;
  if (!nextLine(&line) || line != kFirstLine) {
    throw IoError(fileName, 1,
                  std::string("not a drive script: the first line is not \"") + kFirstLine + "\"");
  }
  while (nextLine(&line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line == "snapshot") {
      const std::size_t end = bytes.find("\nend snapshot\n", pos - 1);
      if (end == std::string::npos)
        throw IoError(fileName, lineNo, "the snapshot has no \"end snapshot\" line");
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
    if (word == "key") {
      char key = 0;
      if (!ParseKeyValue(value, &tick, &key))
        throw IoError(fileName, lineNo, "key takes N:C, not \"" + value + "\"");
      script.keys.emplace(tick, key);
    } else if (word == "mouse") {
      int32_t x = 0, y = 0;
      if (!ParseMouseValue(value, &tick, &x, &y)) {
        throw IoError(fileName, lineNo, "mouse takes N:X,Y, not \"" + value + "\"");
      }
      script.mouse.emplace(tick, std::make_pair(x, y));
    } else if (word == "clock") {
      const std::size_t colon = value.find(':');
      if (colon == std::string::npos || !Whole(std::string_view(value).substr(0, colon), &tick)) {
        throw IoError(fileName, lineNo, "clock takes N:T1,T2,..., not \"" + value + "\"");
      }
      std::vector<double>& readings = script.clock[tick];
      std::string rest = value.substr(colon + 1);
      for (std::size_t start = 0; start <= rest.size();) {
        std::size_t comma = rest.find(',', start);
        if (comma == std::string::npos) comma = rest.size();
        bool complete = false;
        const double t = ParseNumberPrefix(rest.substr(start, comma - start), &complete);
        if (!complete) throw IoError(fileName, lineNo, "a clock reading that is not a number");
        readings.push_back(t);
        start = comma + 1;
      }
    } else {
      throw IoError(fileName, lineNo, "\"" + word + "\" is not a line of a drive script");
    }
  }
  if (script.snapshot.empty()) throw IoError(fileName, 0, "the script holds no starting snapshot");
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

DriveRecorder::~DriveRecorder() { End(); }

void DriveRecorder::Write(const std::string& line) {
  if (!file_) return;
  // The snapshot may hold a character of code 0: written as bytes, not as a
  // C string.
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
    const int err = errno;
    End();
    throw IoError(name_, 0, ErrnoReason(err));
  }
}

void DriveRecorder::Begin(const std::string& fileName, const State& start, char decimalSeparator) {
  End();
  file_ = std::fopen(fileName.c_str(), "wb");
  if (!file_) throw IoError(fileName, 0, ErrnoReason(errno));
  name_ = fileName;
  readings_.clear();
  // What the replay starts with: the snapshot's key and mouse.
  lastKey_ = start.tangent;
  lastX_ = start.musx;
  lastY_ = start.musy;
  Write(std::string(kFirstLine) +
        "\n# recorded by the window; replay: drivanto-batch --script FILE\n");
  Write("snapshot\n" + SnapshotText(start, decimalSeparator) + "end snapshot\n");
}

void DriveRecorder::BeforeTick(int64_t tick, const State& s) {
  if (!file_) return;
  std::string lines;
  // The tick sees the key typed since the last one; the batch runner's key
  // stays until the step has read it, as the window's does.
  if (s.tangent != lastKey_)
    lines += "key " + std::to_string(tick) + ":" + KeyText(s.tangent) + "\n";
  if (s.musx != lastX_ || s.musy != lastY_) {
    lines += "mouse " + std::to_string(tick) + ":" + std::to_string(s.musx) + "," +
             std::to_string(s.musy) + "\n";
    lastX_ = s.musx;
    lastY_ = s.musy;
  }
  readings_.clear();
  if (!lines.empty()) Write(lines);
}

void DriveRecorder::AfterTick(int64_t tick, const State& s) {
  if (!file_) return;
  // The key the next tick finds unless another is typed.
  lastKey_ = s.tangent;
  if (!readings_.empty()) {
    std::string line = "clock " + std::to_string(tick) + ":";
    for (std::size_t i = 0; i < readings_.size(); ++i)
      line += (i ? "," : "") + Shortest(readings_[i]);
    readings_.clear();
    Write(line + "\n");
  }
}

void DriveRecorder::End() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace drivanto
