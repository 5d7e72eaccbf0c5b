#pragma once
// Reading the one-line JSON objects the programs write (summaries, run
// records): the values in order, nested objects flattened with points in the
// keys ("traceMiss.cycleDistance").

#include <optional>
#include <string>
#include <vector>

namespace drivanto {

struct JsonValue {
  std::string key;
  std::string text;  // a string's characters, or a number's, true/false/null as written
  bool isString = false;
};

// nullopt when the text is not such an object (also when its objects nest
// more than 16 deep, or when its keys and values flattened would take more
// than four times its length: long keys repeated over many values).
std::optional<std::vector<JsonValue>> FlattenJson(const std::string& text);

}  // namespace drivanto
