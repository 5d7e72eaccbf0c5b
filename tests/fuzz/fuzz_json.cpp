// Fuzzing of the reader of the one-line JSON objects the programs write
// (FlattenJson: summaries, the rows of a sweep's table, its plan). The bytes
// are one text T:
//  - FlattenJson(T) must not crash, and what it gives back must stay small:
//    its keys and values together no longer than four times T (a key repeats
//    the keys of the objects around it, once for every value inside them);
//  - a value that is no string is a word: not empty, without ',', '}' or a
//    blank;
//  - nesting is bounded: T (when it reads) wrapped in K objects {"w": T}
//    reads for K = 1, 2, ... up to some K below 17 and for none above, each
//    time with T's values under keys prefixed "w." K times;
//  - what the programs write reads back: {JsonString(T): JsonString(T)} is
//    one string value whose key and text are T as a message shows it
//    (Printable).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Text.h"
#include "fuzz_support.h"
#include "study/Json.h"
#include "run/Summary.h"

namespace {

using drivanto::JsonValue;
using drivanto::fuzz::Fail;

constexpr int kMostLevels = 17;  // the outermost object and 16 inside it

std::string Show(const std::string& text) {
  return text.size() > 300
             ? "\"" + text.substr(0, 300) + "\"... (" + std::to_string(text.size()) + " bytes)"
             : "\"" + text + "\"";
}

// Checks what holds of every text that reads.
void CheckFlat(const std::string& text, const std::vector<JsonValue>& flat) {
  std::size_t total = 0;
  for (const JsonValue& v : flat) {
    total += v.key.size() + v.text.size();
    if (!v.isString && (v.text.empty() || v.text.find_first_of(", }") != std::string::npos)) {
      Fail("a value that is no string is not one word: " + Show(v.text) + " of key " + Show(v.key) +
           " in " + Show(text));
    }
  }
  if (total > 4 * text.size()) {
    Fail("the values read take " + std::to_string(total) + " bytes, more than four times the " +
         std::to_string(text.size()) + " of the text " + Show(text));
  }
}

std::optional<std::vector<JsonValue>> Flatten(const std::string& text) {
  auto flat = drivanto::FlattenJson(text);
  if (flat) CheckFlat(text, *flat);
  return flat;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto flat = Flatten(text);

  if (flat) {
    // Wrapped in K objects: reads up to some K, then never again.
    std::string prefix;
    bool refused = false;
    for (int k = 1; k <= kMostLevels; ++k) {
      prefix += "w.";
      const std::string wrapped = [&] {
        std::string w;
        for (int i = 0; i < k; ++i) w += "{\"w\": ";
        w += text;
        w.append(static_cast<std::size_t>(k), '}');
        return w;
      }();
      const auto inner = Flatten(wrapped);
      if (!inner) {
        refused = true;
        continue;
      }
      if (refused) {
        Fail("the text wrapped in " + std::to_string(k) +
             " objects reads, in fewer it did not: " + Show(text));
      }
      if (k == kMostLevels) {
        Fail("objects nested " + std::to_string(kMostLevels + 1) + " deep read: " + Show(text));
      }
      if (inner->size() != flat->size()) {
        Fail("the text wrapped in " + std::to_string(k) + " objects gives " +
             std::to_string(inner->size()) + " values, alone " + std::to_string(flat->size()) +
             ": " + Show(text));
      }
      for (std::size_t i = 0; i < flat->size(); ++i) {
        const JsonValue &a = (*flat)[i], &b = (*inner)[i];
        if (b.key != prefix + a.key || b.text != a.text || b.isString != a.isString) {
          Fail("value " + std::to_string(i + 1) + " wrapped in " + std::to_string(k) +
               " objects reads as " + Show(b.key) + " = " + Show(b.text) + ", alone as " +
               Show(a.key) + " = " + Show(a.text) + ": " + Show(text));
        }
      }
    }
  }

  // A string as the programs write it reads back as the message shows it.
  const std::string quoted = drivanto::JsonString(text);
  const auto back = Flatten("{" + quoted + ": " + quoted + "}");
  const std::string shown = drivanto::Printable(text);
  if (!back || back->size() != 1 || !(*back)[0].isString || (*back)[0].key != shown ||
      (*back)[0].text != shown) {
    Fail("the string " + Show(shown) + " written as " + Show(quoted) + " does not read back");
  }
  return 0;
}
