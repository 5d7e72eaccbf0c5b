#include "study/Json.h"

namespace drivanto {

namespace {

constexpr int kDeepest = 16;
// What an object holds flattened, keys and values together, against its
// text: the programs' lines take little more than their own length (every
// key repeats the keys of the objects around it); a line of long keys over
// many values would take memory without bound (its square).
constexpr std::size_t kMostGrowth = 4;

class Reader {
 public:
  explicit Reader(const std::string& t) : t_(t) {}

  bool Object(const std::string& prefix, std::vector<JsonValue>& out, int depth = 0) {
    // The programs' objects nest three deep; a deeper one is no line of theirs
    // (and would cost stack and memory without bound).
    if (depth > kDeepest) return false;
    Blanks();
    if (!Take('{')) return false;
    Blanks();
    if (Take('}')) return true;
    for (;;) {
      Blanks();
      std::string key;
      if (!String(&key)) return false;
      Blanks();
      if (!Take(':')) return false;
      Blanks();
      if (Peek() == '{') {
        if (!Object(prefix + key + ".", out, depth + 1)) return false;
      } else if (Peek() == '"') {
        JsonValue v{prefix + key, {}, true};
        if (!String(&v.text) || !Grow(v)) return false;
        out.push_back(std::move(v));
      } else {
        const std::size_t start = i_;
        while (i_ < t_.size() && t_[i_] != ',' && t_[i_] != '}' && t_[i_] != ' ') ++i_;
        if (i_ == start) return false;
        JsonValue v{prefix + key, t_.substr(start, i_ - start), false};
        if (!Grow(v)) return false;
        out.push_back(std::move(v));
      }
      Blanks();
      if (Take('}')) return true;
      if (!Take(',')) return false;
    }
  }
  bool AtEnd() {
    Blanks();
    return i_ == t_.size();
  }

 private:
  bool Grow(const JsonValue& v) {
    size_ += v.key.size() + v.text.size();
    return size_ <= kMostGrowth * t_.size();
  }
  char Peek() const { return i_ < t_.size() ? t_[i_] : '\0'; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  void Blanks() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t'))
      ++i_;
  }
  bool String(std::string* out) {
    if (!Take('"')) return false;
    while (i_ < t_.size() && t_[i_] != '"') {
      if (t_[i_] == '\\' && i_ + 1 < t_.size()) ++i_;
      *out += t_[i_++];
    }
    return Take('"');
  }
  const std::string& t_;
  std::size_t i_ = 0;
  std::size_t size_ = 0;  // the bytes of the keys and values read
};

}  // namespace

std::optional<std::vector<JsonValue>> FlattenJson(const std::string& text) {
  Reader r(text);
  std::vector<JsonValue> out;
  if (!r.Object("", out) || !r.AtEnd()) return std::nullopt;
  return out;
}

}  // namespace drivanto
