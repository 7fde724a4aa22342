#include "sim/sim_board.h"

#include <algorithm>
#include <string>
#include <utility>

#include "files/safe_open.h"
#include "sim/scenario.h"
#include "sim/scenario_values.h"
#include "sim/sim_state.h"

namespace demodctl {
namespace {

constexpr std::size_t kMaxScenarioBytes = 1024 * 1024;  // larger files are refused unread
constexpr uint8_t kMaxAddress7 = 0x7F;

bool contains(const std::vector<uint64_t>& list, uint64_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

SimBoard::SimBoard(std::unique_ptr<State> state) : state_(std::move(state)) {}
SimBoard::~SimBoard() = default;

std::unique_ptr<SimBoard> SimBoard::make_default() {
  return std::unique_ptr<SimBoard>(new SimBoard(std::make_unique<State>(sim::default_scenario())));
}

Result<std::unique_ptr<SimBoard>> SimBoard::from_json_text(std::string_view text) {
  Result<sim::Scenario> scenario = sim::parse_scenario(text);
  if (!scenario) return Fault{FaultKind::file, "scenario: " + scenario.error().cause};
  return std::unique_ptr<SimBoard>(new SimBoard(std::make_unique<State>(*scenario)));
}

Result<std::unique_ptr<SimBoard>> SimBoard::from_file(const std::string& path) {
  std::string problem;
  if (Result<std::string> text = read_small_file(path, kMaxScenarioBytes); !text) {
    problem = "cannot open scenario: " + text.error().cause;
  } else if (Result<sim::Scenario> scenario = sim::parse_scenario(*text); !scenario) {
    problem = scenario.error().cause;
  } else {
    return std::unique_ptr<SimBoard>(new SimBoard(std::make_unique<State>(*scenario)));
  }
  return Fault{FaultKind::file, sim::printable(path, path.size()) + ": " + problem};
}

// No device at the address (or a tuner behind the closed repeater) does not acknowledge: a NACK.
// The injected faults are transfers the bus could not make: failures, which say nothing about
// the device, and so does a dropped connection.
Result<void> SimBoard::transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) {
  State& s = *state_;
  ++s.operations;
  const sim::RandomFault random = s.random_faults.next_operation();  // drawn for every operation
  if (random == sim::RandomFault::drop || contains(s.faults.drop_at_ops, s.operations)) {
    s.drop_pending = true;
    return i2c_bus_failure(addr7, "connection dropped (simulated)");
  }
  // A random fault is a refused transfer; the address check: not an address this bus can carry.
  if (random == sim::RandomFault::fail)
    return i2c_bus_failure(addr7, "transfer failed (simulated)");
  if (addr7 > kMaxAddress7) return i2c_bus_failure(addr7, "not a 7-bit address");
  const auto address8 = static_cast<uint8_t>(addr7 << 1);
  // Routing comes first: a refused transaction to a tuner still uses up the repeater opening.
  SimDevice* device = s.route(address8);
  if (contains(s.faults.fail_ops, s.operations)) {
    return i2c_bus_failure(addr7,
                           "operation " + std::to_string(s.operations) + " fails (scenario)");
  }
  if (device == nullptr) return i2c_nack(addr7);

  // The register ranges this transaction covers: writes from tx[0], reads after them.
  const std::size_t written = tx.empty() ? 0 : tx.size() - 1;
  const uint8_t first = tx.empty() ? device->pointer : tx[0];
  if (s.register_fails(address8, first, written + rx.size())) {
    return i2c_bus_failure(addr7, "register fails (scenario)");
  }

  if (!tx.empty()) device->pointer = tx[0];
  for (std::size_t i = 1; i < tx.size(); ++i) s.write(*device, device->pointer++, tx[i]);
  if (tx.size() > 1 && device != &s.demod) s.tuner_written(*device);
  for (auto& byte : rx) byte = s.read(*device, device->pointer++);
  return {};
}

void SimBoard::settle() { state_->capture.settle(); }

const std::vector<int>& SimBoard::channels() const { return state_->channels; }

bool SimBoard::take_drop_request() { return std::exchange(state_->drop_pending, false); }

uint8_t SimBoard::demod_reg(uint8_t reg) const { return state_->demod.config.registers[reg]; }

uint8_t SimBoard::tuner_reg(uint8_t address, uint8_t reg) const {
  for (const auto& tuner : state_->tuners) {
    if (tuner.config.address == address) return tuner.config.registers[reg];
  }
  return 0;
}

}  // namespace demodctl
