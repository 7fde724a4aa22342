#include "sim/scenario.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>
#include <type_traits>
#include <utility>

#include "sim/scenario_values.h"
#include "sim/sim_registers.h"

namespace demodctl::sim {
namespace {

using nlohmann::json;

// Deepest bracket nesting a scenario needs is 4; anything far deeper is rejected
// before the JSON parser sees it.
constexpr int kMaxNesting = 8;
constexpr std::size_t kMaxTuners = 4;
constexpr std::size_t kMaxErrorText = 160;  // longest parser message passed on
constexpr std::size_t kMaxChannels = 16;
constexpr uint64_t kMaxChannel = 255;
constexpr uint64_t kMaxReadsPerStage = 1'000'000;
constexpr uint64_t kMaxOperation = UINT32_MAX;
constexpr uint64_t kMaxLockTimeMs = 1710;
constexpr uint64_t kMaxReferenceKhz = 0xFFFFFF;
constexpr uint64_t kMaxSymbolRateKsps = 100000;
constexpr double kMaxOffsetKhz = 1e7;
constexpr double kMaxTransponderMhz = 50000;  // beyond what either tuner's registers can hold
constexpr uint64_t kPerMillion = 1'000'000;
constexpr uint64_t kMaxStallMs = 10'000;  // a stalled board still answers within this
constexpr uint64_t kMaxStuckReads = 1'000'000;

constexpr std::array<uint8_t, reg::identity.bytes()> kDefaultIdentity = {0x01, 0x00, 0x36, 0x31};

bool too_deep(std::string_view text) {
  int depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

// Follows the parser through the text: where it is, for messages, and which keys each open object
// has had. A key given twice is an error here (the parser alone would keep the last value).
class DocumentPath {
 public:
  void on_event(json::parse_event_t event, const json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        frames_.push_back({event == json::parse_event_t::object_start, {}, {}, 0});
        break;
      case json::parse_event_t::key: {
        Frame& frame = frames_.back();
        frame.key = parsed.get<std::string>();
        if (!frame.keys.insert(frame.key).second) {
          throw ScenarioError(where(frames_.size() - 1) + ": duplicate key '" +
                              printable(frame.key) + "'");
        }
        break;
      }
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        frames_.pop_back();
        element_done();
        break;
      case json::parse_event_t::value:
        element_done();
        break;
    }
  }
  // "demod.registers.0x2C", "faults.fail_ops[2]": the value being read in the first `depth`
  // containers; "top level" outside them.
  std::string where(size_t depth) const {
    std::string out;
    for (size_t i = 0; i < depth && i < frames_.size(); ++i) {
      const Frame& f = frames_[i];
      if (!f.object) {
        out += "[" + std::to_string(f.index) + "]";
      } else if (!f.keys.empty()) {
        out += (out.empty() ? "" : ".") + printable(f.key);
      }
    }
    return out.empty() ? "top level" : out;
  }
  std::string where() const { return where(frames_.size()); }

 private:
  struct Frame {
    bool object;
    std::set<std::string> keys;
    std::string key;    // the latest
    std::size_t index;  // array entries read so far
  };
  void element_done() {
    if (!frames_.empty() && !frames_.back().object) ++frames_.back().index;
  }
  std::vector<Frame> frames_;
};

json parse_json(std::string_view text) {
  DocumentPath path;
  try {
    return json::parse(text, [&path](int, json::parse_event_t event, json& parsed) {
      path.on_event(event, parsed);
      return true;
    });
  } catch (const json::out_of_range& e) {
    // A number beyond what a double holds: named where it sits, like any range error. The
    // parser's message ends "... parsing '1e400'".
    const std::string what = e.what();
    const auto open = what.find('\'');
    const std::string number =
        open == std::string::npos ? "" : what.substr(open + 1, what.size() - open - 2);
    throw ScenarioError(path.where() + ": number " + printable(number) + " out of range");
  }
}

void set_identity(RegisterFile& registers, const std::array<uint8_t, reg::identity.bytes()>& id) {
  std::copy(id.begin(), id.end(), registers.begin() + reg::identity.reg);
}

std::string hex_text(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%02llX", static_cast<unsigned long long>(value));
  return text;
}

// Into `registers`, and into *stated when given.
void read_registers(const json& value, const std::string& where, RegisterFile& registers,
                    std::vector<RegisterValue>* stated = nullptr) {
  expect_object(value, where);
  std::bitset<kRegisterCount> given;
  for (const auto& item : value.items()) {
    const std::string entry = where + "." + printable(item.key());
    const auto reg =
        static_cast<uint8_t>(read_number_text(item.key(), entry, 0, kRegisterCount - 1));
    if (given.test(reg)) {
      throw ScenarioError(entry + ": register " + hex_text(reg) + " given twice");
    }
    given.set(reg);
    registers[reg] = read_byte(item.value(), entry);
    if (stated != nullptr) stated->push_back({reg, registers[reg]});
  }
}

// `picture` holds what the signal shows; explicit registers are written over it and listed in
// *stated.
DeviceConfig read_demod(const json& value, const RegisterFile& picture,
                        std::vector<RegisterValue>* stated) {
  const std::string where = "demod";
  expect_object(value, where);
  check_keys(value, where, {"address", "identity", "registers"});
  DeviceConfig demod;
  demod.address = kDefaultDemodAddress;
  demod.registers = picture;
  if (value.contains("address")) demod.address = read_address(value["address"], where + ".address");
  if (value.contains("registers")) {
    read_registers(value["registers"], where + ".registers", demod.registers, stated);
  }
  // The identity is applied last: it wins over 0x6C..0x6F given as registers.
  auto identity = kDefaultIdentity;
  if (value.contains("identity")) identity = read_identity(value["identity"], where + ".identity");
  set_identity(demod.registers, identity);
  return demod;
}

DeviceConfig read_tuner(const json& value, const std::string& where) {
  expect_object(value, where);
  check_keys(value, where, {"address", "behind_repeater", "type", "registers"});
  if (!value.contains("address")) throw ScenarioError(where + ": missing 'address'");
  DeviceConfig tuner;
  tuner.address = read_address(value["address"], where + ".address");
  tuner.behind_repeater = true;
  if (value.contains("behind_repeater")) {
    tuner.behind_repeater = read_bool(value["behind_repeater"], where + ".behind_repeater");
  }
  if (value.contains("type")) {
    const json& type = value["type"];
    if (type == "rda5815") {
      tuner.tuner_type = TunerType::rda5815;
    } else if (type == "type0") {
      tuner.tuner_type = TunerType::type0;
    } else {
      throw ScenarioError(where + ".type: expected \"rda5815\" or \"type0\"");
    }
  }
  if (value.contains("registers")) {
    read_registers(value["registers"], where + ".registers", tuner.registers);
  }
  return tuner;
}

Standard read_standard(const json& value, const std::string& where) {
  constexpr std::pair<std::string_view, Standard> kNames[] = {
      {"DVB-S2", Standard::dvbs2}, {"DVB-S", Standard::dvbs}, {"DirecTV", Standard::directv}};
  if (value.is_string()) {
    for (const auto& [name, standard] : kNames) {
      if (value.get_ref<const std::string&>() == name) return standard;
    }
  }
  throw ScenarioError(where + ": expected \"DVB-S2\", \"DVB-S\" or \"DirecTV\"");
}

Signal read_signal(const json& value, const std::string& where) {
  expect_object(value, where);
  check_keys(
      value, where,
      {"standard", "modcod", "short_frame", "pilots", "roll_off", "code_rate", "symbol_rate_ksps",
       "locked", "power_dbm", "cn_db", "ber", "ber_window", "lock_time_ms", "fc_khz",
       "carrier_offset_khz", "symbol_rate_offset_khz", "agc_settle_reads"});
  Signal signal;  // what is not given keeps the default board's value
  const auto given = [&](const char* key) { return value.contains(key); };
  const auto at = [&](const char* key) { return where + "." + key; };
  const auto whole = [&](const char* key, auto& field, uint64_t hi) {
    if (given(key))
      field = static_cast<std::remove_reference_t<decltype(field)>>(
          read_number(value[key], at(key), 0, hi));
  };
  const auto real = [&](const char* key, double& field, double lo, double hi) {
    if (given(key)) field = read_real(value[key], at(key), lo, hi);
  };
  const auto flag = [&](const char* key, bool& field) {
    if (given(key)) field = read_bool(value[key], at(key));
  };
  if (given("standard")) signal.standard = read_standard(value["standard"], at("standard"));
  whole("modcod", signal.modcod, 63);
  flag("short_frame", signal.short_frame);
  flag("pilots", signal.pilots);
  whole("roll_off", signal.roll_off, 3);
  whole("code_rate", signal.code_rate, 7);
  whole("symbol_rate_ksps", signal.symbol_rate_ksps, kMaxSymbolRateKsps);
  if (signal.symbol_rate_ksps == 0)
    throw ScenarioError(at("symbol_rate_ksps") + ": must be 1 or more");
  flag("locked", signal.locked);
  real("power_dbm", signal.power_dbm, -100.0, 0.0);
  real("cn_db", signal.cn_db, -20.0, 50.0);
  real("ber", signal.ber, 0.0, 1.0);
  whole("ber_window", signal.ber_window, 7);
  whole("lock_time_ms", signal.lock_time_ms, kMaxLockTimeMs);
  whole("fc_khz", signal.fc_khz, kMaxReferenceKhz);
  real("carrier_offset_khz", signal.carrier_offset_khz, -kMaxOffsetKhz, kMaxOffsetKhz);
  real("symbol_rate_offset_khz", signal.symbol_rate_offset_khz, -kMaxOffsetKhz, kMaxOffsetKhz);
  whole("agc_settle_reads", signal.agc_settle_reads, kMaxReadsPerStage);
  return signal;
}

// Each transponder: "frequency_mhz" (required) and the keys of a signal.
std::vector<Transponder> read_transponders(const json& value) {
  expect_array(value, "transponders");
  std::vector<Transponder> transponders;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::string where = "transponders[" + std::to_string(i) + "]";
    json fields = expect_object(value[i], where);
    if (!fields.contains("frequency_mhz")) throw ScenarioError(where + ": missing 'frequency_mhz'");
    const double mhz =
        read_real(fields["frequency_mhz"], where + ".frequency_mhz", 1.0, kMaxTransponderMhz);
    fields.erase("frequency_mhz");
    transponders.push_back(
        {static_cast<uint32_t>(std::lround(mhz * 1000.0)), read_signal(fields, where)});
  }
  return transponders;
}

std::vector<uint64_t> read_operations(const json& value, const std::string& where) {
  expect_array(value, where);
  std::vector<uint64_t> ops;
  for (std::size_t i = 0; i < value.size(); ++i) {
    ops.push_back(read_number(value[i], where + "[" + std::to_string(i) + "]", 1, kMaxOperation));
  }
  return ops;
}

uint8_t read_optional_address(const json& entry, const std::string& where, uint8_t fallback) {
  return entry.contains("address") ? read_address(entry["address"], where + ".address") : fallback;
}

RandomFaultRates read_random_faults(const json& value, const std::string& where) {
  expect_object(value, where);
  check_keys(value, where,
             {"seed", "fail_per_million", "drop_per_million", "stall_per_million", "stall_ms",
              "stuck_per_million", "stuck_reads"});
  RandomFaultRates rates;
  const auto whole = [&](const char* key, auto& field, uint64_t lo, uint64_t hi) {
    if (value.contains(key)) {
      field = static_cast<std::remove_reference_t<decltype(field)>>(
          read_number(value[key], where + "." + key, lo, hi));
    }
  };
  whole("seed", rates.seed, 0, UINT64_MAX);
  whole("fail_per_million", rates.fail_per_million, 0, kPerMillion);
  whole("drop_per_million", rates.drop_per_million, 0, kPerMillion);
  whole("stall_per_million", rates.stall_per_million, 0, kPerMillion);
  whole("stall_ms", rates.stall_ms, 0, kMaxStallMs);
  whole("stuck_per_million", rates.stuck_per_million, 0, kPerMillion);
  whole("stuck_reads", rates.stuck_reads, 1, kMaxStuckReads);
  if (uint64_t{rates.fail_per_million} + rates.drop_per_million + rates.stall_per_million +
          rates.stuck_per_million >
      kPerMillion) {
    throw ScenarioError(where + ": the rates add up to more than 1000000");
  }
  return rates;
}

Faults read_faults(const json& value, uint8_t demod_address) {
  const std::string where = "faults";
  expect_object(value, where);
  check_keys(value, where, {"fail_ops", "drop_at_ops", "fail_registers", "stuck_low", "random"});
  Faults faults;
  if (value.contains("random"))
    faults.random = read_random_faults(value["random"], where + ".random");
  if (value.contains("fail_ops"))
    faults.fail_ops = read_operations(value["fail_ops"], where + ".fail_ops");
  if (value.contains("drop_at_ops")) {
    faults.drop_at_ops = read_operations(value["drop_at_ops"], where + ".drop_at_ops");
  }
  if (value.contains("fail_registers")) {
    const std::string list = where + ".fail_registers";
    const json& entries = expect_array(value["fail_registers"], list);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string item = list + "[" + std::to_string(i) + "]";
      expect_object(entries[i], item);
      check_keys(entries[i], item, {"address", "register"});
      if (!entries[i].contains("register")) throw ScenarioError(item + ": missing 'register'");
      faults.fail_registers.push_back({read_optional_address(entries[i], item, demod_address),
                                       read_byte(entries[i]["register"], item + ".register")});
    }
  }
  if (value.contains("stuck_low")) {
    const std::string list = where + ".stuck_low";
    const json& entries = expect_array(value["stuck_low"], list);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string item = list + "[" + std::to_string(i) + "]";
      expect_object(entries[i], item);
      check_keys(entries[i], item, {"address", "register", "mask"});
      if (!entries[i].contains("register") || !entries[i].contains("mask")) {
        throw ScenarioError(item + ": needs 'register' and 'mask'");
      }
      faults.stuck_low.push_back({read_optional_address(entries[i], item, demod_address),
                                  read_byte(entries[i]["register"], item + ".register"),
                                  read_byte(entries[i]["mask"], item + ".mask")});
    }
  }
  return faults;
}

std::vector<int> read_channels(const json& value) {
  const std::string where = "channels";
  expect_array(value, where);
  if (value.empty() || value.size() > kMaxChannels) {
    throw ScenarioError(where + ": expected 1 to " + std::to_string(kMaxChannels) + " channels");
  }
  std::vector<int> channels;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto channel = static_cast<int>(
        read_number(value[i], where + "[" + std::to_string(i) + "]", 0, kMaxChannel));
    if (std::find(channels.begin(), channels.end(), channel) != channels.end()) {
      throw ScenarioError(where + ": channel " + std::to_string(channel) + " listed twice");
    }
    channels.push_back(channel);
  }
  return channels;
}

Scenario read_scenario(const json& root) {
  expect_object(root, "top level");
  check_keys(root, "top level",
             {"description", "demod", "signal", "transponders", "tuners", "channels",
              "acquisition_reads_per_stage", "lock_timeline", "faults"});
  if (root.contains("description") && !root["description"].is_string()) {
    throw ScenarioError("description: expected a string");
  }
  Scenario scenario;
  RegisterFile picture{};
  if (root.contains("transponders")) {
    if (root.contains("signal")) {
      throw ScenarioError("top level: 'signal' and 'transponders' exclude each other");
    }
    scenario.transponders = read_transponders(root["transponders"]);
    scenario.signal = nothing_received();  // until a tuner is tuned to one of them
  } else if (root.contains("signal")) {
    scenario.signal = read_signal(root["signal"], "signal");
  }
  if (scenario.signal) apply_signal(*scenario.signal, picture);
  scenario.demod.address = kDefaultDemodAddress;
  scenario.demod.registers = picture;
  set_identity(scenario.demod.registers, kDefaultIdentity);
  if (root.contains("demod")) {
    scenario.demod = read_demod(root["demod"], picture, &scenario.stated_registers);
  }

  if (root.contains("tuners")) {
    const json& tuners = expect_array(root["tuners"], "tuners");
    if (tuners.size() > kMaxTuners) {
      throw ScenarioError("tuners: at most " + std::to_string(kMaxTuners) + " tuners");
    }
    std::set<uint8_t> used = {scenario.demod.address};
    for (std::size_t i = 0; i < tuners.size(); ++i) {
      const std::string where = "tuners[" + std::to_string(i) + "]";
      DeviceConfig tuner = read_tuner(tuners[i], where);
      if (!used.insert(tuner.address).second) {
        throw ScenarioError(where + ".address: address already used on the bus");
      }
      scenario.tuners.push_back(tuner);
    }
  } else {
    scenario.tuners.push_back({kDefaultTunerAddress, true, TunerType::rda5815, {}});
  }

  scenario.channels = {0};
  if (root.contains("channels")) scenario.channels = read_channels(root["channels"]);
  if (root.contains("acquisition_reads_per_stage")) {
    scenario.acquisition_reads_per_stage = static_cast<uint32_t>(read_number(
        root["acquisition_reads_per_stage"], "acquisition_reads_per_stage", 0, kMaxReadsPerStage));
  }
  if (root.contains("lock_timeline")) {
    scenario.lock_timeline = read_lock_timeline(root["lock_timeline"]);
  }
  if (root.contains("faults"))
    scenario.faults = read_faults(root["faults"], scenario.demod.address);
  return scenario;
}

}  // namespace

Scenario default_scenario() {
  Scenario scenario;
  scenario.demod.address = kDefaultDemodAddress;
  scenario.signal = Signal{};
  apply_signal(*scenario.signal, scenario.demod.registers);
  set_identity(scenario.demod.registers, kDefaultIdentity);
  scenario.tuners.push_back({kDefaultTunerAddress, true, TunerType::rda5815, {}});
  scenario.channels = {0};
  return scenario;
}

Result<Scenario> parse_scenario(std::string_view text) {
  std::string message;
  try {
    if (too_deep(text)) {
      message = "nesting deeper than " + std::to_string(kMaxNesting) + " levels";
    } else {
      return read_scenario(parse_json(text));
    }
  } catch (const ScenarioError& e) {
    message = e.what();
  } catch (const json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at line 1, ..." -> "not JSON: parse error ..."
    const std::string what = e.what();
    const auto start = what.find("] ");
    message = "not JSON: " +
              printable(start == std::string::npos ? what : what.substr(start + 2), kMaxErrorText);
  } catch (const std::exception& e) {
    message = printable(e.what(), kMaxErrorText);
  } catch (...) {
    message = "unreadable scenario";
  }
  return Fault{FaultKind::usage, message};
}

}  // namespace demodctl::sim
