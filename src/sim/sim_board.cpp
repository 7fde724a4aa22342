#include "sim/sim_board.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

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

// Reads a whole regular file of at most kMaxScenarioBytes; false and *problem otherwise.
bool read_small_file(const std::string& path, std::string* text, std::string* problem) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    *problem = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {  // a FIFO or device could block or never end
    *problem = "not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(info.st_size) > kMaxScenarioBytes) {
    *problem = "larger than 1 MiB";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *problem = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  text->resize(kMaxScenarioBytes + 1);
  const std::size_t got = std::fread(text->data(), 1, text->size(), file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  text->resize(got);
  if (failed) {
    *problem = "read error";
    return false;
  }
  if (got > kMaxScenarioBytes) {  // grew since stat
    *problem = "larger than 1 MiB";
    return false;
  }
  return true;
}

}  // namespace

SimBoard::SimBoard(std::unique_ptr<State> state) : state_(std::move(state)) {}
SimBoard::~SimBoard() = default;

std::unique_ptr<SimBoard> SimBoard::make_default() {
  return std::unique_ptr<SimBoard>(new SimBoard(std::make_unique<State>(sim::default_scenario())));
}

std::unique_ptr<SimBoard> SimBoard::from_json_text(std::string_view text, std::string* error) {
  std::string problem;
  auto scenario = sim::parse_scenario(text, &problem);
  if (!scenario) {
    if (error != nullptr) *error = "scenario: " + problem;
    return nullptr;
  }
  return std::unique_ptr<SimBoard>(new SimBoard(std::make_unique<State>(*scenario)));
}

std::unique_ptr<SimBoard> SimBoard::from_file(const std::string& path, std::string* error) {
  std::string text;
  std::string problem;
  if (read_small_file(path, &text, &problem)) {
    auto scenario = sim::parse_scenario(text, &problem);
    if (scenario) {
      return std::unique_ptr<SimBoard>(new SimBoard(std::make_unique<State>(*scenario)));
    }
  }
  if (error != nullptr) *error = sim::printable(path, path.size()) + ": " + problem;
  return nullptr;
}

bool SimBoard::transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) {
  State& s = *state_;
  ++s.operations;
  const sim::RandomFault random = s.random_faults.next_operation();  // drawn for every operation
  if (random == sim::RandomFault::drop || contains(s.faults.drop_at_ops, s.operations)) {
    s.drop_pending = true;
    return false;
  }
  if (random == sim::RandomFault::fail || addr7 > kMaxAddress7) return false;
  const auto address8 = static_cast<uint8_t>(addr7 << 1);
  // Routing comes first: a refused transaction to a tuner still uses up the repeater opening.
  SimDevice* device = s.route(address8);
  if (device == nullptr || contains(s.faults.fail_ops, s.operations)) return false;

  // The register ranges this transaction covers: writes from tx[0], reads after them.
  const std::size_t written = tx.empty() ? 0 : tx.size() - 1;
  const uint8_t first = tx.empty() ? device->pointer : tx[0];
  if (s.register_fails(address8, first, written + rx.size())) return false;

  if (!tx.empty()) device->pointer = tx[0];
  for (std::size_t i = 1; i < tx.size(); ++i) s.write(*device, device->pointer++, tx[i]);
  if (tx.size() > 1 && device != &s.demod) s.tuner_written(*device);
  for (auto& byte : rx) byte = s.read(*device, device->pointer++);
  return true;
}

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
