// Small scenario files for black-box tests, written to a temporary directory.
#pragma once

#include <map>
#include <string>

#include "support/process.h"

namespace demodctl::testing {

// A scenario with the given identity and demodulator registers ("0x2C" -> "0x3F").
inline std::string scenario_json(const std::string& identity,
                                 const std::map<std::string, std::string>& regs,
                                 const std::string& extra = "") {
  std::string s = "{\"demod\": {\"identity\": \"" + identity + "\", \"registers\": {";
  bool first = true;
  for (const auto& [reg, value] : regs) {
    s += (first ? "\"" : ", \"") + reg + "\": \"" + value + "\"";
    first = false;
  }
  s += "}}";
  if (!extra.empty()) s += ", " + extra;
  return s + "}";
}

inline std::string scenario_file(const std::string& json) {
  return write_file(make_temp_dir(), "scenario.json", json);
}

}  // namespace demodctl::testing
